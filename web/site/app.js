// The page: wires the controls to the engine (engine-link.js), Web MIDI
// (midi-ports.js) and the modals (dialogs.js), and keeps what only a
// browser needs: which ports the user enabled (remembered by the browser),
// the warning before the page is closed during an upload, the screen kept
// awake meanwhile, and the transcript as a download.
import { EngineLink } from './engine-link.js';
import { MidiPorts, MidiUnavailable, hasWebMidi } from './midi-ports.js';
import { ProgressView, showBox } from './dialogs.js';
import { clearDevices, drawDevices, drawPorts, say } from './views.js';

const $ = (id) => document.getElementById(id);
const RememberedKey = 'kelmora-flasher.ports';

let texts = {};
let sessionVirtual = false;
let portsChangedByUser = false;
let uploading = false;
let wakeLock = null;
let commandsDone = 0;

function format(template, ...values) {
  let i = 0;
  return template.replace(/%s/g, () => String(values[i++] ?? ''));
}

function remembered() {
  try {
    return JSON.parse(localStorage.getItem(RememberedKey) || '[]');
  } catch {
    return [];
  }
}

function remember(items) {
  const kept = remembered().filter((r) => !items.some((i) => i.input === r.input && i.name === r.name));
  const now = items.map(({ input, name, enabled }) => ({ input, name, enabled }));
  try {
    localStorage.setItem(RememberedKey, JSON.stringify([...kept, ...now]));
  } catch {
    // Storage refused (a private window): the choice lasts for this session.
  }
}

// While the engine works the controls say so (aria-disabled) and take no
// clicks, but keep the focus, which a disabled control would lose.
function setBusy(busy) {
  document.body.classList.toggle('busy', busy);
  for (const control of document.querySelectorAll('[data-engine]')) {
    control.setAttribute('aria-disabled', String(busy));
    control.disabled = control.dataset.off === 'true';
  }
  // How many times the engine fell idle: what a test waits for after a click.
  if (!busy) document.body.dataset.idle = String(++commandsDone);
}
document.addEventListener('click', (event) => {
  if (event.target.closest('[aria-disabled="true"]')) event.stopImmediatePropagation();
}, true);

async function keepAwake(on) {
  if (!on) {
    if (wakeLock) await wakeLock.release().catch(() => {});
    wakeLock = null;
    return;
  }
  try {
    if ('wakeLock' in navigator && document.visibilityState === 'visible') wakeLock = await navigator.wakeLock.request('screen');
  } catch {
    wakeLock = null;  // not granted (battery saver, a hidden tab): the upload goes on
  }
}

function warnBeforeLeaving(event) {
  event.preventDefault();
  event.returnValue = texts.leaveWarning;
  return texts.leaveWarning;
}

function download(text) {
  const url = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
  const link = Object.assign(document.createElement('a'), { href: url, download: 'kelmora-flash-transcript.txt' });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

const engine = new EngineLink(onEngine);
const midi = new MidiPorts(engine);
const progress = new ProgressView($('progress'), (held) => engine.escape(held));

function onEngine(m) {
  switch (m.type) {
    case 'ready':
      texts = m.texts;
      progress.texts = texts;
      $('firmware').textContent = format(texts.firmwareLabel, m.label);
      $('firmware').classList.toggle('development', m.development);
      if (!hasWebMidi()) {
        say($('midi-notice'), texts.noWebMidi, 'warning');
        $('connect-midi').dataset.off = 'true';
      }
      setBusy(false);
      break;
    case 'load-failed':
      say($('midi-notice'), m.reason, 'error');
      break;
    case 'session':
      sessionVirtual = m.virtual;
      $('sheet').hidden = false;
      $('source').textContent = m.virtual ? texts.sourceVirtual : texts.sourceMidi;
      $('source').dataset.kind = m.virtual ? 'virtual' : 'midi';
      say($('image-notice'), m.image.notice, 'warning');
      $('firmware').textContent = format(texts.firmwareLabel, m.image.label);
      $('firmware').classList.toggle('development', m.image.development);
      say($('verdict'), '');
      clearDevices($('devices'), $('details'), $('start-flash'));
      $('start-flash').dataset.off = 'true';
      break;
    case 'failed':
      say($('midi-notice'), m.reason, 'error');
      break;
    case 'ports':
      drawPorts($('ports'), m.items, (item) => {
        portsChangedByUser = true;
        engine.togglePort(item);
      });
      if (portsChangedByUser && !sessionVirtual) remember(m.items);
      portsChangedByUser = false;
      break;
    case 'devices':
      drawDevices($('devices'), $('details'), $('start-flash'), m);
      $('start-flash').dataset.off = String(!m.canFlash);
      break;
    case 'progress':
      progress.event(m);
      break;
    case 'box':
      showBox($('box'), m).then((button) => engine.answer(button));
      break;
    case 'midi-out':
      midi.send(m.output, m.bytes);
      break;
    case 'upload':
      uploading = m.running;
      if (uploading) window.addEventListener('beforeunload', warnBeforeLeaving);
      else window.removeEventListener('beforeunload', warnBeforeLeaving);
      keepAwake(uploading);
      break;
    case 'busy':
      setBusy(m.busy);
      break;
    case 'firmware':
      say($('verdict'), m.text, m.whole ? 'good' : 'error');
      break;
    case 'transcript':
      download(m.text);
      break;
  }
}

async function image() {
  const file = $('image-file').files[0];
  if (!file) return undefined;
  return { name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) };
}

$('connect-midi').onclick = async () => {
  say($('midi-notice'), '');
  let ports;
  try {
    ports = await midi.connect();
  } catch (error) {
    const refused = error instanceof MidiUnavailable && error.refused;
    const reason = error.message.replace(/\.$/, '');
    say($('midi-notice'), format(refused ? texts.midiRefused : texts.midiFailed, reason), 'error');
    return;
  }
  engine.start({ virtual: false, ...ports, remembered: remembered(), image: await image() });
};

$('connect-virtual').onclick = async () => {
  say($('midi-notice'), '');
  midi.release();
  engine.start({
    virtual: true, inputs: [], outputs: [], remembered: [],
    faults: $('faults').value.trim(), speed: Number($('speed').value), image: await image(),
  });
};

$('scan').onclick = () => engine.scan();
$('devices').onchange = () => engine.select($('devices').selectedIndex);
$('start-flash').onclick = () => engine.flash($('devices').selectedIndex);
$('enable-all').onclick = () => {
  portsChangedByUser = true;
  engine.enableAll();
};
$('disable-all').onclick = () => {
  portsChangedByUser = true;
  engine.disableAll();
};
$('transcript').onclick = () => engine.askTranscript();

// The two pages, as tabs: arrow keys move between them.
const tabs = [$('tab-flash'), $('tab-ports')];
function choose(tab) {
  for (const t of tabs) {
    const chosen = t === tab;
    t.setAttribute('aria-selected', String(chosen));
    t.tabIndex = chosen ? 0 : -1;
    $(t.getAttribute('aria-controls')).hidden = !chosen;
  }
  tab.focus();
}
for (const tab of tabs) {
  tab.onclick = () => choose(tab);
  tab.onkeydown = (event) => {
    if (event.key === 'ArrowRight' || event.key === 'ArrowLeft') choose(tabs[(tabs.indexOf(tab) + 1) % tabs.length]);
  };
}

document.addEventListener('visibilitychange', () => {
  // The browser lets a wake lock go when the tab is hidden; take it again.
  if (uploading && document.visibilityState === 'visible') keepAwake(true);
});
