// The share page: receives a shared shelf from the desktop over a WebRTC data channel and speaks
// the transfer protocol with it: "ready", the listing, downloads of one item or of everything (one
// ZIP), and uploads. Downloads stream to disk through a service worker where the page runs in a
// secure context, and are otherwise collected in memory and saved at the end.

import { RoomConnection, counters, roomSocketURL } from './connection.js';

const memoryWarningBytes = 500 * 1024 * 1024;
const largestUpload = 4294967296;
const bufferHigh = 1024 * 1024;
// How often, and how long apart, "ready" is said until the listing arrives.
const readyTries = 5;
const readyRetryMilliseconds = 2000;
const bufferLow = 256 * 1024;
const frameLimit = 65536;

const text = {
  connecting: '공유에 연결하는 중이에요…',
  waitingHost: '공유한 컴퓨터를 기다리는 중이에요. 컴퓨터에서 공유가 켜져 있는지 확인해 주세요.',
  negotiating: '컴퓨터와 직접 연결하는 중이에요…',
  connected: '연결됐어요. 받을 항목을 고르거나 파일을 올려 보세요.',
  hostAway: '컴퓨터와의 연결이 잠시 끊겼어요. 다시 연결되기를 기다리는 중이에요.',
  hostEnded: '컴퓨터에서 공유를 멈췄어요.',
  bye: '컴퓨터에서 공유를 멈췄어요. 연결을 닫았어요.',
  failed: '컴퓨터와 연결하지 못했어요. 휴대폰이 컴퓨터와 같은 네트워크(Wi-Fi)에 연결되어 있는지 확인하고 다시 시도해 주세요.',
  lost: '연결이 끊겼어요. 다시 시도해 주세요.',
  badAddress: '공유 주소가 올바르지 않아요. 컴퓨터에 표시된 주소나 QR 코드를 다시 열어 주세요.',
  full: '이 공유에 연결한 기기가 너무 많아요. 잠시 뒤에 다시 시도해 주세요.',
  forbidden: '이 페이지에서는 공유에 연결할 수 없어요.',
  tooLarge: '4GB보다 큰 파일은 올릴 수 없어요.',
  folderDrop: '폴더는 올릴 수 없어요. 폴더 안의 파일을 골라 올려 주세요.',
  stopped: '연결이 끊겨 멈췄어요.',
  readFailed: '파일을 읽지 못했어요.',
  memoryNote: '이 브라우저에서는 받은 파일을 메모리에 모았다가 마지막에 저장해요. 아주 큰 파일은 https 주소로 받는 것이 좋아요.',
};

const $ = (id) => document.getElementById(id);
const ui = {
  title: $('title'), status: $('status'), retry: $('retry'), notice: $('notice'),
  items: $('items'), empty: $('empty'), transfers: $('transfers'),
  downloadAll: $('download-all'), uploadButton: $('upload-button'), uploadInput: $('upload-input'),
  dropZone: $('drop-zone'), memoryNote: $('memory-note'),
  confirm: $('confirm'), confirmText: $('confirm-text'), confirmYes: $('confirm-yes'),
  confirmNo: $('confirm-no'),
};

const page = {
  state: 'connecting',
  connection: null,
  channel: null,
  nextTid: 1,
  downloads: new Map(),
  uploads: [],
  uploading: null,
  items: [],
  worker: null,
  lowWaiters: [],
};

// What tests read; no payload or key is in here.
window.vyoSharePage = {
  counters,
  state: () => page.state,
  streaming: () => Boolean(page.worker),
  signing: () => (page.connection && page.connection.signer ? page.connection.signer.kind : ''),
  items: () => page.items.map((item) => ({ ...item, thumb: item.thumb ? 'yes' : '' })),
};

// ---- status ----------------------------------------------------------------------------------

function setStatus(state, message, { retry = false } = {}) {
  page.state = state;
  ui.status.textContent = message;
  ui.status.dataset.state = state;
  ui.retry.hidden = !retry;
  const open = state === 'connected';
  ui.downloadAll.disabled = !open || !page.items.some((item) => item.kind === 'file');
  ui.uploadButton.disabled = !open;
  ui.uploadInput.disabled = !open;
  for (const button of ui.items.querySelectorAll('button[data-test="download"]'))
    button.disabled = !open;
}

function showNotice(message) {
  ui.notice.textContent = message;
  ui.notice.hidden = !message;
}

