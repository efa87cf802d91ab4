// The web control page: patterns and their options, the generator's
// options, the window control and a live view of the output, all through
// the generator's JSON endpoints. Texts from the generator are always set
// as text, never as markup.
'use strict';

const $ = (id) => document.getElementById(id);

// Timings the browser test reads: when the first picture of the output was
// shown, and for each change when the output showing it appeared.
const stats = (window.orvaneStats = {
  firstLive: null, // ms after navigation start
  shown: [], // {frame, at}
  changes: [], // {at, frame, seen}
});

const state = {
  bits: 10,
  patterns: {}, // name -> revision or "Alias/<pattern>"
  current: {}, // the parameters of the pattern shown
  values: {}, // the generator's values
  pattern: null, // the pattern whose options are on the page
  window: null, // the window-control model
  windowColors: [], // the colour choices the window control shows
  frame: '0', // the frame the live view shows
};

// ---- talking to the generator ----

class Failure extends Error {}

async function answer(r) {
  const type = r.headers.get('Content-Type') || '';
  const body = type.startsWith('application/json') ? await r.json() : null;
  if (!r.ok) throw new Failure((body && body.error) || `${r.status} ${r.statusText}`);
  return body;
}

async function getJson(path) {
  return answer(await fetch(path, { cache: 'no-store' }));
}

async function postJson(path, body) {
  return answer(
    await fetch(path, {
      method: 'POST',
      cache: 'no-store',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
    }),
  );
}

function say(text, bad = false) {
  const m = $('message');
  m.textContent = text;
  m.classList.toggle('bad', bad);
}

// A change posted; with wait, noted so the live view can tell when it shows.
async function post(path, body, wait) {
  const at = performance.now();
  try {
    const a = await postJson(wait ? `${path}?wait=1` : path, body);
    if (a && a.frame !== undefined) stats.changes.push({ at, frame: Number(a.frame), seen: null });
    say('');
    return a;
  } catch (e) {
    say(e.message, true);
    return null;
  }
}

// ---- reading the generator's texts as it reads them ----

// Whole numbers with automatic base: "0x" hexadecimal, a leading "0" octal.
function parseAutoInt(text) {
  const t = String(text).trim();
  const m = /^([+-]?)(0[xX][0-9a-fA-F]+|0[0-7]*|[1-9][0-9]*)/.exec(t);
  if (!m) return 0;
  const sign = m[1] === '-' ? -1 : 1;
  const digits = m[2];
  let v;
  if (/^0[xX]/.test(digits)) v = parseInt(digits.slice(2), 16);
  else if (digits.length > 1 && digits[0] === '0') v = parseInt(digits.slice(1), 8);
  else v = parseInt(digits, 10);
  return sign * v;
}

// Booleans by prefix, ignoring case: "true", "yes" and "1" are true.
function parseBool(text) {
  const t = String(text).toLowerCase();
  return t.startsWith('true') || t.startsWith('yes') || t.startsWith('1');
}

// Six significant digits, as the control panel sends doubles.
function significant6(v) {
  return String(Number(Number(v).toPrecision(6)));
}

function lowerAscii(s) {
  return String(s).replace(/[A-Z]/g, (c) => c.toLowerCase());
}

// ---- option forms built from describe maps ----

function field(d, key) {
  return Object.prototype.hasOwnProperty.call(d, key) ? d[key] : undefined;
}

