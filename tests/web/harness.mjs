// What the browser tests and the browser benchmark share: the built site on
// a plain static server (no special headers, the wasm not even with its MIME
// type, as the humblest host serves it), Debian's chromium driven by
// puppeteer-core, the Web MIDI shim, and the virtual Tarvonic in real time
// behind it (kf-web-test-instrument, the project's own emulator).
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

const here = path.dirname(new URL(import.meta.url).pathname);
export const root = path.resolve(here, '../..');
export const paths = {
  site: process.env.KF_WEB_SITE || `${root}/build/web/web/site`,
  modules: process.env.KF_WEB_NODE_MODULES || `${root}/build/web-node/`,
  instrument: process.env.KF_WEB_INSTRUMENT || `${root}/build/linux/tests/web/kf-web-test-instrument`,
  flasher: process.env.KF_FLASH || `${root}/build/linux/cli/kelmora-flash`,
  chromium: process.env.KF_CHROMIUM || '/usr/bin/chromium',
};
const puppeteer = createRequire(paths.modules)('puppeteer-core');
const shimSource = fs.readFileSync(`${here}/midi_shim.js`, 'utf8');

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Waits until `test(arg)` is true in the page. Asked from here, not polled
// by the page: a hidden page's own timers are throttled.
export async function until(page, test, arg, timeout = 60000) {
  const end = Date.now() + timeout;
  while (!(await page.evaluate(test, arg))) {
    if (Date.now() > end) throw new Error(`waited ${timeout} ms in vain for ${test}`);
    await sleep(50);
  }
}
export const tempDir = (name) => fs.mkdtempSync(path.join(os.tmpdir(), `kf-web-${name}-`));

export async function serveSite() {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://host').pathname);
    const file = path.join(paths.site, name === '/' ? 'index.html' : path.normalize(name));
    fs.readFile(file, (error, data) => {
      if (error || !file.startsWith(paths.site)) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' }).end(data);
    });
  });
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  return { url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() };
}

// headless chromium; `throttled`: without the flags with which puppeteer
// turns background throttling off, so that a hidden tab is throttled as in
// a user's browser.
export function launch({ throttled = false } = {}) {
  return puppeteer.launch({
    executablePath: paths.chromium,
    headless: true,
    args: ['--no-sandbox', '--window-size=1000,900'],
    ignoreDefaultArgs: throttled
      ? ['--disable-background-timer-throttling', '--disable-backgrounding-occluded-windows', '--disable-renderer-backgrounding']
      : [],
    defaultViewport: { width: 900, height: 900 },
    // The whole flash waits minutes for its last box.
    protocolTimeout: 1200000,
  });
}

// The virtual Tarvonic in real time (kf-web-test-instrument play).
export class Instrument {
  constructor({ faults, image } = {}) {
    const args = ['play', ...(faults ? ['--faults', faults] : []), ...(image ? ['--image', image] : [])];
    this.process = spawn(paths.instrument, args, { stdio: ['pipe', 'pipe', 'inherit'] });
    this.heard = 0;
    this.onAnswer = () => {};
    this.verdict = new Promise((resolve) => {
      readline.createInterface({ input: this.process.stdout }).on('line', (line) => {
        if (line.startsWith('A ')) this.onAnswer(line.slice(2).split(' ').map((b) => parseInt(b, 16)));
        else if (line.startsWith('firmware ')) resolve(line);
      });
    });
  }

  hear(bytes) {
    this.heard += 1;
    this.process.stdin.write(`${bytes.map((b) => b.toString(16).padStart(2, '0')).join(' ')}\n`);
  }

  // "firmware <bytes> whole" or "... different", once it has stopped.
  finish() {
    this.process.stdin.end();
    return this.verdict;
  }
}

// How the answers reach the page: each answer as one midimessage event, or
// (shaped) cut into pieces of one to five bytes with clock bytes between
// them, and another device's traffic before it: a note, active sensing and
// another maker's SysEx.
export function shapeAnswer(answer, shaped, count) {
  if (!shaped) return [answer];
  const pieces = [[0x90, 60, 100], [0xfe], [0xf0, 0x43, 0x10, 0x4c, 0x00, 0x00, 0x7e, 0x00, 0xf7], [0x80, 60, 0]];
  for (let at = 0, n = 0; at < answer.length; n += 1) {
    const size = 1 + ((count + n) % 5);
    pieces.push(answer.slice(at, at + size));
    at += size;
    if (at < answer.length) pieces.push([0xf8]);
  }
  return pieces;
}

