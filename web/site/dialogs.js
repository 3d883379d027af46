// The page's modals: a message box as the Windows program shows it (the same
// caption, text and buttons, the same default button, Escape for Cancel
// where a box has Cancel), and the progress window: heading, text lines,
// bar, status line (a text beginning with "!" highlighted, without the "!")
// with the elapsed time and an estimate of the time left.

// Message-box flags and button identifiers (platform/dialogs.h).
const ButtonMask = 0xf;
const DefaultSecond = 0x100;
const Buttons = {
  0x0: [['OK', 1]],
  0x1: [['OK', 1], ['Cancel', 2]],
  0x4: [['Yes', 6], ['No', 7]],
  0x5: [['Retry', 4], ['Cancel', 2]],
};
const IdCancel = 2;
const IdOk = 1;

export function showBox(dialog, { caption, text, flags }) {
  const buttons = Buttons[flags & ButtonMask] || Buttons[0];
  dialog.querySelector('.caption').textContent = caption;
  dialog.querySelector('.text').textContent = text.replace(/\r\n/g, '\n').replace(/\r/g, '\n');
  const row = dialog.querySelector('.buttons');
  row.replaceChildren();
  return new Promise((resolve) => {
    const close = (answer) => {
      dialog.oncancel = null;
      dialog.close();
      resolve(answer);
    };
    for (const [label, id] of buttons) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = label;
      button.dataset.answer = String(id);
      button.onclick = () => close(id);
      row.append(button);
    }
    // Escape answers Cancel, or OK for a box with OK alone; Yes/No boxes,
    // like Windows', have no answer for it.
    const cancel = buttons.some(([, id]) => id === IdCancel) ? IdCancel : buttons.length === 1 ? IdOk : null;
    dialog.oncancel = (event) => {
      event.preventDefault();
      if (cancel !== null) close(cancel);
    };
    dialog.showModal();
    // How many boxes were shown: a test tells one box from the next by it.
    dialog.dataset.shown = String(Number(dialog.dataset.shown || 0) + 1);
    const first = (flags & DefaultSecond) !== 0 && buttons.length > 1 ? 1 : 0;
    row.children[first].classList.add('default');
    row.children[first].focus();
  });
}

function minutesSeconds(ms) {
  const s = Math.floor(ms / 1000);
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}

// What an open progress window shows, from the engine's progress messages.
export class ProgressView {
  constructor(dialog, onEscape) {
    this.dialog = dialog;
    this.window = 0;
    this.openedAt = 0;
    this.position = 0;
    this.total = 0;
    this.texts = { elapsed: '%s', timeLeft: '' };  // the engine's, once it is ready
    // Escape held while a window is open: the boot-loader check ends its
    // wait on it, as the Windows program's does.
    dialog.addEventListener('keydown', (event) => {
      if (event.key === 'Escape') onEscape(true);
    });
    dialog.addEventListener('keyup', (event) => {
      if (event.key === 'Escape') onEscape(false);
    });
    dialog.oncancel = (event) => event.preventDefault();
  }

  event(m) {
    const $ = (selector) => this.dialog.querySelector(selector);
    if (m.kind === 'open') {
      this.window = m.window;
      this.openedAt = m.at;
      this.position = this.total = 0;
      $('.lines').replaceChildren(...m.lines.map((line) => Object.assign(document.createElement('p'), { textContent: line })));
      $('.bar').hidden = (m.mode & 1) === 0;
      $('.status').hidden = (m.mode & 2) === 0;
      $('.times').hidden = (m.mode & 1) === 0;
      this.text('');
      this.draw(m.at);
      if (!this.dialog.open) this.dialog.showModal();
      return;
    }
    if (m.window !== this.window) return;
    if (m.kind === 'text') this.text(m.text);
    if (m.kind === 'position') {
      this.position = m.position;
      this.total = m.total;
    }
    if (m.kind === 'close') {
      this.dialog.close();
      return;
    }
    this.draw(m.at);
  }

  text(text) {
    const status = this.dialog.querySelector('.status');
    const highlighted = text.startsWith('!');
    status.textContent = highlighted ? text.slice(1) : text;
    status.classList.toggle('highlighted', highlighted);
    status.classList.toggle('empty', text === '');
  }

  draw(at) {
    const bar = this.dialog.querySelector('.bar');
    const share = this.total > 0 ? Math.min(1, this.position / this.total) : 0;
    bar.querySelector('.done').style.width = `${(share * 100).toFixed(2)}%`;
    bar.setAttribute('aria-valuenow', String(Math.round(share * 100)));
    const elapsed = Math.max(0, at - this.openedAt);
    const fill = (template, value) => template.replace('%s', value);
    let times = fill(this.texts.elapsed, minutesSeconds(elapsed));
    // Below one percent the rate says little yet.
    if (this.total > 0 && this.position * 100 >= this.total && this.position <= this.total && elapsed > 0) {
      times += fill(this.texts.timeLeft, minutesSeconds((elapsed * (this.total - this.position)) / this.position));
    }
    this.dialog.querySelector('.times').textContent = times;
  }
}
