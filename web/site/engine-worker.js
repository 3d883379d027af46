// The engine's Worker: loads the engine (the core in WebAssembly, from
// kelmora-engine.js) and carries the messages between it and the page.
//
// Why a Worker: the engine paces every packet and polls for the answers with
// sleeps of 20 to 100 ms. A browser throttles the timers of a hidden tab's
// page to about one a second (later one a minute), which would stretch a
// three-minute flash to hours; a dedicated Worker's timers keep their time.
// Web MIDI exists only on the page, so the page holds the ports and this
// Worker asks it to send and hears what arrives.
//
// Commands that may wait (start, scan, flash, disable all) run one at a time
// as asynchronous calls; while one waits, MIDI input, port changes, Escape
// and the answer to a box are handed to the engine at once. A command that
// arrives while another runs waits its turn.
'use strict';

importScripts('kelmora-engine.js');

let engine = null;
let answerBox = null;  // resolves the box the engine waits on
const commands = [];
let running = false;

// What the engine's C++ calls (web/page_link.cpp, platform/web/page_dialogs.cpp).
const kfPage = {
  post(message) { postMessage(message); },
  send(output, bytes) { postMessage({ type: 'midi-out', output, bytes }, [bytes.buffer]); },
  askBox(caption, text, flags) {
    return new Promise((resolve) => {
      answerBox = resolve;
      postMessage({ type: 'box', caption, text, flags });
    });
  },
  uploadRunning(running) { postMessage({ type: 'upload', running }); },
};

// Copies bytes into the engine's memory for one call.
function withBytes(bytes, call) {
  const at = engine._malloc(Math.max(bytes.length, 1));
  engine.HEAPU8.set(bytes, at);
  try {
    call(at, bytes.length);
  } finally {
    engine._free(at);
  }
}

function startSession(m) {
  for (const port of m.inputs) engine.ccall('kf_request_port', null, ['number', 'string', 'number'], [1, port.name, port.opened ? 1 : 0]);
  for (const port of m.outputs) engine.ccall('kf_request_port', null, ['number', 'string', 'number'], [0, port.name, port.opened ? 1 : 0]);
  for (const r of m.remembered) {
    engine.ccall('kf_request_remembered', null, ['number', 'string', 'number'], [r.input ? 1 : 0, r.name, r.enabled ? 1 : 0]);
  }
  if (m.image) {
    withBytes(m.image.bytes, (at, length) =>
      engine.ccall('kf_request_image', null, ['number', 'number', 'string'], [at, length, m.image.name]));
  }
  return engine.ccall('kf_start', null, ['number', 'string', 'number'], [m.virtual ? 1 : 0, m.faults || '', m.speed || 0], { async: true });
}

// Each returns a promise when the engine may wait, nothing otherwise.
const command = {
  start: startSession,
  scan: () => engine.ccall('kf_scan', null, [], [], { async: true }),
  flash: (m) => engine.ccall('kf_flash', null, ['number'], [m.line], { async: true }),
  'disable-all': () => engine.ccall('kf_disable_all', null, [], [], { async: true }),
  select: (m) => engine._kf_select(m.line),
  'toggle-port': (m) => engine._kf_toggle_port(m.item),
  'enable-all': () => engine._kf_enable_all(),
  transcript: () => engine._kf_transcript(),
};

async function runCommands() {
  if (running) return;
  running = true;
  while (commands.length > 0) {
    const m = commands.shift();
    postMessage({ type: 'busy', busy: true });
    try {
      await command[m.type](m);
    } catch (error) {
      postMessage({ type: 'failed', reason: String(error) });
    }
    postMessage({ type: 'busy', busy: commands.length > 0 });
  }
  running = false;
}

onmessage = (event) => {
  const m = event.data;
  if (engine === null) return;
  switch (m.type) {
    case 'midi-in':
      withBytes(m.bytes, (at, length) => engine._kf_midi_in(m.input, at, length));
      break;
    case 'port-state':
      engine._kf_port_state(m.input ? 1 : 0, m.index, m.connected ? 1 : 0);
      break;
    case 'escape':
      engine._kf_escape(m.held ? 1 : 0);
      break;
    case 'answer':
      if (answerBox !== null) {
        const resolve = answerBox;
        answerBox = null;
        resolve(m.button);
      }
      break;
    default:
      if (command[m.type]) {
        commands.push(m);
        runCommands();
      }
  }
};

KelmoraEngine({ kfPage }).then(
  (module) => {
    engine = module;
    engine._kf_announce();
  },
  (error) => postMessage({ type: 'load-failed', reason: String(error) }),
);
