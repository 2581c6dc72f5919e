// The live panel page: draws the windows the bench reports, sends the pointer's gestures to the
// gauges, keeps the event log and the host variables in step with the bench.
'use strict';

const $ = (selector, root = document) => root.querySelector(selector);
const el = (tag, props = {}, ...children) => {
  const node = Object.assign(document.createElement(tag), props);
  for (const child of children) node.append(child);
  return node;
};
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const hex = (id) => '0x' + id.toString(16).toUpperCase();

// Host variables the side panel offers, by group.
const SLIDERS = [
  { group: 'Engines', rows: [
    { name: 'Manifold 1', id: 0x98, min: 0, max: 68000 },
    { name: 'Manifold 2', id: 0xBB, min: 0, max: 68000 },
    { name: 'RPM 1', id: 0x88, min: 0, max: 24000 },
    { name: 'RPM 2', id: 0xAB, min: 0, max: 24000 },
  ] },
  { group: 'Levers', rows: [
    { name: 'Throttle 1', id: 0x80, min: -4096, max: 16384 },
    { name: 'Throttle 2', id: 0xA3, min: -4096, max: 16384 },
    { name: 'Propeller 1', id: 0x81, min: 0, max: 16384 },
    { name: 'Propeller 2', id: 0xA4, min: 0, max: 16384 },
    { name: 'Mixture 1', id: 0x82, min: 0, max: 16384 },
    { name: 'Mixture 2', id: 0xA5, min: 0, max: 16384 },
  ] },
];
const CHOICES = [
  { name: 'Marker', id: 0x162, options: [[0, 'none'], [1, '1 O'], [2, '2 A'], [3, '3 I']],
    titles: ['no beacon', 'outer marker', 'middle marker', 'inner marker'] },
  { name: 'Autopilot', id: 0x67, options: [[0, 'off'], [1, 'on']], titles: ['0', '1'] },
];

const S = {
  version: 0,          // of the last state the bench sent
  nextEvent: 0,        // number of the next log entry to ask for
  primed: false,       // false until the first answer: older sounds are not played
  windows: [],         // per window index: { index, info, canvas, ctx, wanted, shown, loading }
  panel: null,         // /api/panel
  warnings: -1,
  variables: {},
  framesDrawn: 0,
  controls: new Map(), // id -> { update(value) }; a control the user is working keeps its value
};

// ---- The bench's answers --------------------------------------------------------------------

async function getJson(url, options) {
  const response = await fetch(url, options);
  let body = null;
  try { body = await response.json(); } catch (e) { /* not JSON */ }
  if (!response.ok) throw new Error((body && body.error) || `${response.status} ${response.statusText}`);
  return body;
}

async function pollLoop() {
  for (;;) {
    let state;
    try {
      state = await getJson(`/api/poll?since=${S.version}&events=${S.nextEvent}`);
      setLink(true);
    } catch (e) {
      setLink(false, e.message);
      await sleep(1000);
      continue;
    }
    apply(state);
  }
}

function setLink(live, why) {
  $('#link').className = 'dot ' + (live ? 'live' : 'down');
  $('#link-text').textContent = live ? 'live' : `no connection${why ? ' (' + why + ')' : ''}`;
}

function apply(state) {
  S.version = state.version;
  state.frames.forEach((number, index) => {
    const w = S.windows[index];
    if (w && number !== w.shown) {
      w.wanted = number;
      loadFrame(w);
    }
  });
  if (state.nextEvent < S.nextEvent) clearLogView();  // the bench started over
  for (const e of state.events) if (e.number >= S.nextEvent) addEvent(e, S.primed);
  S.nextEvent = state.nextEvent;
  trimLog(state.firstEvent);
  S.variables = state.variables;
  for (const [id, control] of S.controls) control.update(state.variables[hex(id)]);
  if (state.warnings !== S.warnings) {
    S.warnings = state.warnings;
    if (S.primed) refreshWarnings();
  }
  $('#fault').textContent = state.error || '';
  const c = state.stats;
  $('#costs').textContent = `bench: update ${c.updateMs.toFixed(1)} · draw ${c.drawMs.toFixed(1)} · ` +
    `png ${c.encodeMs.toFixed(1)} ms (${(c.pngBytes / 1024).toFixed(0)} KiB)`;
  S.primed = true;
}

