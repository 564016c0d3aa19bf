// The share-page driver as a child process: one JSON command per line on standard input, one
// answer per line on standard output, "VYO-DRIVER " followed by {"id":…,"ok":true,"result":…}
// or {"id":…,"ok":false,"error":…}. A command names a method of SharePage (sharepage.mjs) or
// "open", "closePage" and "quit"; it acts on the page opened last unless it names
// one ("page": the number "open" answered). The whole run is bounded by --timeout=<seconds>
// (default 240); --no-service-workers makes downloads go through memory. The browser and its
// profile go away when input ends.

import readline from 'node:readline';
import { SharePage, launchBrowser } from './sharepage.mjs';

const timeoutArgument = process.argv.find((argument) => argument.startsWith('--timeout='));
const timeoutSeconds = timeoutArgument ? Number(timeoutArgument.split('=')[1]) : 240;
const serviceWorkers = process.argv.includes('--no-service-workers') ? 'block' : 'allow';

let browser = null;
const pages = [];
let finished = false;

async function finish(code) {
  if (finished) return;
  finished = true;
  try {
    if (browser) await browser.close();
  } catch { /* the browser is gone already */ }
  process.exit(code);
}

const limit = setTimeout(() => {
  console.log('VYO-DRIVER {"id":0,"ok":false,"error":"the driver ran out of time"}');
  finish(4);
}, timeoutSeconds * 1000);
limit.unref();

const methods = {
  async open({ url, timeout, relayOnly }) {
    if (!browser) browser = await launchBrowser({ serviceWorkers });
    pages.push(await SharePage.open(browser.context, url, { timeout, relayOnly }));
    return pages.length - 1;
  },
  async closePage(_, page) {
    await page.close();
    return true;
  },
};

// The page's own commands: SharePage's methods.
const pageCommands = Object.getOwnPropertyNames(SharePage.prototype)
  .filter((name) => !['constructor', 'close'].includes(name));

async function run(command) {
  const page = pages[command.page ?? pages.length - 1];
  if (methods[command.cmd]) return methods[command.cmd](command, page);
  if (!pageCommands.includes(command.cmd)) throw new Error(`unknown command ${command.cmd}`);
  if (!page) throw new Error('no page is open');
  return page[command.cmd](command);
}

// Commands run one after another, in order.
let queue = Promise.resolve();
const input = readline.createInterface({ input: process.stdin });
input.on('line', (line) => {
  if (!line.trim()) return;
  queue = queue.then(async () => {
    let command = {};
    try {
      command = JSON.parse(line);
      if (command.cmd === 'quit') {
        console.log(`VYO-DRIVER ${JSON.stringify({ id: command.id, ok: true, result: true })}`);
        await finish(0);
        return;
      }
      const result = await run(command);
      console.log(`VYO-DRIVER ${JSON.stringify({ id: command.id, ok: true, result: result ?? null })}`);
    } catch (error) {
      console.log(`VYO-DRIVER ${JSON.stringify({ id: command.id, ok: false,
        error: String((error && error.message) || error) })}`);
    }
  });
});
input.on('close', () => { queue.then(() => finish(0)); });
