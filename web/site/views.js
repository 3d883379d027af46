// The Flash and Ports pages as the page draws them from the engine's
// messages. Nothing here decides anything: the engine sends the lines, the
// details and the port items as the Windows program shows them.

const PortIcon = {
  // A MIDI socket above a plate, with a red prohibition sign when disabled.
  svg(input, enabled) {
    const plate = input ? 'In' : 'Out';
    const sign = enabled ? '' : '<circle cx="12" cy="9" r="7" class="no"/><line x1="7" y1="14" x2="17" y2="4" class="no"/>';
    return `<svg viewBox="0 0 24 24" aria-hidden="true" class="port-icon">
      <circle cx="12" cy="9" r="6.5" class="socket"/><circle cx="12" cy="9" r="1.3"/>
      <circle cx="8.5" cy="9" r="1"/><circle cx="15.5" cy="9" r="1"/><circle cx="10" cy="6" r="1"/><circle cx="14" cy="6" r="1"/>
      <rect x="3" y="17" width="18" height="6.5" rx="1" class="plate"/>
      <text x="12" y="22.4" text-anchor="middle">${plate}</text>${sign}</svg>`;
  },
};

export function drawPorts(list, items, onToggle) {
  const focused = document.activeElement && list.contains(document.activeElement)
    ? [...list.children].indexOf(document.activeElement) : -1;
  list.replaceChildren();
  items.forEach((item, index) => {
    const li = document.createElement('li');
    li.setAttribute('role', 'option');
    li.setAttribute('aria-selected', String(item.enabled));
    li.tabIndex = index === Math.max(focused, 0) ? 0 : -1;
    li.className = item.enabled ? 'enabled' : 'disabled';
    li.innerHTML = PortIcon.svg(item.input, item.enabled);
    li.append(Object.assign(document.createElement('span'), { textContent: item.text }));
    li.title = item.enabled ? 'enabled' : 'disabled';
    li.ondblclick = () => onToggle(index);
    li.onkeydown = (event) => {
      if (event.key === ' ' || event.key === 'Enter') {
        event.preventDefault();
        onToggle(index);
      } else if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
        event.preventDefault();
        const next = list.children[index + (event.key === 'ArrowDown' ? 1 : -1)];
        if (next) {
          li.tabIndex = -1;
          next.tabIndex = 0;
          next.focus();
        }
      }
    };
    list.append(li);
  });
  if (focused >= 0 && list.children[focused]) list.children[focused].focus();
}

export function drawDevices(select, details, startFlash, m) {
  select.replaceChildren(...m.lines.map((line, index) => new Option(line, String(index))));
  select.selectedIndex = m.selected;
  details.value = m.details.replace(/\r\n/g, '\n');
  startFlash.disabled = !m.canFlash;
}

export function clearDevices(select, details, startFlash) {
  select.replaceChildren();
  details.value = '';
  startFlash.disabled = true;
}

// A line of text in an element that shows only when there is something to say.
export function say(element, text, kind) {
  element.textContent = text || '';
  element.hidden = !text;
  if (kind) element.dataset.kind = kind;
}