// Brings a window's picture up to the frame the bench last announced: the part that changed
// since the frame on the canvas, or the whole picture when the canvas has none yet.
async function loadFrame(w) {
  if (w.loading) return;
  w.loading = true;
  try {
    for (let tries = 0; tries < 4 && w.wanted !== w.shown; ++tries) {
      const response = await fetch(`/api/frame?w=${w.index}&since=${w.shown}`);
      if (!response.ok) break;
      const number = Number(response.headers.get('X-Frame-Number'));
      if (response.status === 200) {
        const [kind, x, y] = (response.headers.get('X-Part') || 'whole 0 0').split(' ');
        const bitmap = await createImageBitmap(await response.blob());
        if (kind === 'whole' && (w.canvas.width !== bitmap.width || w.canvas.height !== bitmap.height)) {
          w.canvas.width = bitmap.width;
          w.canvas.height = bitmap.height;
        }
        w.ctx.drawImage(bitmap, Number(x), Number(y));
        bitmap.close();
        S.framesDrawn++;
      }
      w.shown = number;
      if (number > w.wanted) w.wanted = number;
      w.canvas.dataset.frame = String(number);
    }
  } catch (e) {
    w.shown = 0;  // start again from a whole picture on the next announcement
  } finally {
    w.loading = false;
  }
}

// ---- Windows ------------------------------------------------------------------------------

function buildWindows(panel) {
  const host = $('#windows');
  const visible = panel.windows.filter((w) => w.visible);
  $('#no-windows').hidden = visible.length > 0;
  for (const info of visible) {
    const canvas = el('canvas', { width: info.width, height: info.height });
    canvas.dataset.window = String(info.index);
    const overlay = el('div', { className: 'overlay', hidden: true });
    const stage = el('div', { className: 'stage' }, canvas, overlay);
    const zoom = el('select', { title: 'size on the page' },
      ...[['fit', 'fit'], ['0.5', '50%'], ['1', '100%'], ['1.5', '150%'], ['2', '200%']]
        .map(([value, text]) => el('option', { value, textContent: text })));
    const boxes = el('input', { type: 'checkbox' });
    const foot = el('div', { className: 'window-foot' }, '\u00a0');
    const facts = `window ${String(info.number).padStart(2, '0')} · ${info.width}×${info.height}` +
      (info.ident ? ` · ident ${info.ident}` : '') + ` · ${info.gauges.length} gauges`;
    const card = el('article', { className: 'window' },
      el('div', { className: 'window-head' },
        el('span', { className: 'title', textContent: info.title || `Window ${info.number}` }),
        el('span', { className: 'facts', textContent: facts }),
        el('label', {}, boxes, 'gauge boxes'),
        el('label', {}, 'size', zoom)),
      el('div', { className: 'stage-scroll' }, stage),
      foot);
    host.append(card);
    const w = { index: info.index, info, canvas, ctx: canvas.getContext('2d'), overlay, foot,
                wanted: 0, shown: 0, loading: false, held: false };
    S.windows[info.index] = w;
    drawOverlay(w);
    const resize = () => {
      const scale = zoom.value === 'fit' ? null : Number(zoom.value);
      stage.style.width = scale ? `${Math.round(info.width * scale)}px` : '100%';
      stage.style.maxWidth = scale ? 'none' : `${info.width * 2}px`;
      canvas.classList.toggle('pixelated', scale !== null && scale > 1);
    };
    zoom.addEventListener('change', resize);
    resize();
    boxes.addEventListener('change', () => { overlay.hidden = !boxes.checked; });
    wirePointer(w);
  }
}

function drawOverlay(w) {
  const { info, overlay } = w;
  overlay.replaceChildren();
  const pct = (v, total) => `${(100 * v / total).toFixed(4)}%`;
  for (const g of info.gauges) {
    const box = el('div', { className: 'box' + (g.module ? '' : ' failed') },
      el('span', { textContent: g.module ? g.gaugeName || g.name : `${g.name} (failed)` }));
    Object.assign(box.style, { left: pct(g.x, info.width), top: pct(g.y, info.height),
                               width: pct(g.w, info.width), height: pct(g.h, info.height) });
    overlay.append(box);
    if (!g.nativeWidth || !g.nativeHeight) continue;
    for (const a of g.areas) {
      const area = el('div', { className: 'area' });
      const sx = g.w / g.nativeWidth, sy = g.h / g.nativeHeight;
      Object.assign(area.style, { left: pct(g.x + a.x * sx, info.width), top: pct(g.y + a.y * sy, info.height),
                                  width: pct(a.w * sx, info.width), height: pct(a.h * sy, info.height) });
      overlay.append(area);
    }
  }
}

// The window-background pixel under a pointer event.
function windowPixel(canvas, event) {
  const r = canvas.getBoundingClientRect();
  return {
    x: Math.floor((event.clientX - r.left) * canvas.width / r.width),
    y: Math.floor((event.clientY - r.top) * canvas.height / r.height),
  };
}