// A page of the site with the shim in it. `midi`: the shim's config;
// `instrument`: the Instrument behind output 0 and input 0; `shaped`: the
// answers cut and mixed as shapeAnswer does.
export async function openPage(browser, site, { midi = { mode: 'ports', inputs: ['USB MIDI In'], outputs: ['USB MIDI Out'] }, instrument = null, shaped = false } = {}) {
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  const tab = { page, problems, sent: 0, onSent: () => {} };
  await page.exposeFunction('__kfShimSent', (output, bytes) => {
    tab.sent += 1;
    tab.onSent(tab.sent, bytes);
    if (instrument && output === 0) instrument.hear(bytes);
  });
  if (instrument) {
    let answers = 0;
    instrument.onAnswer = (answer) => {
      answers += 1;
      page.evaluate((pieces) => window.__kfShim.deliver(0, pieces), shapeAnswer(answer, shaped, answers)).catch(() => {});
    };
  }
  await page.evaluateOnNewDocument(`(${shimSource})(${JSON.stringify(midi)})`);
  const downloads = tempDir('downloads');
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  tab.downloads = downloads;
  await page.goto(site.url);
  await until(page, () => document.body.dataset.idle, null, 90000);
  return tab;
}

// How often the engine has fallen idle so far, and the wait until it has
// fallen idle again after that (or a box asks something).
export const idle = (page) => page.evaluate(() => Number(document.body.dataset.idle || 0));
export function idleAfter(page, count, timeout = 60000) {
  return until(page, (n) => Number(document.body.dataset.idle || 0) > n || document.getElementById('box').open, count, timeout);
}

// Does `action` (a click, a key) and waits until the engine is idle again.
export async function settled(page, action, timeout = 60000) {
  const before = await idle(page);
  await action();
  await idleAfter(page, before, timeout);
}

// The next box: waits for it, answers with the button of that label and
// returns [caption, text].
export async function answerBox(page, label, timeout = 60000) {
  await until(page, () => document.getElementById('box').open, null, timeout);
  const shown = await page.evaluate(() => [document.querySelector('#box .caption').textContent,
    document.querySelector('#box .text').textContent, document.getElementById('box').dataset.shown]);
  const pressed = await page.evaluate((wanted) => {
    const button = [...document.querySelectorAll('#box .buttons button')].find((b) => b.textContent === wanted);
    if (button) button.click();
    return Boolean(button);
  }, label);
  if (!pressed) throw new Error(`box "${shown[0]}" has no button ${label}`);
  await until(page, (n) => !document.getElementById('box').open || document.getElementById('box').dataset.shown !== n, shown[2]);
  return shown.slice(0, 2);
}

// Starts a session on the virtual Tarvonic (speed 0: as fast as it goes).
export async function startVirtual(page, { faults = '', speed = '0', image = null } = {}) {
  await page.evaluate((f, s) => {
    document.getElementById('faults').value = f;
    document.getElementById('speed').value = s;
  }, faults, speed);
  if (image) await (await page.$('#image-file')).uploadFile(image);
  await settled(page, () => page.click('#connect-virtual'));
}

// Scans; returns the device lines. An instrument must answer within 100 ms;
// behind the shim its answer travels through this process and the
// instrument's, which a machine loaded with other work can delay beyond
// that: as a user would, the scan is tried again, up to three times.
export async function scan(page) {
  for (let attempt = 1; ; attempt += 1) {
    await settled(page, () => page.click('#scan'));
    const lines = await page.$$eval('#devices option', (options) => options.map((o) => o.textContent));
    if (attempt === 3 || lines.length !== 1 || lines[0] !== 'Press Scan to search for Devices') return lines;
    console.log(`  (scan ${attempt} found nothing: scanning again)`);
  }
}

export async function text(page, selector) {
  return page.$eval(selector, (element) => (element.hidden ? '' : element.value ?? element.textContent));
}

// Presses "Download transcript" and returns the file's text.
export async function transcript(tab) {
  const file = path.join(tab.downloads, 'kelmora-flash-transcript.txt');
  fs.rmSync(file, { force: true });
  // Clicked from within: puppeteer's click waits for an animation frame, which
  // a hidden page never draws.
  await tab.page.evaluate(() => document.getElementById('transcript').click());
  for (let i = 0; i < 300 && !fs.existsSync(file); i += 1) await sleep(100);
  return fs.readFileSync(file, 'utf8');
}

// kelmora-flash with `args`, `input` on its stdin; its exit code.
export async function runFlasher(args, input = '') {
  const child = spawn(paths.flasher, args, { stdio: ['pipe', 'ignore', 'ignore'] });
  child.stdin.end(input);
  const [code] = await once(child, 'exit');
  return code;
}