// One editor per descriptor; null for types that have none. onChange
// receives the map to post.
function makeEditor(d, current, onChange) {
  const name = d.Name;
  const def = field(d, 'DefaultValue') ?? field(d, 'Value') ?? '';
  const value = field(current, name) ?? def;
  const type = d.DataType;
  let editor;
  let read; // the value text the predicates of other options compare with

  if (type === 'Integer') {
    editor = document.createElement('input');
    editor.type = 'number';
    editor.step = '1';
    const v = parseAutoInt(value);
    const lo = field(d, 'MinValue') !== undefined ? parseAutoInt(d.MinValue) : null;
    const hi = field(d, 'MaxValue') !== undefined ? parseAutoInt(d.MaxValue) : null;
    // A default outside the limits ("-1: all that fits") is shown as it is.
    if (lo !== null) editor.min = String(Math.min(lo, v));
    if (hi !== null) editor.max = String(Math.max(hi, v));
    editor.value = String(v);
    editor.addEventListener('change', () => {
      if (!editor.validity.valid || editor.value === '') return say(`${name}: not a whole number in range`, true);
      onChange({ [name]: String(Math.trunc(Number(editor.value))) });
    });
    read = () => editor.value;
  } else if (type === 'Boolean') {
    editor = document.createElement('input');
    editor.type = 'checkbox';
    editor.checked = parseBool(value);
    editor.addEventListener('change', () => onChange({ [name]: editor.checked ? '1' : '0' }));
    read = () => (editor.checked ? 'true' : 'false');
  } else if (type === 'String') {
    editor = document.createElement('span');
    editor.textContent = `String: ${value}`;
    read = () => String(value);
  } else if (type === 'Double') {
    editor = document.createElement('input');
    editor.type = 'number';
    editor.step = 'any';
    if (field(d, 'MinValue') !== undefined) editor.min = String(Number(d.MinValue));
    if (field(d, 'MaxValue') !== undefined) editor.max = String(Number(d.MaxValue));
    const v = Number(value);
    editor.value = String(Number.isFinite(v) ? v : 0);
    editor.addEventListener('change', () => {
      if (!editor.validity.valid || editor.value === '') return say(`${name}: not a number in range`, true);
      onChange({ [name]: significant6(editor.value) });
    });
    read = () => editor.value;
  } else if (type === 'Enumeration') {
    editor = document.createElement('select');
    const n = Math.min(Math.max(parseAutoInt(field(d, 'nVal') ?? '0'), 0), 4096);
    let selected = 0;
    for (let i = 0; i < n; i++) {
      const item = field(d, name + i);
      if (item === undefined) break;
      const o = document.createElement('option');
      o.textContent = item;
      o.value = item;
      editor.append(o);
      if (item === value) selected = i;
    }
    editor.selectedIndex = editor.options.length ? selected : -1;
    editor.addEventListener('change', () => onChange({ [name]: editor.value }));
    read = () => editor.value;
  } else if (type === 'RGB') {
    editor = document.createElement('div');
    editor.className = 'rgb';
    const top = 2 ** Math.min(Math.max(state.bits, 1), 16) - 1;
    const boxes = [];
    for (const comp of ['Red', 'Green', 'Blue']) {
      const key = `${name}_${comp}`;
      const compDef = field(d, 'DefaultValue' + comp[0]) ?? field(d, 'Value') ?? '0';
      const label = document.createElement('label');
      const box = document.createElement('input');
      box.type = 'number';
      box.min = '0';
      box.max = String(top);
      box.step = '1';
      box.name = key;
      box.value = String(parseAutoInt(field(current, key) ?? compDef));
      box.setAttribute('aria-label', `${name} ${comp}`);
      label.append(box, document.createTextNode(comp));
      editor.append(label);
      boxes.push([key, box]);
    }
    const send = () => {
      const map = {};
      for (const [key, box] of boxes) {
        if (!box.validity.valid || box.value === '') return say(`${key}: 0 to ${top}`, true);
        map[key] = Math.trunc(Number(box.value));
      }
      onChange(map);
    };
    for (const [, box] of boxes) box.addEventListener('change', send);
    read = () => boxes.map(([, b]) => b.value).join(',');
  } else if (type === 'RoInteger') {
    // Read-only values the generator publishes (bit depth, levels).
    editor = document.createElement('output');
    editor.textContent = String(value);
    read = () => String(value);
  } else {
    return null;
  }
  editor.id = `opt-${name}`;
  editor.dataset.option = name;
  if (d.Description) editor.title = d.Description;
  return { editor, read, type };
}