function formatSize(bytes) {
  if (!Number.isFinite(bytes)) return '';
  if (bytes < 1000) return `${bytes}바이트`;
  const units = ['KB', 'MB', 'GB', 'TB'];
  let value = bytes / 1000;
  let unit = 0;
  while (value >= 1000 && unit < units.length - 1) {
    value /= 1000;
    ++unit;
  }
  return `${value.toFixed(value < 10 ? 1 : 0)} ${units[unit]}`;
}

function askToContinue(message) {
  ui.confirmText.textContent = message;
  ui.confirm.hidden = false;
  ui.confirmYes.focus();
  return new Promise((resolve) => {
    const answer = (yes) => () => {
      ui.confirm.hidden = true;
      ui.confirmYes.onclick = ui.confirmNo.onclick = null;
      resolve(yes);
    };
    ui.confirmYes.onclick = answer(true);
    ui.confirmNo.onclick = answer(false);
  });
}

// ---- the listing -----------------------------------------------------------------------------

// Words rather than pictures: phones without a colour-emoji font show them all the same.
const icons = { folder: '폴더', file: '파일', link: '링크', text: '글' };

function renderListing(title, items) {
  page.listed = true;
  page.items = items;
  ui.title.textContent = title || 'Vyo 셸프 공유';
  document.title = `${title || '셸프'} · Vyo 셸프 공유`;
  ui.items.replaceChildren(...items.map(renderItem));
  ui.empty.hidden = items.length > 0;
  setStatus(page.state, ui.status.textContent, { retry: !ui.retry.hidden });
}

function renderItem(item) {
  const row = document.createElement('li');
  row.className = 'item';
  row.dataset.test = 'item';
  row.dataset.id = item.id;
  row.dataset.kind = item.kind;

  if (item.kind === 'file' && item.thumb) {
    const image = document.createElement('img');
    image.className = 'thumb';
    image.alt = '';
    image.src = item.thumb;
    image.dataset.test = 'thumb';
    row.append(image);
  } else {
    const icon = document.createElement('span');
    icon.className = 'thumb icon';
    icon.setAttribute('aria-hidden', 'true');
    icon.textContent = icons[item.kind === 'file' && item.isFolder ? 'folder' : item.kind] || '파일';
    row.append(icon);
  }

  const body = document.createElement('div');
  body.className = 'body';
  const name = document.createElement('div');
  name.className = 'name';
  name.dataset.test = 'item-name';
  name.textContent = item.name;
  const detail = document.createElement('div');
  detail.className = 'detail';
  detail.dataset.test = 'item-detail';
  if (item.kind === 'file') {
    const size = Number.isFinite(item.size) ? formatSize(item.size) : '';
    detail.textContent = item.isFolder ? `폴더 · ZIP으로 받아요${size ? ` · ${size}` : ''}` : size;
  } else if (item.kind === 'link') {
    const link = document.createElement('a');
    link.href = /^https?:/i.test(item.url) ? item.url : '#';
    link.textContent = item.url;
    link.target = '_blank';
    link.rel = 'noopener noreferrer';
    detail.append(link);
  } else if (item.kind === 'text') {
    detail.textContent = item.text;
    detail.classList.add('text');
  }
  body.append(name, detail);
  row.append(body);

  if (item.kind === 'file') {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'action';
    button.dataset.test = 'download';
    button.dataset.id = item.id;
    button.textContent = '받기';
    button.addEventListener('click', () => requestDownload(item));
    row.append(button);
  } else if (item.kind === 'text' || item.kind === 'link') {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'action quiet';
    button.dataset.test = 'copy';
    button.textContent = '복사';
    button.addEventListener('click', () => copyText(item.kind === 'text' ? item.text : item.url, button));
    row.append(button);
  }
  return row;
}

async function copyText(value, button) {
  try {
    await navigator.clipboard.writeText(value);
  } catch {
    // No clipboard access outside secure contexts: copy through a selection.
    const area = document.createElement('textarea');
    area.value = value;
    document.body.append(area);
    area.select();
    document.execCommand('copy');
    area.remove();
  }
  button.textContent = '복사됨';
  setTimeout(() => { button.textContent = '복사'; }, 1500);
}

// ---- transfer rows ---------------------------------------------------------------------------

