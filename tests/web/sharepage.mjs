// Drives the share page in Debian's headless Chromium through playwright-core: opens a share
// address, reads the page's status and listing, clicks download and upload and saves what the
// browser downloads. Every wait is bounded. Used through driver.mjs by the tests and the sharing
// benchmark.

import { chromium } from 'playwright-core';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const chromiumPath = '/usr/bin/chromium';
export const chromiumFlags = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--allow-loopback-in-peer-connection',
];

// A browser with a fresh profile folder, removed again by `close`. `serviceWorkers: 'block'`
// makes the page collect downloads in memory, as it does on plain-http LAN addresses.
export async function launchBrowser({ timeout = 30000, serviceWorkers = 'allow' } = {}) {
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'vyo-chromium-'));
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: chromiumPath,
    headless: true,
    args: chromiumFlags,
    acceptDownloads: true,
    serviceWorkers,
    timeout,
  });
  return {
    context,
    async close() {
      try {
        await context.close();
      } finally {
        fs.rmSync(userDataDir, { recursive: true, force: true });
      }
    },
  };
}

const itemButton = (item) => (item === 'all' ? '[data-test="download-all"]'
  : `[data-test="download"][data-id="${item}"]`);
const confirmYes = '[data-test="confirm"]:not([hidden]) [data-test="confirm-yes"]';

// One open share page. Its methods other than `open` and `close` are the driver's commands: each
// takes the command's arguments as one object.
export class SharePage {
  // Opens `url` (a share address with its key); `relayOnly` lets it connect only through a relay.
  static async open(context, url, { timeout = 15000, relayOnly = false } = {}) {
    const page = await context.newPage();
    if (relayOnly) await page.addInitScript(() => { globalThis.vyoRelayOnly = true; });
    await page.goto(url, { timeout, waitUntil: 'load' });
    return new SharePage(page);
  }

  constructor(page) {
    this.page = page;
  }

  async close() {
    await this.page.close();
  }

  // The status line: { state, text, retry } (retry: whether the retry button shows).
  async status() {
    return this.page.evaluate(() => {
      const status = document.querySelector('[data-test="status"]');
      return { retry: !document.querySelector('[data-test="retry"]').hidden,
        state: status.dataset.state, text: status.textContent };
    });
  }

  async waitForStatus({ state, timeout = 15000 }) {
    await this.page.waitForSelector(`[data-test="status"][data-state="${state}"]`,
      { state: 'attached', timeout });
    return this.status();
  }

  // The listed items as shown: { id, name } for each row, waiting (at most `timeout`)
  // until there are at least `count`.
  async waitForListing({ count = 1, timeout = 15000 }) {
    await this.page.waitForFunction(
      (n) => document.querySelectorAll('[data-test="item"]').length >= n, count, { timeout });
    return this.page.$$eval('[data-test="item"]', (rows) => rows.map((row) => ({
      id: row.dataset.id,
      name: row.querySelector('[data-test="item-name"]').textContent,
    })));
  }

  // Downloads one item (its id) or everything ("all") and saves the file into `folder`; the
  // saved path and the name the browser suggested.
  async download({ item, folder, timeout = 60000 }) {
    const downloading = this.page.waitForEvent('download', { timeout });
    await this.page.click(itemButton(item), { timeout });
    // A large download kept in memory asks first.
    this.page.locator(confirmYes).click({ timeout }).catch(() => {});
    const download = await downloading;
    const name = download.suggestedFilename();
    const target = path.join(folder, name);
    await download.saveAs(target);
    const failure = await download.failure();
    if (failure) throw new Error(`download failed: ${failure}`);
    return { name, path: target };
  }

  // Uploads files through the picker; waits until every new upload row has ended and returns
  // those rows (newest first): { state, name }.
  async upload({ paths, timeout = 60000 }) {
    const transfers = () => this.page.$$eval('[data-test="transfer"]', (rows) => rows.map(
      (row) => ({ name: row.querySelector('[data-test="transfer-name"]').textContent,
        state: row.dataset.state })));
    const before = (await transfers()).length;
    await this.page.setInputFiles('[data-test="upload-input"]', paths);
    await this.page.waitForFunction(({ expected }) => {
      const rows = [...document.querySelectorAll('[data-test="transfer"][data-direction="upload"]')];
      return rows.length >= expected
        && rows.every((row) => ['done', 'error', 'cancelled'].includes(row.dataset.state));
    }, { expected: paths.length }, { timeout });
    const rows = await transfers();
    return rows.slice(0, rows.length - before);
  }

  // Waits until what the page counted about signals (sent, verified, dropped, candidates queued
  // and added) reaches `minimum`, and answers the counts.
  async waitForCounters({ minimum, timeout = 15000 }) {
    await this.page.waitForFunction((wanted) => Object.entries(wanted)
      .every(([key, value]) => window.vyoSharePage.counters[key] >= value), minimum, { timeout });
    return this.page.evaluate(() => ({ ...window.vyoSharePage.counters }));
  }

  // Whether downloads stream to disk through the service worker.
  async streaming() {
    return this.page.evaluate(() => window.vyoSharePage.streaming());
  }

  // Opens a WebSocket from the page to `url`: the code it closes with (0 when it stays open).
  async closeCode({ url }) {
    return this.page.evaluate((address) => new Promise((resolve) => {
      const socket = new WebSocket(address);
      socket.onclose = (event) => resolve(event.code);
      setTimeout(() => { socket.close(); resolve(0); }, 10000);
    }), url);
  }
}