// Rows of a form, one per descriptor that has an editor; options whose
// predicate does not hold are hidden.
function buildForm(form, descriptors, current, onChange) {
  form.replaceChildren();
  const rows = new Map(); // name -> {row, read, type, d}
  const update = () => applyPredicates(rows);
  for (const d of descriptors) {
    const made = makeEditor(d, current, (map) => {
      update();
      onChange(map);
    });
    if (!made) continue;
    const row = document.createElement('div');
    row.className = 'row';
    const label = document.createElement('label');
    label.className = 'name';
    label.textContent = d.Name;
    if (made.editor.tagName === 'INPUT' || made.editor.tagName === 'SELECT') label.htmlFor = made.editor.id;
    row.append(label, made.editor);
    form.append(row);
    rows.set(d.Name, { row, read: made.read, type: made.type, d });
  }
  update();
  return rows.size;
}

function predicateHolds(rows, name, depth = 0) {
  const entry = rows.get(name);
  const d = entry.d;
  const on = field(d, 'uiPredicatesOnField');
  const want = field(d, 'uiPredicatesOnValue');
  if (on === undefined || want === undefined) return true;
  const ctl = rows.get(on);
  if (!ctl) return true; // the controlling option is not on this page
  // An option whose controller is hidden is hidden too.
  if (depth < 16 && !predicateHolds(rows, on, depth + 1)) return false;
  const have = ctl.read();
  const equal = ctl.type === 'Boolean' ? parseBool(have) === parseBool(want) : lowerAscii(have) === lowerAscii(want);
  // Logic 1: shown when the value matches; 0: shown when it does not.
  return field(d, 'uiPredicateLogic') === '0' ? !equal : equal;
}

function applyPredicates(rows) {
  for (const [name, entry] of rows) entry.row.hidden = !predicateHolds(rows, name);
}

// ---- status ----

async function loadStatus() {
  const s = await getJson('api/status');
  state.bits = s.bits || state.bits;
  $('st-name').textContent = s.name || '—';
  $('st-version').textContent = `${s.version} (build ${s.software})`;
  $('st-format').textContent = s.videoFormat || '—';
  $('st-output').textContent = s.output + (s.gateware ? `, gateware ${s.gateware}` : '');
  $('st-protocols').textContent =
    (s.protocols || [])
      .map((p) => `${p.name} ${p.address ? p.address + ':' : 'port '}${p.port}`)
      .concat(s.calibration || [])
      .join(', ') || '—';
  return s;
}

// ---- patterns ----

async function loadGenerator() {
  // The signal options (transfer function, colorimetry, HDR metadata) too.
  const maps = await getJson('api/generator?signal=1');
  state.values = maps[maps.length - 2] || {};
  state.current = maps[maps.length - 1] || {};
  return maps;
}

function fillPatternList() {
  const list = $('pattern-list');
  const filter = lowerAscii($('pattern-filter').value.trim());
  const keep = list.value;
  list.replaceChildren();
  for (const name of Object.keys(state.patterns)) {
    if (filter && !lowerAscii(name).includes(filter)) continue;
    const o = document.createElement('option');
    o.value = name;
    const target = state.patterns[name];
    o.textContent = target.startsWith('Alias/') ? `${name}  (alias of ${target.slice(6)})` : name;
    o.title = o.textContent;
    list.append(o);
  }
  list.value = keep;
}

async function showPatternOptions(name) {
  state.pattern = name;
  $('pattern-title').textContent = name;
  const note = $('pattern-note');
  note.hidden = true;
  let options;
  try {
    options = await getJson(`api/pattern?name=${encodeURIComponent(name)}`);
  } catch (e) {
    // An alias has no options of its own: edit those of its pattern.
    const target = state.patterns[name] || '';
    if (!target.startsWith('Alias/')) throw e;
    options = await getJson(`api/pattern?name=${encodeURIComponent(target.slice(6))}`);
    note.textContent = `An alias of ${target.slice(6)}.`;
    note.hidden = false;
  }
  const rows = buildForm($('pattern-form'), options, state.current, (map) => post('api/set', map, true));
  if (!rows) {
    note.textContent = 'This pattern has no options to edit here.';
    note.hidden = false;
  }
}

