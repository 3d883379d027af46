// Web MIDI for the page under test, injected before the page loads: this
// machine has no ALSA sequencer, so chromium's own Web MIDI cannot start.
// navigator.requestMIDIAccess becomes the shim's; its outputs hand what the
// page sends to the test (window.__kfShimSent, a function the harness
// exposes, which passes it to a virtual Tarvonic in real time), and the
// test delivers the answers with window.__kfShim.deliver as midimessage
// events. config.mode: 'ports' (config.inputs and config.outputs name the
// ports), 'refuse' (the user says no), 'fail' (the browser's MIDI system
// does not start), 'none' (a browser without Web MIDI).
(config) => {
  if (config.mode === 'none') {
    delete Navigator.prototype.requestMIDIAccess;
    delete navigator.requestMIDIAccess;
    return;
  }

  class Port extends EventTarget {
    constructor(type, index, name) {
      super();
      Object.assign(this, { type, index, name, id: `${type}-${index}`, manufacturer: '', state: 'connected', connection: 'closed' });
    }
    open() {
      this.connection = 'open';
      return Promise.resolve(this);
    }
    close() {
      this.connection = 'closed';
      return Promise.resolve(this);
    }
  }

  class Input extends Port {
    set onmidimessage(handler) {
      this.handler = handler;
      this.connection = 'open';
    }
    get onmidimessage() {
      return this.handler || null;
    }
  }

  class Output extends Port {
    send(data) {
      if (this.state !== 'connected') throw new DOMException('The port is disconnected.', 'InvalidStateError');
      window.__kfShimSent(this.index, Array.from(data));
    }
  }

  // The screen wake lock, counted (headless chromium grants none).
  window.__kfWakeLocks = 0;
  Object.defineProperty(navigator, 'wakeLock', {
    value: { request: async () => (window.__kfWakeLocks += 1, { release: async () => { window.__kfWakeLocks -= 1; } }) },
  });

  const inputs = new Map((config.inputs || []).map((name, i) => [`input-${i}`, new Input('input', i, name)]));
  const outputs = new Map((config.outputs || []).map((name, i) => [`output-${i}`, new Output('output', i, name)]));
  const access = { inputs, outputs, sysexEnabled: true, onstatechange: null };

  navigator.requestMIDIAccess = async (options) => {
    window.__kfShimAsked = options;
    if (config.mode === 'refuse') throw new DOMException('Permission denied.', 'NotAllowedError');
    if (config.mode === 'fail') throw new DOMException('Platform dependent initialization failed.', 'InvalidStateError');
    return access;
  };

  const port = (kind, index) => (kind === 'input' ? inputs : outputs).get(`${kind}-${index}`);
  window.__kfShim = {
    // Each piece as one midimessage event, in order.
    deliver(input, pieces) {
      const target = port('input', input);
      for (const piece of pieces) {
        const event = new MIDIMessageEvent('midimessage', { data: new Uint8Array(piece) });
        if (target.state === 'connected' && target.handler) target.handler(event);
      }
    },
    setState(kind, index, state) {
      const p = port(kind, index);
      p.state = state;
      if (access.onstatechange) access.onstatechange({ port: p });
    },
  };
}