function transferRow(label, direction) {
  const row = document.createElement('li');
  row.className = 'transfer';
  row.dataset.test = 'transfer';
  row.dataset.direction = direction;
  row.dataset.state = 'waiting';
  const name = document.createElement('div');
  name.className = 'name';
  name.dataset.test = 'transfer-name';
  name.textContent = label;
  const bar = document.createElement('progress');
  bar.max = 1;
  bar.value = 0;
  const detail = document.createElement('div');
  detail.className = 'detail';
  detail.dataset.test = 'transfer-detail';
  detail.textContent = direction === 'download' ? '받을 준비 중…' : '올릴 준비 중…';
  const cancel = document.createElement('button');
  cancel.type = 'button';
  cancel.className = 'action quiet';
  cancel.dataset.test = 'cancel';
  cancel.textContent = '취소';
  row.append(name, bar, detail, cancel);
  ui.transfers.prepend(row);
  ui.transfers.hidden = false;
  return {
    row, cancel,
    progress(done, total) {
      row.dataset.state = 'running';
      bar.value = total > 0 ? done / total : 0;
      detail.textContent = `${formatSize(done)} / ${formatSize(total)}`;
    },
    rename(value) { name.textContent = value; },
    end(state, message) {
      row.dataset.state = state;
      if (state === 'done') bar.value = 1;
      detail.textContent = message;
      cancel.hidden = true;
    },
  };
}

// ---- downloads -------------------------------------------------------------------------------

function newTid() {
  const tid = page.nextTid;
  page.nextTid = (page.nextTid % 0xffffffff) + 1;
  return tid;
}

function send(message) {
  if (page.channel && page.channel.readyState === 'open') page.channel.send(JSON.stringify(message));
}

function sizeOfEverything() {
  return page.items.filter((item) => item.kind === 'file')
    .reduce((sum, item) => sum + (Number.isFinite(item.size) ? item.size : 0), 0);
}

function memoryWarning(size) {
  return `이 브라우저에서는 받은 파일을 메모리에 모았다가 한 번에 저장해요. ${formatSize(size)}나 되는 `
    + '파일은 메모리가 모자라 실패할 수 있어요. 그래도 받을까요?';
}

async function requestDownload(item) {
  const everything = !item;
  const expected = everything ? sizeOfEverything() : item.size;
  const confirmed = !page.worker && expected > memoryWarningBytes;
  if (confirmed && !(await askToContinue(memoryWarning(expected)))) return;
  const tid = newTid();
  const download = new Download(tid, everything ? '모든 항목 (ZIP)' : item.name, confirmed);
  page.downloads.set(tid, download);
  send(everything ? { t: 'get-all', tid } : { id: item.id, t: 'get', tid });
}

class Download {
  constructor(tid, label, confirmed) {
    this.tid = tid;
    this.confirmed = confirmed;
    this.view = transferRow(label, 'download');
    this.view.row.dataset.tid = String(tid);
    this.view.cancel.addEventListener('click', () => this.cancel());
    this.received = 0;
    this.size = 0;
    this.finished = false;
    // Pieces that arrive before the way to save them is ready.
    this.waiting = [];
    this.parts = null;
    this.port = null;
    this.sinkReady = false;
  }

  async begin(name, size, mime) {
    this.name = name || 'download';
    this.size = size;
    this.mime = mime || 'application/octet-stream';
    this.view.rename(this.name);
    this.view.progress(0, size);
    if (!page.worker && size > memoryWarningBytes && !this.confirmed) {
      if (!(await askToContinue(memoryWarning(size)))) {
        this.cancel();
        return;
      }
    }
    if (this.finished) return;
    if (page.worker) this.openStream();
    else this.useMemory();
  }

  openStream() {
    const channel = new MessageChannel();
    this.port = channel.port1;
    const id = crypto.getRandomValues(new Uint32Array(4)).join('-').replace(/[^0-9-]/g, '');
    const timer = setTimeout(() => {
      if (!this.sinkReady) this.useMemory();
    }, 10000);
    this.port.onmessage = ({ data }) => {
      if (data.type === 'registered') {
        const frame = document.createElement('iframe');
        frame.hidden = true;
        frame.src = `/web/dl/${id}/${encodeURIComponent(this.name)}`;
        document.body.append(frame);
        this.frame = frame;
      } else if (data.type === 'started' && !this.sinkReady && !this.parts) {
        clearTimeout(timer);
        this.sinkReady = true;
        for (const piece of this.waiting.splice(0)) this.post(piece);
        if (this.finished && this.succeeded) this.closeStream();
      } else if (data.type === 'cancelled') {
        this.cancel();
      }
    };
    page.worker.postMessage({ id, name: this.name, size: this.size, type: 'download' },
      [channel.port2]);
  }

