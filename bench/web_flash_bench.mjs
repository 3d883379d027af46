// The page's figures (tools/run-bench, through tools/test-web --bench): what
// a browser downloads, gzipped; the time from opening the page to the first
// scan's result; and the whole embedded image flashed in real time through
// the Web MIDI shim into the virtual Tarvonic, with the page visible and
// with it hidden in a browser that throttles hidden tabs. Each flash's
// transcript goes to kf-cli-jack-bench --transcript, which works out the
// protocol's own minimum for that run as for the JACK and Wine flashes.
// Figures only: nothing here passes or fails on a time.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import {
  Instrument, answerBox, launch, openPage, paths, root, scan, serveSite, settled, sleep, tempDir, transcript, until,
} from '../tests/web/harness.mjs';

const jackBench = process.env.KF_JACK_BENCH || `${root}/build/linux/bench/kf-cli-jack-bench`;

const files = fs.readdirSync(paths.site);
const gzipped = (file) => zlib.gzipSync(fs.readFileSync(path.join(paths.site, file)), { level: 9 }).length;
const total = files.reduce((sum, file) => sum + gzipped(file), 0);
console.log(`  the site: ${files.length} files, ${(total / 1024).toFixed(1)} KiB gzipped ` +
  `(the engine's wasm with the image inside ${(gzipped('kelmora-engine.wasm') / 1024).toFixed(1)} KiB)`);

const site = await serveSite();

async function flash(hidden) {
  const browser = await launch({ throttled: hidden });
  try {
    const instrument = new Instrument();
    const opened = Date.now();
    const tab = await openPage(browser, site, { instrument });
    const ready = Date.now();
    await settled(tab.page, () => tab.page.click('#connect-midi'));
    const started = Date.now();
    await scan(tab.page);
    const scanned = Date.now();
    console.log(`  ${hidden ? 'hidden' : 'visible'}: opening the page to the first scan's result ${scanned - opened} ms ` +
      `(page and engine loaded ${ready - opened} ms, MIDI started ${started - ready} ms, scan ${scanned - started} ms)`);
    await tab.page.click('#start-flash');
    await answerBox(tab.page, 'OK');
    await until(tab.page, () => document.querySelector('#box .caption').textContent === 'Ready to begin!', null);
    if (hidden) await (await browser.newPage()).bringToFront();
    await sleep(500);
    const start = Date.now();
    await answerBox(tab.page, 'OK');
    const [caption] = await answerBox(tab.page, 'OK', 1800000);
    console.log(`  ${caption} after ${((Date.now() - start) / 1000).toFixed(1)} s; the instrument: ${await instrument.finish()}`);
    const file = path.join(tempDir('bench'), 'transcript.txt');
    fs.writeFileSync(file, await transcript(tab));
    console.log(execFileSync(jackBench, ['--transcript', file], { encoding: 'utf8' }).trimEnd());
  } finally {
    await browser.close();
  }
}

console.log('== the whole image in real time, the page visible');
await flash(false);
console.log('== the same with the page in a hidden tab, throttled as a user\'s browser throttles it');
await flash(true);
site.close();
process.exit(0);