// The topmost gauge whose box holds the point, with the point in its own pixels.
function gaugeAt(info, x, y) {
  for (let i = info.gauges.length - 1; i >= 0; --i) {
    const g = info.gauges[i];
    if (x < g.x || y < g.y || x >= g.x + g.w || y >= g.y + g.h) continue;
    const gx = g.nativeWidth ? Math.floor((x - g.x) * g.nativeWidth / g.w) : x - g.x;
    const gy = g.nativeHeight ? Math.floor((y - g.y) * g.nativeHeight / g.h) : y - g.y;
    const area = g.areas.some((a) => gx >= a.x && gy >= a.y && gx < a.x + a.w && gy < a.y + a.h);
    return { g, gx, gy, area };
  }
  return null;
}

function describePoint(w, p) {
  const hit = gaugeAt(w.info, p.x, p.y);
  w.canvas.classList.toggle('over-area', !!(hit && hit.area));
  let text = `(${p.x}, ${p.y})`;
  if (hit) text += `   ${hit.g.gaugeName || hit.g.name}  (${hit.gx}, ${hit.gy})${hit.area ? '  mouse area' : ''}`;
  w.foot.textContent = text;
}

function wirePointer(w) {
  const c = w.canvas;
  c.addEventListener('pointerdown', (e) => {
    if (e.button !== 0) return;
    e.preventDefault();
    c.setPointerCapture(e.pointerId);
    w.held = true;
    const p = windowPixel(c, e);
    gesture(w, 'press', p);
  });
  c.addEventListener('pointermove', (e) => {
    const p = windowPixel(c, e);
    describePoint(w, p);
    if (w.held) gesture(w, 'move', p);
  });
  const end = (e) => {
    if (!w.held) return;
    w.held = false;
    gesture(w, 'release', windowPixel(c, e));
  };
  c.addEventListener('pointerup', end);
  c.addEventListener('pointercancel', end);
  c.addEventListener('lostpointercapture', end);
  c.addEventListener('pointerleave', () => { if (!w.held) w.foot.textContent = '\u00a0'; });
}

// Gestures go to the bench one at a time, in order; moves waiting behind a request collapse
// into the newest, so a fast drag never falls behind.
const gestures = [];
let gesturesBusy = false;
function gesture(w, kind, p) {
  const last = gestures[gestures.length - 1];
  if (kind === 'move' && last && last.kind === 'move' && last.w === w) {
    last.p = p;
    return;
  }
  gestures.push({ w, kind, p });
  pumpGestures();
}
async function pumpGestures() {
  if (gesturesBusy) return;
  gesturesBusy = true;
  while (gestures.length) {
    const { w, kind, p } = gestures.shift();
    try {
      const answer = await getJson(`/api/pointer?w=${w.index}&gesture=${kind}&x=${p.x}&y=${p.y}`, { method: 'POST' });
      if (kind === 'press' && !answer.hit) w.foot.textContent = `(${p.x}, ${p.y})   no gauge takes a press here`;
    } catch (e) {
      w.foot.textContent = `${kind} failed: ${e.message}`;
    }
  }
  gesturesBusy = false;
}

// ---- Host variables -----------------------------------------------------------------------

const pendingSets = new Map();
let setsBusy = false;
function setVariable(id, value) {
  pendingSets.set(id, value);
  pumpSets();
}
async function pumpSets() {
  if (setsBusy) return;
  setsBusy = true;
  while (pendingSets.size) {
    const [id, value] = pendingSets.entries().next().value;
    pendingSets.delete(id);
    try {
      await getJson(`/api/set?id=${encodeURIComponent(hex(id))}&value=${encodeURIComponent(value)}`, { method: 'POST' });
    } catch (e) {
      $('#free-error').textContent = `${hex(id)}: ${e.message}`;
    }
  }
  setsBusy = false;
}

