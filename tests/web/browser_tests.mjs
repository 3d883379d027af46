// The page in headless chromium, over the Web MIDI shim (midi_shim.js) with
// the virtual Tarvonic behind it in real time, and on its own virtual
// Tarvonic. Run by tools/test-web: node browser_tests.mjs [NAME...]; the
// last line is "web: N passed, M failed". Screenshots of each step go to
// $KF_WEB_SCREENSHOTS (default build/web-tests/screenshots).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
  Instrument, answerBox, idle, idleAfter, launch, until, openPage, paths, root, runFlasher, scan, serveSite, settled,
  sleep, startVirtual, tempDir, text, transcript,
} from './harness.mjs';

const shots = process.env.KF_WEB_SCREENSHOTS || `${root}/build/web-tests/screenshots`;
fs.mkdirSync(shots, { recursive: true });
const images = tempDir('images');
execFileSync(paths.instrument, ['images', images]);
const small = `${images}/small.mid`;

async function shoot(page, name) {
  await page.screenshot({ path: `${shots}/${name}.png`, fullPage: true });
}

// Flashes the selected device, answering the boxes in turn; returns their captions.
async function flash(page, answers, timeout = 60000) {
  const before = await idle(page);
  await page.click('#start-flash');
  const captions = [];
  for (const label of answers) captions.push((await answerBox(page, label, timeout))[0]);
  await idleAfter(page, before, timeout);
  return captions;
}

// The pause every packet is owed after it left: the protocol's n/42 + 20 ms.
// Returns the packets that left sooner than that after the one before.
function pacingBreaches(transcriptText) {
  const sends = transcriptText.split('\n').filter((l) => / OUT /.test(l)).map((l) => ({
    ms: Number(l.split(' ')[0]),
    length: l.slice(l.indexOf('] ') + 2).split(' ').length,
  }));
  return sends.filter((s, i) => i > 0 && s.ms - sends[i - 1].ms < Math.floor(sends[i - 1].length / 42) + 20);
}

