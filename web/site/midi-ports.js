// Web MIDI on the page: the one place that holds the MIDI access and its
// ports, because a Worker has no Web MIDI. It asks for access with SysEx,
// lists and opens the ports, hands what each input hears to the engine,
// sends what the engine asks for, and reports ports that go away or come
// back.

// Why access failed, for the page's texts: refused by the user or the
// browser, or the browser's MIDI system did not start.
export class MidiUnavailable extends Error {
  constructor(refused, reason) {
    super(reason);
    this.refused = refused;
  }
}

export function hasWebMidi() {
  return typeof navigator.requestMIDIAccess === 'function';
}

export class MidiPorts {
  constructor(engine) {
    this.engine = engine;
    this.inputs = [];
    this.outputs = [];
    this.access = null;
  }

  // Asks for MIDI with SysEx and opens every port. Resolves to the port
  // lists the engine's driver takes ({name, opened}), in the browser's order.
  async connect() {
    let access;
    try {
      access = await navigator.requestMIDIAccess({ sysex: true });
    } catch (error) {
      const refused = error && (error.name === 'NotAllowedError' || error.name === 'SecurityError');
      throw new MidiUnavailable(refused, (error && (error.message || error.name)) || String(error));
    }
    this.release();
    this.access = access;
    this.inputs = [...access.inputs.values()];
    this.outputs = [...access.outputs.values()];
    const opened = async (port) => {
      try {
        await port.open();
        return true;
      } catch {
        return false;  // another program holds it: the engine leaves it out
      }
    };
    const inputs = [];
    for (const [index, port] of this.inputs.entries()) {
      inputs.push({ name: port.name || port.id, opened: await opened(port) });
      port.onmidimessage = (event) => this.engine.midiIn(index, event.data);
    }
    const outputs = [];
    for (const port of this.outputs) outputs.push({ name: port.name || port.id, opened: await opened(port) });
    access.onstatechange = (event) => this.changed(event.port);
    return { inputs, outputs };
  }

  changed(port) {
    const input = port.type === 'input';
    const index = (input ? this.inputs : this.outputs).indexOf(port);
    if (index >= 0) this.engine.portState(input, index, port.state === 'connected');
  }

  send(output, bytes) {
    const port = this.outputs[output];
    try {
      if (port && port.state === 'connected') port.send(bytes);
    } catch {
      // A port that goes away during the send: its statechange follows, and
      // the engine's next send on it fails as an unplugged port's does.
    }
  }

  release() {
    for (const port of this.inputs) port.onmidimessage = null;
    if (this.access) this.access.onstatechange = null;
    this.access = null;
  }
}