  useMemory() {
    if (this.port) this.port.postMessage({ type: 'abort' });
    this.port = null;
    this.parts = this.waiting.splice(0);
    if (this.finished && this.succeeded) this.saveFromMemory();
  }

  post(piece) {
    const copy = piece.slice();
    this.port.postMessage({ chunk: copy.buffer, type: 'chunk' }, [copy.buffer]);
  }

  write(piece) {
    if (this.finished) return;
    this.received += piece.byteLength;
    if (this.parts) this.parts.push(piece);
    else if (this.sinkReady) this.post(piece);
    else this.waiting.push(piece);
    this.view.progress(this.received, this.size);
  }

  end() {
    if (this.finished) return;
    this.finished = true;
    page.downloads.delete(this.tid);
    if (this.received !== this.size) {
      this.fail(text.readFailed);
      return;
    }
    this.succeeded = true;
    this.view.end('done', `받았어요 · ${formatSize(this.size)}`);
    if (this.parts) this.saveFromMemory();
    else if (this.sinkReady) this.closeStream();
  }

  closeStream() {
    this.port.postMessage({ type: 'end' });
    setTimeout(() => this.frame && this.frame.remove(), 60000);
  }

  saveFromMemory() {
    const blob = new Blob(this.parts, { type: this.mime });
    this.parts = [];
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = this.name;
    link.rel = 'noopener';
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  fail(message) {
    this.finished = true;
    page.downloads.delete(this.tid);
    if (this.port) this.port.postMessage({ type: 'abort' });
    this.parts = null;
    this.waiting = [];
    this.view.end('error', message);
  }

  cancel() {
    if (this.finished) return;
    send({ t: 'cancel', tid: this.tid });
    this.fail('취소했어요.');
    this.view.row.dataset.state = 'cancelled';
  }
}

// ---- uploads ---------------------------------------------------------------------------------

function addUploads(files) {
  for (const file of files) {
    const upload = { file, view: transferRow(file.name, 'upload'), tid: 0, cancelled: false };
    upload.view.cancel.addEventListener('click', () => {
      upload.cancelled = true;
      if (upload.tid) send({ t: 'cancel', tid: upload.tid });
      upload.view.end('cancelled', '취소했어요.');
      if (upload.settle) upload.settle({ cancelled: true });
    });
    page.uploads.push(upload);
  }
  if (!page.uploading) runUploads();
}

function waitForLowBuffer() {
  return new Promise((resolve) => page.lowWaiters.push(resolve));
}

function wakeLowWaiters() {
  for (const resolve of page.lowWaiters.splice(0)) resolve();
}

async function runUploads() {
  while (page.uploads.length) {
    const upload = page.uploads.shift();
    page.uploading = upload;
    if (!upload.cancelled) await sendUpload(upload);
  }
  page.uploading = null;
}

async function sendUpload(upload) {
  const { file, view } = upload;
  // The desktop refuses these too; nothing is sent.
  if (file.size > largestUpload) {
    view.end('error', text.tooLarge);
    return;
  }
  const channel = page.channel;
  if (!channel || channel.readyState !== 'open') {
    view.end('error', text.stopped);
    return;
  }
  upload.tid = newTid();
  view.row.dataset.tid = String(upload.tid);
  const result = new Promise((resolve) => { upload.settle = resolve; });
  send({ name: file.name, size: file.size, t: 'put', tid: upload.tid });
  const limit = Math.min(frameLimit, page.connection.maxMessageSize() || frameLimit);
  const pieceSize = Math.max(limit - 4, 1024);
  const readSize = pieceSize * 16;
  let sent = 0;
  view.progress(0, file.size);
  try {
    while (sent < file.size) {
      const block = new Uint8Array(await file.slice(sent, sent + readSize).arrayBuffer());
      if (block.byteLength === 0) throw new Error('short read');
      for (let offset = 0; offset < block.byteLength; offset += pieceSize) {
        if (upload.cancelled || upload.failed) return;
        if (channel.readyState !== 'open') throw new Error('closed');
        // Wait for the channel to drain, then send this same piece.
        while (channel.bufferedAmount >= bufferHigh) {
          await waitForLowBuffer();
          if (upload.cancelled || upload.failed) return;
          if (channel.readyState !== 'open') throw new Error('closed');
        }
        const piece = block.subarray(offset, offset + pieceSize);
        const frame = new Uint8Array(4 + piece.byteLength);
        new DataView(frame.buffer).setUint32(0, upload.tid);
        frame.set(piece, 4);
        channel.send(frame);
        sent += piece.byteLength;
        view.progress(sent, file.size);
      }
    }
  } catch {
    if (!upload.cancelled && !upload.failed) {
      send({ t: 'cancel', tid: upload.tid });
      view.end('error', channel.readyState === 'open' ? text.readFailed : text.stopped);
    }
    return;
  }
  if (upload.cancelled || upload.failed) return;
  send({ t: 'end', tid: upload.tid });
  view.end('running', '컴퓨터에 저장하는 중…');
  view.row.dataset.state = 'saving';
  const outcome = await result;
  if (outcome.stored) view.end('done', `올렸어요 · ${formatSize(file.size)}`);
  else if (outcome.error) view.end('error', outcome.error);
}

function uploadWithTid(tid) {
  const upload = page.uploading;
  return upload && upload.tid === tid ? upload : null;
}

// ---- the data channel ------------------------------------------------------------------------

function handleMessage(message) {
  const download = page.downloads.get(message.tid);
  const upload = uploadWithTid(message.tid);
  switch (message.t) {
  case 'list':
    renderListing(typeof message.title === 'string' ? message.title : '',
      Array.isArray(message.items) ? message.items : []);
    break;
  case 'file':
    if (download) download.begin(message.name, Number(message.size), message.mime);
    break;
  case 'end':
    if (download) download.end();
    break;
  case 'stored':
    if (upload && upload.settle) upload.settle({ stored: true });
    break;
  case 'error': {
    const message_ = typeof message.message === 'string' ? message.message : '';
    if (download) download.fail(message_);
    else if (upload) {
      upload.failed = true;
      upload.view.end('error', message_);
      if (upload.settle) upload.settle({ error: message_ });
    } else showNotice(message_);
    break;
  }
  case 'bye':
    endEverything(text.stopped);
    setStatus('bye', text.bye, { retry: true });
    page.connection.close();
    break;
  default:
    break;
  }
}

function attachChannel(channel) {
  page.channel = channel;
  channel.bufferedAmountLowThreshold = bufferLow;
  channel.addEventListener('bufferedamountlow', wakeLowWaiters);
  // An upload waiting for the buffer to drain learns that the channel is gone.
  channel.addEventListener('close', wakeLowWaiters);
  channel.addEventListener('message', (event) => {
    if (typeof event.data === 'string') {
      let message;
      try {
        message = JSON.parse(event.data);
      } catch {
        return;
      }
      if (message && typeof message === 'object') handleMessage(message);
      return;
    }
    const data = event.data;
    if (!(data instanceof ArrayBuffer) || data.byteLength < 4) return;
    const tid = new DataView(data).getUint32(0);
    const download = page.downloads.get(tid);
    if (download) download.write(new Uint8Array(data, 4));
  });
  channel.addEventListener('close', () => {
    if (page.channel !== channel) return;
    page.channel = null;
    wakeLowWaiters();
    endEverything(text.stopped);
    if (page.state === 'connected') setStatus('failed', text.lost, { retry: true });
  });
  const ready = { device: navigator.userAgent, t: 'ready' };
  const size = page.connection.maxMessageSize();
  if (size) ready.maxMessageSize = size;
  // The desktop answers "ready" with the listing. Its WebRTC can miss a message that arrives in
  // the very moment its side of the channel opens: say "ready" again until the listing comes.
  page.listed = false;
  let tries = 0;
  const sayReady = () => {
    if (page.channel !== channel || channel.readyState !== 'open' || page.listed) return;
    channel.send(JSON.stringify(ready));
    if (++tries < readyTries) setTimeout(sayReady, readyRetryMilliseconds);
  };
  sayReady();
  setStatus('connected', text.connected);
}

// Every running transfer stops when the connection goes.
function endEverything(message) {
  for (const download of [...page.downloads.values()]) download.fail(message);
  const pending = page.uploading ? [page.uploading, ...page.uploads] : page.uploads;
  for (const upload of pending) {
    if (upload.cancelled || upload.failed) continue;
    upload.failed = true;
    upload.view.end('error', message);
    if (upload.settle) upload.settle({});
  }
  page.uploads = [];
  wakeLowWaiters();
}

// ---- connecting --------------------------------------------------------------------------------

function onConnectionEvent(name, detail) {
  switch (name) {
  case 'joined':
    if (detail.host) setStatus('negotiating', text.negotiating);
    else setStatus('waiting-host', text.waitingHost);
    break;
  case 'host-joined':
    if (!page.channel) setStatus('negotiating', text.negotiating);
    break;
  case 'host-left':
    if (detail.ended) {
      if (page.state !== 'bye') setStatus('host-left', text.hostEnded, { retry: true });
    } else if (!page.channel) {
      setStatus('host-left', text.hostAway, { retry: true });
    }
    break;
  case 'negotiating':
    if (page.state !== 'connected') setStatus('negotiating', text.negotiating);
    break;
  case 'channel':
    attachChannel(detail);
    break;
  case 'failed':
    endEverything(text.stopped);
    setStatus('failed', text.failed, { retry: true });
    break;
  case 'refused':
    endEverything(text.stopped);
    if (detail.code === 4503) setStatus('failed', text.full, { retry: true });
    else if (detail.code === 4404) setStatus('bad-address', text.badAddress);
    else if (detail.code === 4403) setStatus('failed', text.forbidden, { retry: true });
    else setStatus('failed', text.failed, { retry: true });
    break;
  default:
    break;
  }
}

function connect() {
  const room = (location.pathname.match(/^\/s\/([A-Za-z0-9_-]{22})\/?$/) || [])[1];
  const key = location.hash.slice(1);
  if (!room || !/^[A-Za-z0-9_-]{43}$/.test(key)) {
    setStatus('bad-address', text.badAddress);
    return;
  }
  setStatus('connecting', text.connecting);
  const connection = new RoomConnection({
    socketURL: roomSocketURL(location, room),
    key,
    onEvent: (name, detail) => {
      if (page.connection === connection) onConnectionEvent(name, detail);
    },
  });
  page.connection = connection;
  connection.open().catch(() => {
    if (page.connection === connection) setStatus('failed', text.failed, { retry: true });
  });
}

function retry() {
  showNotice('');
  endEverything(text.stopped);
  if (page.connection) page.connection.close();
  page.connection = null;
  page.channel = null;
  connect();
}

async function startStreaming() {
  if (!window.isSecureContext || !('serviceWorker' in navigator)) {
    ui.memoryNote.textContent = text.memoryNote;
    ui.memoryNote.hidden = false;
    return;
  }
  try {
    const registration = await navigator.serviceWorker.register('/web/share-sw.js',
      { scope: '/web/dl/' });
    const worker = registration.active || registration.waiting || registration.installing;
    if (!worker) return;
    if (worker.state !== 'activated') {
      await new Promise((resolve, reject) => {
        const timer = setTimeout(() => reject(new Error('service worker')), 10000);
        worker.addEventListener('statechange', () => {
          if (worker.state === 'activated') {
            clearTimeout(timer);
            resolve();
          } else if (worker.state === 'redundant') {
            clearTimeout(timer);
            reject(new Error('service worker'));
          }
        });
      });
    }
    page.worker = worker;
    // A worker that streams a download must not be stopped for being idle.
    setInterval(() => {
      if (page.downloads.size) worker.postMessage({ type: 'keep-alive' });
    }, 20000);
  } catch {
    ui.memoryNote.textContent = text.memoryNote;
    ui.memoryNote.hidden = false;
  }
}

function dropped(event) {
  event.preventDefault();
  ui.dropZone.classList.remove('over');
  if (page.state !== 'connected') return;
  const files = [];
  let folders = false;
  const entries = [...(event.dataTransfer.items || [])];
  for (const [index, file] of [...event.dataTransfer.files].entries()) {
    const entry = entries[index] && entries[index].webkitGetAsEntry
      ? entries[index].webkitGetAsEntry() : null;
    if (entry && entry.isDirectory) folders = true;
    else files.push(file);
  }
  if (folders) showNotice(text.folderDrop);
  if (files.length) addUploads(files);
}

ui.retry.addEventListener('click', retry);
ui.downloadAll.addEventListener('click', () => requestDownload(null));
ui.uploadButton.addEventListener('click', () => ui.uploadInput.click());
ui.uploadInput.addEventListener('change', () => {
  const files = [...ui.uploadInput.files];
  ui.uploadInput.value = '';
  if (files.length) addUploads(files);
});
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  if (page.state === 'connected') ui.dropZone.classList.add('over');
});
document.addEventListener('dragleave', (event) => {
  if (!event.relatedTarget) ui.dropZone.classList.remove('over');
});
document.addEventListener('drop', dropped);

await startStreaming();
connect();