async function choosePattern(name, options = {}) {
  const a = await post('api/set', { ...options, Pattern: name }, true);
  if (!a) return;
  await loadGenerator();
  await showPatternOptions(name);
  loadStatus().catch(() => {});
}

// ---- generator ----

async function showGenerator() {
  const maps = await loadGenerator();
  const descriptors = maps.slice(0, Math.max(maps.length - 2, 0));
  buildForm($('generator-form'), descriptors, state.values, async (map) => {
    await post('api/set', map, true);
    loadStatus().catch(() => {});
  });
}

// ---- window control ----

function radios(fieldset, name, labels, checked, onPick) {
  for (const el of [...fieldset.querySelectorAll('label')]) el.remove();
  labels.forEach((text, i) => {
    const label = document.createElement('label');
    const input = document.createElement('input');
    input.type = 'radio';
    input.name = name;
    input.value = String(i);
    input.checked = i === checked;
    input.addEventListener('change', () => onPick(i));
    label.append(input, document.createTextNode(String(text)));
    fieldset.append(label);
  });
}

function picked(name) {
  const i = document.querySelector(`input[name="${name}"]:checked`);
  return i ? Number(i.value) : 0;
}

async function sendWindow() {
  const m = state.window;
  const body = {
    size: m.sizes[picked('win-size')],
    steps: m.count,
    level: picked('win-level'),
    color: state.windowColors.length ? state.windowColors[picked('win-color')] : 'White',
  };
  const a = await post('api/window', body, true);
  if (a && a.request) {
    const r = a.request;
    $('win-request').textContent =
      `Window ${r.Size}: red ${r.Color_Red}, green ${r.Color_Green}, blue ${r.Color_Blue}`;
  }
}

async function buildLevels(steps) {
  state.window = await getJson(`api/window?steps=${encodeURIComponent(steps)}`);
  radios($('win-levels'), 'win-level', state.window.levels, state.window.checked, sendWindow);
}

// colours: 'any' (white or a colour, from the tab), 'white' (no colour
// choice, as for white balance) or 'colors' (red first, as for colour gamut).
async function showWindowControl(colours = 'any') {
  const m = await getJson('api/window');
  state.window = m;
  state.windowColors = colours === 'white' ? [] : colours === 'colors' ? m.colors.filter((c) => c !== 'White') : m.colors;
  $('win-color').hidden = state.windowColors.length === 0;
  radios($('win-size'), 'win-size', m.sizes, 0, sendWindow);
  radios($('win-steps'), 'win-steps', m.steps, m.steps.indexOf(String(m.count)), async (i) => {
    await buildLevels(m.steps[i]);
    await sendWindow();
  });
  radios($('win-color'), 'win-color', state.windowColors, 0, sendWindow);
  radios($('win-levels'), 'win-level', m.levels, m.checked, sendWindow);
  // Opening the page shows its window, as the panel's page does.
  await sendWindow();
}

// ---- tabs ----

const pages = {
  'tab-patterns': { page: 'page-patterns', show: null },
  'tab-calibrate': { page: 'page-calibrate', show: null },
  'tab-performance': { page: 'page-performance', show: null },
  'tab-generator': { page: 'page-generator', show: showGenerator },
  'tab-window': { page: 'page-window', show: () => showWindowControl('any') },
};

function selectTab(id, show = pages[id].show) {
  for (const [tab, p] of Object.entries(pages)) {
    const on = tab === id;
    $(tab).setAttribute('aria-selected', on ? 'true' : 'false');
    $(p.page).hidden = !on;
  }
  if (show) show().catch((e) => say(e.message, true));
}

