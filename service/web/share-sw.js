// Streams a download from the share page straight to the browser's download manager, so that a
// large file never has to fit in memory. The page announces a download with a message port,
// navigates a hidden frame to /web/dl/<id>/<name>, and sends the file's pieces through the port;
// this worker answers that navigation with a stream of those pieces. Nothing leaves the browser.

const downloads = new Map();

self.addEventListener('install', () => self.skipWaiting());
self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('message', (event) => {
  const message = event.data || {};
  if (message.type !== 'download' || !event.ports[0]) return;
  const port = event.ports[0];
  let controller;
  const stream = new ReadableStream({
    start(c) { controller = c; },
    // The user cancelled the download in the browser.
    cancel() { port.postMessage({ type: 'cancelled' }); },
  });
  port.onmessage = ({ data }) => {
    if (data.type === 'chunk') controller.enqueue(new Uint8Array(data.chunk));
    else if (data.type === 'end') controller.close();
    else if (data.type === 'abort') controller.error(new Error('download stopped'));
  };
  downloads.set(message.id, { stream, port, name: message.name, size: message.size });
  port.postMessage({ type: 'registered' });
});

self.addEventListener('fetch', (event) => {
  const match = new URL(event.request.url).pathname.match(/^\/web\/dl\/([A-Za-z0-9_-]+)\//);
  const entry = match && downloads.get(match[1]);
  if (!entry) return;
  downloads.delete(match[1]);
  const headers = new Headers({
    'Content-Type': 'application/octet-stream',
    'Content-Disposition': `attachment; filename*=UTF-8''${encodeURIComponent(entry.name)}`,
    'X-Content-Type-Options': 'nosniff',
  });
  if (Number.isFinite(entry.size)) headers.set('Content-Length', String(entry.size));
  event.respondWith(new Response(entry.stream, { headers }));
  entry.port.postMessage({ type: 'started' });
});
