// The page's side of the engine: starts the engine's Worker and speaks the
// narrow message protocol between them (web/page_link.h lists what the
// engine says; engine-worker.js what it is told).
//
// Page to engine:
//   start {virtual, faults, speed, inputs, outputs, remembered, image}
//   scan | select {line} | flash {line} | toggle-port {item} | enable-all |
//   disable-all | transcript
//   midi-in {input, bytes} | port-state {input, index, connected} |
//   escape {held} | answer {button}
// Engine to page: ready, session, failed, ports, devices, progress,
//   firmware, transcript (web/page_link.h), and box {caption, text, flags},
//   midi-out {output, bytes}, upload {running}, busy {busy}, load-failed.

export class EngineLink {
  constructor(onMessage) {
    this.worker = new Worker('engine-worker.js');
    this.worker.onmessage = (event) => onMessage(event.data);
    this.worker.onerror = (event) => onMessage({ type: 'load-failed', reason: event.message || 'the engine did not start' });
  }

  tell(message, transfer) {
    this.worker.postMessage(message, transfer || []);
  }

  start(settings) { this.tell({ type: 'start', ...settings }); }
  scan() { this.tell({ type: 'scan' }); }
  select(line) { this.tell({ type: 'select', line }); }
  flash(line) { this.tell({ type: 'flash', line }); }
  togglePort(item) { this.tell({ type: 'toggle-port', item }); }
  enableAll() { this.tell({ type: 'enable-all' }); }
  disableAll() { this.tell({ type: 'disable-all' }); }
  askTranscript() { this.tell({ type: 'transcript' }); }
  answer(button) { this.tell({ type: 'answer', button }); }
  escape(held) { this.tell({ type: 'escape', held }); }
  midiIn(input, bytes) { this.tell({ type: 'midi-in', input, bytes }); }
  portState(input, index, connected) { this.tell({ type: 'port-state', input, index, connected }); }
}