// The control panel's calibration and performance lists: each entry shows
// a pattern with some options set, or the window control.
const shortcuts = {
  'page-calibrate': [
    ['Black Level', { pattern: 'Brightness' }],
    ['White Level', { pattern: 'Contrast' }],
    ['Color/Tint', { pattern: 'Color' }],
    ['Sharpness', { pattern: 'Sharpness' }],
    ['White Balance', { window: 'white' }],
    ['Color Gamut', { window: 'colors' }],
    ['Grayscale', { pattern: 'Gradient', options: { Steps: '0' } }],
    ['Proofing', { pattern: 'Nimbra-Test-Card' }],
  ],
  'page-performance': [
    ['Resolution', { pattern: 'Resolution' }],
    ['Scaling', { pattern: 'ZonePlate', options: { Scale: '180' } }],
    ['Contrast Ratio', { pattern: 'Checkerboard' }],
    ['Color Ramps', { pattern: 'Gradient', options: { Style: 'RGBCMYK', Steps: '0' } }],
    ['Color Gamut', { pattern: 'Chromaticity' }],
    ['Geometry', { pattern: 'Geometry' }],
    ['Dynamic Range', { pattern: 'DynamicRange' }],
  ],
};

function buildShortcuts() {
  for (const [page, entries] of Object.entries(shortcuts)) {
    const list = $(page).querySelector('.shortcuts');
    for (const [text, what] of entries) {
      const b = document.createElement('button');
      b.type = 'button';
      b.textContent = text;
      b.addEventListener('click', () => {
        if (what.window) return selectTab('tab-window', () => showWindowControl(what.window));
        if (!Object.prototype.hasOwnProperty.call(state.patterns, what.pattern))
          return say(`This generator has no pattern ${what.pattern}.`, true);
        $('pattern-filter').value = '';
        fillPatternList();
        $('pattern-list').value = what.pattern;
        selectTab('tab-patterns', () => choosePattern(what.pattern, what.options));
      });
      list.append(b);
    }
  }
}

// ---- live view ----

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function liveLoop() {
  const img = $('live');
  const info = $('live-info');
  let url = null;
  let first = true;
  for (;;) {
    const w = 640;
    const h = 360;
    const path = first ? `api/live?w=${w}&h=${h}` : `api/live?after=${state.frame}&wait=10000&w=${w}&h=${h}`;
    try {
      const r = await fetch(path, { cache: 'no-store' });
      if (r.status === 200) {
        const blob = await r.blob();
        const next = URL.createObjectURL(blob);
        img.src = next;
        await img.decode();
        if (url) URL.revokeObjectURL(url);
        url = next;
        first = false;
        state.frame = r.headers.get('X-Orvane-Frame') || state.frame;
        const at = performance.now();
        const frame = Number(state.frame);
        if (stats.firstLive === null) stats.firstLive = at;
        stats.shown.push({ frame, at });
        if (stats.shown.length > 1000) stats.shown.shift();
        for (const c of stats.changes) if (c.seen === null && frame >= c.frame) c.seen = at;
        info.textContent =
          `Frame ${state.frame} · ${r.headers.get('X-Orvane-Format') || ''} · ` +
          `${r.headers.get('X-Orvane-Source') || ''}`;
      } else if (r.status === 204) {
        first = false;
        state.frame = r.headers.get('X-Orvane-Frame') || state.frame;
      } else {
        info.textContent = `No picture: ${r.status} ${r.statusText}`;
        await sleep(1000);
      }
    } catch (e) {
      info.textContent = 'The generator does not answer; trying again…';
      first = true;
      await sleep(1000);
    }
  }
}

// ---- start ----

async function start() {
  for (const id of Object.keys(pages)) $(id).addEventListener('click', () => selectTab(id));
  buildShortcuts();
  liveLoop();
  try {
    await loadStatus();
    state.patterns = await getJson('api/patterns');
    await loadGenerator();
    fillPatternList();
    // The pattern shown is selected without being sent again.
    const shown = state.current.Pattern;
    if (shown !== undefined && Object.prototype.hasOwnProperty.call(state.patterns, shown)) {
      $('pattern-list').value = shown;
      await showPatternOptions(shown);
    }
  } catch (e) {
    say(e.message, true);
  }
  $('pattern-list').addEventListener('change', (e) => {
    if (e.target.value) choosePattern(e.target.value).catch((err) => say(err.message, true));
  });
  $('pattern-filter').addEventListener('input', fillPatternList);
}

start();
