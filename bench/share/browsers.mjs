// Chromium to Chromium: two pages of one headless Chromium (launched as the share-page driver
// launches it) joined by an RTCPeerConnection over loopback, the offer and answer carried
// between them by this script. The first page sends MIB MiB on an ordered data channel with the
// share page's flow control (65536-byte messages, sending while less than 1 MiB is buffered,
// resumed by "bufferedamountlow" at 256 KiB); the second counts what arrives. Prints one line:
// "browsers <bytes> <seconds> <MB/s>". The pages gather host candidates only (no ICE servers),
// so the packets never leave this machine. Every wait is bounded; the run ends after --timeout.
//
//   node bench/share/browsers.mjs [MIB] [--timeout=SECONDS]   (defaults 256 and 120)

import { launchBrowser } from '../../tests/web/sharepage.mjs';

const mebibytes = Number(process.argv.slice(2).find((a) => /^\d+$/.test(a)) ?? 256);
const timeoutArgument = process.argv.find((a) => a.startsWith('--timeout='));
const timeoutSeconds = timeoutArgument ? Number(timeoutArgument.split('=')[1]) : 120;
const total = mebibytes * 1024 * 1024;

let browser = null;
const limit = setTimeout(async () => {
  console.error('browsers.mjs: out of time');
  try {
    if (browser) await browser.close();
  } finally {
    process.exit(4);
  }
}, timeoutSeconds * 1000);

// Waits (at most 10 s) until the peer connection has gathered every candidate, so that one
// exchange of descriptions suffices; resolves with the local description.
function gathered(pc) {
  return new Promise((resolve, reject) => {
    const done = () => {
      if (pc.iceGatheringState !== 'complete') return;
      clearTimeout(timer);
      resolve({ sdp: pc.localDescription.sdp, type: pc.localDescription.type });
    };
    const timer = setTimeout(() => reject(new Error('no candidates within 10 s')), 10000);
    pc.addEventListener('icegatheringstatechange', done);
    done();
  });
}

// The sending page: its peer connection and channel, and the offer.
async function offer() {
  const pc = new RTCPeerConnection();
  window.benchPeer = pc;
  window.benchChannel = pc.createDataChannel('bench', { ordered: true });
  await pc.setLocalDescription(await pc.createOffer());
  return window.benchGathered(pc);
}

// The receiving page: its peer connection, which takes the channel the offer announced.
async function answer(description) {
  const pc = new RTCPeerConnection();
  window.benchPeer = pc;
  pc.addEventListener('datachannel', (event) => { window.benchChannel = event.channel; });
  await pc.setRemoteDescription(description);
  await pc.setLocalDescription(await pc.createAnswer());
  return window.benchGathered(pc);
}

// Waits until the page's channel exists and is open.
function channelOpen() {
  return new Promise((resolve, reject) => {
    const started = Date.now();
    const check = () => {
      const channel = window.benchChannel;
      if (channel && channel.readyState === 'open') resolve(true);
      else if (Date.now() - started > 15000) reject(new Error('the channel did not open'));
      else setTimeout(check, 20);
    };
    check();
  });
}

// The receiving page counts bytes and resolves once `expected` have arrived.
function receive(expected) {
  const channel = window.benchChannel;
  channel.binaryType = 'arraybuffer';
  window.benchReceived = new Promise((resolve) => {
    let received = 0;
    channel.addEventListener('message', (event) => {
      received += event.data.byteLength;
      if (received >= expected) resolve(received);
    });
  });
  return true;
}

// The sending page: the share page's upload loop without the file reads and frame headers.
async function send(total_) {
  const high = 1024 * 1024;
  const low = 256 * 1024;
  const size = 65536;
  const channel = window.benchChannel;
  channel.bufferedAmountLowThreshold = low;
  const waiters = [];
  channel.addEventListener('bufferedamountlow', () => {
    for (const resolve of waiters.splice(0)) resolve();
  });
  const message = new Uint8Array(size);
  for (let i = 0; i < size; ++i) message[i] = (i * 13) & 0xff;
  let sent = 0;
  while (sent < total_) {
    while (channel.bufferedAmount >= high) {
      await new Promise((resolve) => { waiters.push(resolve); });
    }
    const piece = Math.min(size, total_ - sent);
    channel.send(piece === size ? message : message.subarray(0, piece));
    sent += piece;
  }
  return sent;
}

try {
  browser = await launchBrowser();
  const sender = await browser.context.newPage();
  const receiver = await browser.context.newPage();
  for (const page of [sender, receiver]) await page.evaluate(`window.benchGathered = ${gathered}`);
  const offered = await sender.evaluate(offer);
  const answered = await receiver.evaluate(answer, offered);
  await sender.evaluate((description) => window.benchPeer.setRemoteDescription(description),
    answered);
  await sender.evaluate(channelOpen);
  await receiver.evaluate(channelOpen);
  await receiver.evaluate(receive, total);

  const started = process.hrtime.bigint();
  const sending = sender.evaluate(send, total);
  const received = await receiver.evaluate(() => window.benchReceived);
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  await sending;
  if (received !== total) throw new Error(`received ${received} of ${total} bytes`);
  const rate = received / seconds / 1e6;
  console.log(`browsers ${received} ${seconds.toFixed(3)} ${rate.toFixed(1)}`);
  clearTimeout(limit);
  await browser.close();
  process.exit(0);
} catch (error) {
  console.error(`browsers.mjs: ${(error && error.message) || error}`);
  clearTimeout(limit);
  if (browser) await browser.close();
  process.exit(1);
}