function buildControls() {
  const root = $('#controls');
  for (const { group, rows } of SLIDERS) {
    const box = el('div', { className: 'group' }, el('div', { className: 'group-title', textContent: group }));
    for (const row of rows) {
      const range = el('input', { type: 'range', min: row.min, max: row.max, step: 1, value: 0 });
      const number = el('input', { type: 'number', step: 'any', value: 0 });
      range.dataset.var = hex(row.id);
      number.dataset.var = hex(row.id);
      range.setAttribute('aria-label', `${row.name} (${hex(row.id)})`);
      number.setAttribute('aria-label', `${row.name} (${hex(row.id)}) value`);
      range.addEventListener('input', () => { number.value = range.value; setVariable(row.id, range.value); });
      number.addEventListener('change', () => {
        if (number.value === '' || !Number.isFinite(Number(number.value))) return;
        range.value = number.value;
        setVariable(row.id, number.value);
      });
      const control = {
        update(value) {
          const v = value === undefined || value === null ? 0 : value;
          if (document.activeElement !== number) number.value = String(v);
          if (!range.matches(':active')) range.value = String(v);
        },
      };
      S.controls.set(row.id, control);
      number.addEventListener('blur', () => control.update(S.variables[hex(row.id)]));
      box.append(el('div', { className: 'var-row' },
        el('label', { className: 'name' }, row.name, el('code', { textContent: hex(row.id) })), range, number));
    }
    root.append(box);
  }
  for (const choice of CHOICES) {
    const buttons = choice.options.map(([value, text], i) => {
      const b = el('button', { type: 'button', textContent: text, title: `${hex(choice.id)} = ${value}: ${choice.titles[i]}` });
      b.dataset.var = hex(choice.id);
      b.dataset.value = String(value);
      b.addEventListener('click', () => {
        buttons.forEach((other) => other.classList.toggle('on', other === b));
        setVariable(choice.id, value);
      });
      return b;
    });
    S.controls.set(choice.id, {
      update(value) {
        const v = value === undefined || value === null ? 0 : value;
        buttons.forEach((b) => b.classList.toggle('on', Number(b.dataset.value) === v));
      },
    });
    root.append(el('div', { className: 'seg-row' },
      el('span', { className: 'name' }, choice.name, ' ', el('code', { className: 'muted', textContent: hex(choice.id) })),
      el('div', { className: 'seg' }, ...buttons)));
  }
  $('#free').addEventListener('submit', (e) => {
    e.preventDefault();
    const text = $('#free-text').value;
    const m = /^\s*(0x[0-9a-f]{1,8}|\d{1,10})\s*=\s*(\S+)\s*$/i.exec(text);
    if (!m) {
      $('#free-error').textContent = 'write id = value, e.g. 0x162 = 2';
      return;
    }
    $('#free-error').textContent = '';
    setVariable(Number(m[1]), m[2]);
  });
}

// ---- Event log ------------------------------------------------------------------------------

const LOG_LIMIT = 1000;
function addEvent(e, fresh) {
  const log = $('#log');
  const stick = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  const what = el('span', { className: 'what', title: e.text });
  const item = el('li', { className: e.kind + (fresh ? ' fresh' : '') },
    el('span', { className: 'num', textContent: String(e.number) }),
    el('span', { className: 'mod', textContent: e.module, title: e.module }),
    what);
  item.dataset.number = String(e.number);
  if (e.kind === 'key') {
    what.append('key ', el('b', { textContent: hex(e.id) }), ` value ${e.value}`);
    item.append(el('span'));
  } else {
    what.append('sound ', el('b', { textContent: String(e.id) }), ` · ${(e.bytes / 1024).toFixed(1)} KiB`);
    const play = el('button', { className: 'play', type: 'button', textContent: '▶', title: 'play' });
    play.addEventListener('click', () => playSound(e.number));
    item.append(play);
    if (fresh && $('#sound-on').checked) playSound(e.number);
  }
  log.append(item);
  while (log.childElementCount > LOG_LIMIT) log.firstElementChild.remove();
  if (stick) log.scrollTop = log.scrollHeight;
  updateLogCount();
}

function playSound(number) {
  const audio = new Audio(`/api/sound/${number}.wav`);
  audio.play().catch(() => { /* the browser wants a gesture first, or the entry is gone */ });
}

function trimLog(first) {
  const log = $('#log');
  while (log.firstElementChild && Number(log.firstElementChild.dataset.number) < first) log.firstElementChild.remove();
  updateLogCount();
}
function clearLogView() { $('#log').replaceChildren(); updateLogCount(); }
function updateLogCount() {
  const n = $('#log').childElementCount;
  $('#log-count').textContent = n ? `(${n})` : '';
}

// ---- Warnings, frame counter, start ---------------------------------------------------------

async function refreshWarnings() {
  try {
    showWarnings(await getJson('/api/panel'));
  } catch (e) { /* shown on the next change */ }
}
function showWarnings(panel) {
  const list = panel.warnings.slice();
  for (const w of panel.windows)
    for (const g of w.gauges) if (g.error && !list.some((t) => t.includes(g.error))) list.push(`${g.name}: ${g.error}`);
  $('#warnings').replaceChildren(...list.map((t) => el('li', { textContent: t })));
  $('#warnings-card').hidden = list.length === 0;
}

function countFrames() {
  let last = S.framesDrawn;
  setInterval(() => {
    const n = S.framesDrawn - last;
    last = S.framesDrawn;
    $('#fps').textContent = `${n} frames/s`;
    document.body.dataset.fps = String(n);
  }, 1000);
}

async function start() {
  buildControls();
  $('#clear').addEventListener('click', async () => {
    try { await getJson('/api/clear', { method: 'POST' }); } catch (e) { /* stays */ }
  });
  for (;;) {
    try {
      S.panel = await getJson('/api/panel');
      break;
    } catch (e) {
      setLink(false, e.message);
      await sleep(1000);
    }
  }
  buildWindows(S.panel);
  showWarnings(S.panel);
  countFrames();
  pollLoop();
}

start();