const tests = {
  // The dry run on the page's virtual Tarvonic writes the command line's
  // transcript byte for byte: faults, an older image, a silent instrument.
  async 'the dry run writes the command line transcript'(browser, site) {
    const rows = [
      { faults: 'seed=3,drop=0.02,code4=0.01,garbage=0.01', page: ['OK', 'OK'], cli: 'o\n' },
      { image: `${images}/older.mid`, page: ['OK', 'OK', 'OK'], cli: 'o\no\n' },
      // Seed 44 answers the check and then falls silent long enough to be asked about twice.
      { faults: 'seed=44,drop=0.97', page: ['OK', 'Retry', 'Cancel', 'OK'], cli: 'o\nr\nc\n' },
    ];
    for (const row of rows) {
      const tab = await openPage(browser, site, { midi: { mode: 'none' } });
      await startVirtual(tab.page, row);
      assert.deepEqual(await scan(tab.page), ['Tarvonic[41] V1.90 at Virtual Tarvonic Ch 1']);
      await flash(tab.page, row.page, 120000);
      const fromPage = await transcript(tab);
      const file = path.join(tempDir('cli'), 'transcript.txt');
      const args = ['--virtual', '--transcript', file, ...(row.faults ? ['--faults', row.faults] : []),
        ...(row.image ? ['--image', row.image] : []), 'flash'];
      await runFlasher(args, row.cli);
      assert.equal(fromPage, fs.readFileSync(file, 'utf8'), `transcript of ${JSON.stringify(row)}`);
      assert.deepEqual(tab.problems, []);
      await tab.page.close();
    }
  },

  // Another image file is checked as --image checks it, and is marked.
  async 'another image is checked and marked'(browser, site) {
    const tab = await openPage(browser, site, { midi: { mode: 'none' } });
    const broken = `${root}/tests/image/corpus/test-c-major-scale.mid`;
    await startVirtual(tab.page, { image: broken });
    const reason = spawnSync(paths.flasher, ['inspect', broken], { encoding: 'utf8' }).stdout.match(/^reason: (.*)$/m)[1];
    assert.equal(await text(tab.page, '#midi-notice'), `test-c-major-scale.mid cannot be flashed: ${reason}`);
    assert.equal(await tab.page.$eval('#sheet', (e) => e.hidden), true);
    await startVirtual(tab.page, { image: small });
    assert.equal(await text(tab.page, '#image-notice'),
      'Testing with the image file small.mid (V2.00), not the firmware this page carries.');
    assert.equal(await text(tab.page, '#firmware'), 'Firmware V2.00');
  },

  // The whole embedded image in real time through Web MIDI, with the page
  // in a hidden tab of a browser that throttles hidden tabs as users' do.
  async 'a whole flash in a hidden tab keeps its timing'(_, site) {
    const browser = await launch({ throttled: true });
    try {
      const instrument = new Instrument();
      const tab = await openPage(browser, site, { instrument });
      await settled(tab.page, () => tab.page.click('#connect-midi'));
      assert.deepEqual(await scan(tab.page), ['Tarvonic[41] V1.90 at USB MIDI In Ch 1']);
      await shoot(tab.page, 'web-flash-page');
      await tab.page.click('#start-flash');
      await until(tab.page, () => document.getElementById('box').open, null);
      await shoot(tab.page, 'web-development-box');
      assert.equal((await answerBox(tab.page, 'OK'))[0], 'Development Firmware Image!');
      await until(tab.page, () => document.querySelector('#box .caption').textContent === 'Ready to begin!', null);
      const front = await browser.newPage();
      await front.bringToFront();
      // Hidden, and throttled: the page's own 20-ms timers fire about once a
      // second, if at all.
      await tab.page.evaluate(() => {
        window.fired = 0;
        const tick = () => { window.fired += 1; setTimeout(tick, 20); };
        setTimeout(tick, 20);
      });
      await sleep(3000);
      const [visibility, fired] = await tab.page.evaluate(() => [document.visibilityState, window.fired]);
      assert.equal(visibility, 'hidden');
      assert.ok(fired < 20, `the hidden page's 20-ms timers fired ${fired} times in 3 s: not throttled`);
      console.log(`  (the hidden page's 20-ms timers fired ${fired} times in 3 s)`);
      await answerBox(tab.page, 'OK');
      const [caption] = await answerBox(tab.page, 'OK', 900000);
      assert.equal(caption, 'Upload Complete');
      assert.equal(await instrument.finish(), 'firmware 306605 whole');
      assert.deepEqual(pacingBreaches(await transcript(tab)), []);
      assert.deepEqual(tab.problems, []);
    } finally {
      await browser.close();
    }
  },

  // Lost, late, refused and unknown answers, garbage and refused
  // resynchronisations; every answer cut into pieces with other traffic.
  async 'faults and answers in pieces among other traffic'(browser, site) {
    const instrument = new Instrument({ image: small, faults: 'seed=5,drop=0.03,late=0.01,code1=0.04,code2=0.03,code4=0.04,other=0.02,garbage=0.1,resync-fail=0.1' });
    const tab = await openPage(browser, site, { instrument, shaped: true });
    await (await tab.page.$('#image-file')).uploadFile(small);
    await settled(tab.page, () => tab.page.click('#connect-midi'));
    assert.deepEqual(await scan(tab.page), ['Tarvonic[41] V1.90 at USB MIDI In Ch 1']);
    await tab.page.click('#start-flash');
    await until(tab.page, () => document.getElementById('box').open, null);
    await shoot(tab.page, 'web-ready-box');
    await answerBox(tab.page, 'OK');
    await until(tab.page, () => /Writing/.test(document.querySelector('#progress .status').textContent), null, 60000);
    await shoot(tab.page, 'web-progress');
    // During the upload: the screen kept awake, and a question before the
    // page is left (answered: stay).
    assert.equal(await tab.page.evaluate(() => window.__kfWakeLocks), 1);
    const asked = new Promise((resolve) => tab.page.once('dialog', (d) => d.dismiss().then(() => resolve(d.type()))));
    await tab.page.evaluate(() => location.reload());
    assert.equal(await Promise.race([asked, sleep(10000).then(() => 'no question')]), 'beforeunload');
    await until(tab.page, () => document.getElementById('box').open, null, 300000);
    await shoot(tab.page, 'web-upload-complete');
    const [caption] = await answerBox(tab.page, 'OK');
    assert.equal(caption, 'Upload Complete');
    assert.equal(await instrument.finish(), 'firmware 1973 whole');
    assert.equal(await tab.page.evaluate(() => window.__kfWakeLocks), 0);
  },

  // The output and input go away mid-upload: the upload ends at once with
  // the box that says what state the instrument is in; plugged in again, a
  // scan finds it and it flashes.
  async 'a port that disappears during the upload'(browser, site) {
    const instrument = new Instrument({ image: small });
    const tab = await openPage(browser, site, { instrument });
    await (await tab.page.$('#image-file')).uploadFile(small);
    await settled(tab.page, () => tab.page.click('#connect-midi'));
    await scan(tab.page);
    tab.onSent = (count) => {
      if (count !== 60) return;
      tab.page.evaluate(() => {
        window.__kfShim.setState('output', 0, 'disconnected');
        window.__kfShim.setState('input', 0, 'disconnected');
      });
    };
    assert.deepEqual(await flash(tab.page, ['OK', 'OK'], 120000), ['Ready to begin!', 'MIDI Connection Lost']);
    const lines = (await transcript(tab)).split('\n');
    assert.match(lines.at(-2), /BOX MIDI Connection Lost \| The MIDI port "USB MIDI (In|Out)" went away during the Upload:.*The Device stays in its boot loader without working firmware\./);
    await tab.page.evaluate(() => {
      window.__kfShim.setState('output', 0, 'connected');
      window.__kfShim.setState('input', 0, 'connected');
    });
    tab.onSent = () => {};
    await scan(tab.page);
    assert.deepEqual(await flash(tab.page, ['OK', 'OK'], 120000), ['Ready to begin!', 'Upload Complete']);
    assert.equal(await instrument.finish(), 'firmware 1973 whole');
  },

  // Without Web MIDI, refused, failing, or without inputs: the page says
  // what happened and what to do; the virtual Tarvonic still works.
  async 'no MIDI, refused MIDI, MIDI that fails, no inputs'(browser, site) {
    const ready = await openPage(browser, site, { midi: { mode: 'none' } });
    const texts = await ready.page.evaluate(() => new Promise((resolve) => {
      const worker = new Worker('engine-worker.js');
      worker.onmessage = (event) => { if (event.data.type === 'ready') resolve(event.data.texts); };
    }));
    assert.equal(await text(ready.page, '#midi-notice'), texts.noWebMidi);
    assert.equal(await ready.page.$eval('#connect-midi', (b) => b.disabled), true);
    await shoot(ready.page, 'web-no-web-midi');
    await startVirtual(ready.page);
    assert.deepEqual(await scan(ready.page), ['Tarvonic[41] V1.90 at Virtual Tarvonic Ch 1']);

    for (const [mode, notice] of [['refuse', texts.midiRefused.replace('%s', 'Permission denied')],
      ['fail', texts.midiFailed.replace('%s', 'Platform dependent initialization failed')]]) {
      const tab = await openPage(browser, site, { midi: { mode } });
      await tab.page.click('#connect-midi');
      await until(tab.page, () => !document.getElementById('midi-notice').hidden, null);
      assert.equal(await text(tab.page, '#midi-notice'), notice);
      assert.deepEqual(await tab.page.evaluate(() => window.__kfShimAsked), { sysex: true });
      if (mode === 'refuse') await shoot(tab.page, 'web-midi-refused');
    }

    const none = await openPage(browser, site, { midi: { mode: 'ports', inputs: [], outputs: ['Synth'] } });
    await none.page.click('#connect-midi');
    assert.deepEqual(await answerBox(none.page, 'OK'), ['MIDI Configuration Error', 'No MIDI Inputs are found!']);
  },

  // The Ports page by keyboard: its items and states, the question before
  // "Disable All", the scan's answer to no enabled port, and the choices
  // remembered by the browser for the next session.
  async 'ports by keyboard, remembered'(browser, site) {
    const midi = { mode: 'ports', inputs: ['Keys In', 'Tarvonic In'], outputs: ['Keys Out', 'Tarvonic Out'] };
    const tab = await openPage(browser, site, { midi });
    await settled(tab.page, () => tab.page.click('#connect-midi'));
    await tab.page.focus('#tab-flash');
    await tab.page.keyboard.press('ArrowRight');
    const items = () => tab.page.$$eval('#ports li', (lis) => lis.map((li) => `${li.querySelector('span').textContent} ${li.className}`));
    assert.deepEqual(await items(), ['In00[0000 0000]: Keys In enabled', 'In01[0000 0000]: Tarvonic In enabled',
      'Out00[0000 0000]: Keys Out enabled', 'Out01[0000 0000]: Tarvonic Out enabled']);
    await tab.page.keyboard.press('Tab');
    await settled(tab.page, () => tab.page.keyboard.press('Space'));
    await tab.page.keyboard.press('ArrowDown');
    await tab.page.keyboard.press('ArrowDown');
    await settled(tab.page, () => tab.page.keyboard.press('Enter'));
    assert.deepEqual((await items()).map((i) => i.split(' ').at(-1)), ['disabled', 'enabled', 'disabled', 'enabled']);
    await shoot(tab.page, 'web-ports-page');
    const asked = await idle(tab.page);
    await tab.page.click('#disable-all');
    assert.deepEqual(await answerBox(tab.page, 'Yes'), ['Disable all MIDI Ports',
      'If you disable all ports you have to activate the proper IN and OUT port manually!\nAre you sure to disable all ports?']);
    await idleAfter(tab.page, asked);
    await tab.page.click('#tab-flash');
    const scanned = await idle(tab.page);
    await tab.page.click('#scan');
    assert.deepEqual(await answerBox(tab.page, 'OK'), ['No Output selected',
      'Please activate at least one Output and one Input on the Ports-Page!']);
    await idleAfter(tab.page, scanned);
    await tab.page.click('#tab-ports');
    await settled(tab.page, () => tab.page.click('#enable-all'));
    await settled(tab.page, async () => (await tab.page.$('#ports li')).click({ count: 2 }));
    await tab.page.reload();
    await until(tab.page, () => document.body.dataset.idle, null);
    await settled(tab.page, () => tab.page.click('#connect-midi'));
    assert.deepEqual((await items()).map((i) => i.split(' ').at(-1)), ['disabled', 'enabled', 'enabled', 'enabled']);
  },

  // The whole dry run by keyboard alone, at 200 % zoom (a 450-pixel-wide
  // window's worth of CSS pixels at twice the density): nothing wider than
  // the window, every control reachable.
  async 'keyboard alone at 200 % zoom'(browser, site) {
    const tab = await openPage(browser, site, { midi: { mode: 'none' } });
    await tab.page.setViewport({ width: 450, height: 800, deviceScaleFactor: 2 });
    await tab.page.evaluate(() => { document.getElementById('speed').value = '0'; });
    await tab.page.focus('#connect-virtual');
    await settled(tab.page, () => tab.page.keyboard.press('Enter'));
    await tab.page.focus('#scan');
    await settled(tab.page, () => tab.page.keyboard.press('Enter'));
    await tab.page.keyboard.press('Tab');
    await tab.page.keyboard.press('Tab');
    assert.equal(await tab.page.evaluate(() => document.activeElement.id), 'start-flash');
    await shoot(tab.page, 'web-zoom-200');
    await tab.page.keyboard.press('Enter');
    await until(tab.page, () => document.getElementById('box').open, null);
    assert.equal(await tab.page.evaluate(() => document.activeElement.textContent), 'Cancel');
    await tab.page.keyboard.down('Shift');
    await tab.page.keyboard.press('Tab');
    await tab.page.keyboard.up('Shift');
    await tab.page.keyboard.press('Enter');
    await until(tab.page, () => document.querySelector('#box .caption').textContent === 'Upload Complete', null);
    await shoot(tab.page, 'web-box-zoom-200');
    await tab.page.keyboard.press('Escape');
    await until(tab.page, () => !document.getElementById('verdict').hidden, null);
    assert.match(await text(tab.page, '#verdict'), /the image's plain firmware, whole/);
    const overflow = await tab.page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `the page is ${overflow} CSS pixels wider than the window`);
  },
};

const wanted = process.argv.slice(2);
const site = await serveSite();
const browser = await launch();
let passed = 0;
let failed = 0;
// The long real-time flash runs beside the others.
const names = Object.keys(tests).filter((name) => wanted.length === 0 || wanted.some((w) => name.includes(w)));
const run = async (name) => {
  const start = Date.now();
  try {
    await tests[name](browser, site);
    passed += 1;
    console.log(`ok    ${name} (${((Date.now() - start) / 1000).toFixed(1)} s)`);
  } catch (error) {
    failed += 1;
    console.log(`FAIL  ${name} (${((Date.now() - start) / 1000).toFixed(1)} s)\n${error.stack || error}`);
  }
};
const long = names.filter((name) => name.includes('hidden tab'));
await Promise.all([Promise.all(long.map(run)), (async () => {
  for (const name of names.filter((n) => !long.includes(n))) await run(name);
})()]);
await browser.close();
site.close();
await sleep(0);
console.log(`web: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
