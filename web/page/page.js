// The page: reads a D88 file given to it, shows what d88info shows, lets one
// look inside each file (hex and text) and each disk (a map of its
// sectors), gives the files as d88extract -a writes them, one by one or as
// zips, and the image with files put back as d88put puts them. The work is
// done by the tools' own code, compiled to WebAssembly (d88web.js); the page
// only shows what the binding gives it.
'use strict';

const IMAGE = '/image.d88';  // where the binding reads the image
const CATALOGUE = '/catalogue.d88';  // where it sums up each file of several
const LANGUAGE_KEY = 'd88extract-language';
const $ = (id) => document.getElementById(id);

// ---- The page's words (texts.js), in the language chosen last or else the
// browser's.

const storedLanguage = () => {
  try {
    return localStorage.getItem(LANGUAGE_KEY);
  } catch {
    return null;  // storage turned off: the browser's language it is
  }
};
let language = d88Language(storedLanguage(), navigator.languages);
const t = (key, params = {}) => d88Texts[language][key].replace(/\{(\w+)\}/g, (_, name) => params[name]);
// The words for `n` things: the key's One or Many form.
const tn = (key, n, params = {}) => t(key + (n === 1 ? 'One' : 'Many'), {n, ...params});

// The page's own texts, set from the table by their data-t attributes.
function applyTexts() {
  document.documentElement.lang = language;
  document.title = t('title');
  for (const element of document.querySelectorAll('[data-t]')) element.textContent = t(element.dataset.t);
  for (const [attribute, key] of [['placeholder', 'tPlaceholder'], ['aria-label', 'tLabel']]) {
    for (const element of document.querySelectorAll(`[data-${key.replace(/[A-Z]/, (c) => '-' + c.toLowerCase())}]`)) {
      element.setAttribute(attribute, t(element.dataset[key]));
    }
  }
  for (const button of document.querySelectorAll('#languages button')) {
    button.setAttribute('aria-pressed', String(button.dataset.language === language));
  }
}
applyTexts();

const state = {
  name: '',
  original: null,  // the bytes of the file as it was given
  module: null,
  summary: null,   // the binding's summary: every disk and its files
  // Replaced files by 'disk/name': {disk, name, bytes, from}.
  replaced: new Map(),
  dirty: false,  // replacements not yet downloaded
  replaceTarget: null,
  addTarget: null,  // {disk, table} of an Add file… under way
  busy: false,
  preview: null,  // {disk, file, size, view, lines}
  status: () => t('loading'),  // the status line, written again in another language
  report: null,  // the report's heading and page-made text, as functions
  catalogue: null,  // several files given: {files, rows, total, shown}
};
$('status').textContent = state.status();
// Timings of the last listing, zip and preview, in milliseconds, for the
// tests and the bench: each is taken after the page has painted.
window.d88Timings = {};
const ready = createD88Web().then((module) => {
  setStatus(() => t('ready'));
  return module;
}, (error) => {
  setStatus(() => t('noWasm', {error}));
});

// Numbers are shown in decimal, with their hexadecimal on hover.
const hex = (value, width) => (value >>> 0).toString(16).toUpperCase().padStart(width, '0');
const escapeHtml = (text) => String(text).replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);
const number = (value, width) => `<span class="data" title="0x${hex(value, width)}">${value}</span>`;
const data = (text) => `<span class="data">${escapeHtml(text)}</span>`;
const painted = () => new Promise((resolve) =>
  requestAnimationFrame(() => requestAnimationFrame(resolve)));
const baseName = () => state.name.replace(/\.[^.]*$/, '');

// The status line: `text` gives it in the page's language.
function setStatus(text, progress) {
  state.status = text;
  $('status').textContent = text();
  const bar = $('progress');
  bar.hidden = progress === undefined;
  if (progress !== undefined) {
    if (progress === null) bar.removeAttribute('value');
    else bar.value = progress;
  }
}

function setBusy(busy) {
  state.busy = busy;
  for (const button of document.querySelectorAll('.toolbar button, button.disk-zip')) {
    button.disabled = busy || (button.id === 'reset' && !state.replaced.size);
  }
}

function download(name, parts) {
  const url = URL.createObjectURL(new Blob(parts, {type: 'application/octet-stream'}));
  const link = Object.assign(document.createElement('a'), {href: url, download: name});
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// ---- The listing: a summary of every disk at once; a disk's rows when it
// comes into view.

const verdictOrder = {complete: 0, incomplete: 1, skipped: 2};
function shownFiles(disk) {
  const query = $('filter-name').value.trim().toUpperCase();
  const verdict = $('filter-verdict').value;
  const sort = $('sort').value;
  const files = disk.files.map((file, i) => ({file, i}))
      .filter(({file}) => (!query || file.name.toUpperCase().includes(query)) &&
        (!verdict || file.verdict === verdict));
  const by = {
    name: (a, b) => a.file.name.localeCompare(b.file.name) || a.i - b.i,
    size: (a, b) => a.file.size - b.file.size || a.i - b.i,
    verdict: (a, b) => verdictOrder[a.file.verdict] - verdictOrder[b.file.verdict] || a.i - b.i,
  }[sort];
  return by ? files.sort(by) : files;
}

// A file's verdict in words, as d88info's listing gives it in English.
function verdictText(file) {
  if (file.verdict === 'incomplete') {
    return t('verdictIncomplete', {read: hex(file.bytesRead, 4), size: hex(file.size, 4)});
  }
  return file.reason ? t('verdictSkipped', {reason: t(file.reason)}) : t(file.verdict);
}

function rowHtml(disk, file, i) {
  const key = `${disk.index}/${file.name}`;
  const replaced = file.last && state.replaced.has(key);
  const name = file.written ?
    `<button type="button" class="name data" data-disk="${disk.index}" data-file="${i}"` +
      ` title="${escapeHtml(t('showFile', {name: file.name}))}">${file.name}</button>` : data(file.name);
  let replace = '';
  if (file.last) {
    const why = t(file.changeable ? 'replaceTitle' : 'cannotReplace', {name: file.name});
    replace = `<button type="button" class="replace" data-disk="${disk.index}" data-file="${i}"` +
        ` aria-label="${escapeHtml(t('replaceLabel', {name: file.name}))}" title="${escapeHtml(why)}"` +
        `${file.changeable ? '' : ' disabled'}>${t('replaceButton')}</button>`;
  } else if (file.written) {
    replace = t('laterSameName');
  }
  return `<tr class="${file.verdict}${replaced ? ' replaced' : ''}" data-file="${i}">` +
      `<td>${name}${replaced ? ` <span class="mark">${t('replacedMark')}</span>` : ''}</td>` +
      `<td>${number(file.track, 2)}</td><td>${number(file.sector, 2)}</td>` +
      `<td>${number(file.offset, 2)}</td><td>${number(file.size, 4)}</td>` +
      `<td>${escapeHtml(verdictText(file))}</td><td>${file.writtenWithoutAll ? t('yes') : ''}</td>` +
      `<td>${replace}</td></tr>`;
}

// A disk of the summary with its files' verdicts and marks, read the first
// time they are needed.
function withFiles(index) {
  const disk = state.summary.disks[index];
  if (!disk.read && disk.files) {
    disk.files = JSON.parse(state.module.diskFiles(index));
    disk.read = true;
  }
  return disk;
}

function fillRows(section) {
  const disk = withFiles(Number(section.dataset.disk));
  const body = section.querySelector('tbody');
  if (!body) return;
  body.innerHTML = shownFiles(disk).map(({file, i}) => rowHtml(disk, file, i)).join('');
  section.dataset.rows = 'yes';
}

// The listing's kinds of disk, by the name d88info gives them.
const kindKeys = {'system disk': 'kindSystem', 'data disk': 'kindData', 'not recognised': 'kindUnknown'};

function diskHtml(disk) {
  const title = t('disk', {n: disk.index});
  const warning = disk.warning ?
    `<p class="warning" role="note">${escapeHtml(t(disk.warning.key, disk.warning))}</p>` : '';
  if (!disk.headerComplete) {
    return `<section class="disk" data-disk="${disk.index}" aria-label="${title}">${warning}` +
        `<h2>${title}</h2><p class="damaged">${t('headerCut', {offset: number(disk.offset, 8)})}</p></section>`;
  }
  const tracks = `<span>${tn('tracks', disk.tracks)}</span>` +
      (disk.pastSize ? `<span>${tn('pastSize', disk.pastSize)}</span>` : '');
  const protect = disk.writeProtect ?
    `<dt>${t('writeProtected')}</dt><dd>${data(`0x${hex(disk.writeProtect, 2)}`)}</dd>` : '';
  const name = `<span class="disk-name data" title="${t('nameBytes', {hex: disk.nameHex})}">${escapeHtml(disk.name)}</span>`;
  const kind = kindKeys[disk.kind] ? t(kindKeys[disk.kind]) : disk.kind;
  return `<section class="disk" data-disk="${disk.index}" aria-labelledby="disk-${disk.index}">` +
      `${warning}<h2 id="disk-${disk.index}">${t('diskHeading', {n: disk.index})} ${name}</h2>` +
      `<dl><dt>${t('name')}</dt><dd>${data(disk.name)} <code>(0x${disk.nameHex})</code></dd>` +
      `<dt>${t('offset')}</dt><dd>${number(disk.offset, 8)}</dd>` +
      `<dt>${t('media')}</dt><dd>${data(`${disk.media} (0x${hex(disk.mediaType, 2)})`)}</dd>` +
      `<dt>${t('size')}</dt><dd>${number(disk.sizeField, 8)} ${t('bytes')}</dd>${protect}` +
      `<dt>${t('kind')}</dt><dd class="kind">${kind}</dd>` +
      `<dt>${t('files')}</dt><dd>${number(disk.files.length, 1)}</dd></dl>` +
      (disk.message ? `<p class="message" lang="ja">${escapeHtml(disk.message)}</p>` : '') +
      (disk.files.length ? `<button type="button" class="disk-zip" data-disk="${disk.index}">` +
        `${t('downloadDisk', {n: disk.index})}</button>` : '') +
      // New files go after a table's last one, when later files may move.
      (disk.kind !== 'not recognised' && disk.files.length ? [0, 1].map((table) =>
        `<button type="button" class="add-file" data-disk="${disk.index}" data-table="${table}">` +
        `${t(table ? 'addFileSecond' : 'addFileFirst')}</button>`).join('') : '') +
      `<details class="map" data-disk="${disk.index}"><summary>${t('mapOfDisk')}</summary>` +
      '<div class="map-body"></div></details>' +
      `<details class="track-list" data-disk="${disk.index}"><summary>${tracks}<span>${t('sectorIds')}</span></summary>` +
      '<pre class="tracks"></pre></details>' +
      (disk.files.length ? '<div class="table-box"><table><thead><tr>' +
        ['colName', 'colTrack', 'colSector', 'colOffset', 'colSize', 'colVerdict', 'colWithoutAll', 'colReplace']
            .map((key) => `<th>${t(key)}</th>`).join('') + '</tr></thead>' +
        '<tbody></tbody></table></div>' : `<p>${t('noFiles')}</p>`) + '</section>';
}

// Rows are written when their disk comes near the screen.
const rowsObserver = new IntersectionObserver((entries) => {
  for (const entry of entries) {
    if (entry.isIntersecting && !entry.target.dataset.rows) fillRows(entry.target);
  }
}, {rootMargin: '200px 0px'});

// Writes a disk's rows now (to show or select one of its files).
function ensureRows(disk) {
  const section = document.querySelector(`section.disk[data-disk="${disk}"]`);
  if (section && !section.dataset.rows) fillRows(section);
  return section;
}
// For the tests: a disk's rows written without scrolling to it.
window.d88EnsureRows = ensureRows;

async function list(module) {
  state.module = module;
  state.summary = JSON.parse(module.summary());
  showDisks();
}

// The disks of the summary, written afresh.
function showDisks() {
  const disks = state.summary.disks;
  rowsObserver.disconnect();
  if (!disks.length) {
    $('result').hidden = true;
    $('disks').textContent = '';
    setStatus(() => t('noDisk', {name: state.name}));
    return;
  }
  $('disks').innerHTML = disks.map(diskHtml).join('');
  $('result').hidden = false;
  // The first disk is on the screen: its rows come with the first paint.
  fillRows(document.querySelector('section.disk'));
  for (const section of document.querySelectorAll('section.disk')) rowsObserver.observe(section);
  showCounts();
}

function showCounts() {
  const disks = state.summary.disks;
  const files = disks.reduce((sum, disk) => sum + (disk.files ? disk.files.length : 0), 0);
  const replaced = state.replaced.size;
  const counts = {name: state.name, disks: disks.length, files, replaced};
  setStatus(() =>
    replaced
      ? tn('countsReplaced', replaced, {...counts, disksText: tn('disksText', disks.length)})
      : tn('counts', disks.length, counts),
  );
}

// After a change to the image: the disks whose summary changed get their
// rows and map written again, in place, keeping what is open and focused.
function relist(module) {
  const before = state.summary.disks.map((disk) => disk.read && JSON.stringify(disk));
  state.summary = JSON.parse(module.summary());
  state.summary.disks.forEach((disk, d) => before[d] && withFiles(d));
  const focused = document.activeElement;
  const focus = focused && focused.dataset && focused.dataset.file !== undefined ?
    {disk: focused.dataset.disk, file: focused.dataset.file, cls: focused.className} : null;
  state.summary.disks.forEach((disk, d) => {
    const section = document.querySelector(`section.disk[data-disk="${d}"]`);
    const map = section.querySelector('details.map');
    const tracks = section.querySelector('details.track-list');
    // A disk whose header is cut short has nothing to write again.
    if (!tracks) return;
    if (section.dataset.rows && (JSON.stringify(disk) !== before[d] || rowsHold(section, disk))) {
      fillRows(section);
    }
    if (map && map.open && JSON.stringify(disk) !== before[d]) fillMap(module, map);
    if (JSON.stringify(disk) !== before[d]) delete tracks.querySelector('pre').dataset.filled;
    if (tracks.open && !tracks.querySelector('pre').dataset.filled) fillTracks(module, tracks);
  });
  if (focus) {
    const again = document.querySelector(
        `button.${focus.cls.split(' ')[0]}[data-disk="${focus.disk}"][data-file="${focus.file}"]`);
    if (again) again.focus();
  }
  showCounts();
}
// Whether the rows shown mark replacements that have changed since.
const rowsHold = (section, disk) => disk.files.some((file) =>
  file.last && state.replaced.has(`${disk.index}/${file.name}`) !==
    !!section.querySelector(`tr.replaced[data-file="${disk.files.indexOf(file)}"]`));

// The image given to the module without a copy: put-back writes a new file
// beside it, so these bytes are never written to.
const writeImage = (module, bytes) => module.FS.writeFile(IMAGE, bytes, {canOwn: true});

// The whole file in memory, with its progress in the status line when
// `progress`.
async function readFile(file, progress = true) {
  return new Promise((resolve, reject) => {
    const reader = new FileReader();
    reader.onprogress = (event) => {
      if (progress && event.lengthComputable) {
        setStatus(() => t('reading', {name: file.name}), event.loaded / event.total);
      }
    };
    reader.onload = () => resolve(new Uint8Array(reader.result));
    reader.onerror = () => reject(reader.error);
    reader.readAsArrayBuffer(file);
  });
}

// Files given to the page: one is listed; of several, each is summed up in
// the catalogue above the listing of the first.
async function loadFiles(files) {
  if (!files.length) return;
  if (state.dirty && !confirm(t('notDownloaded', {name: state.name, next: files[0].name}))) return;
  if (files.length === 1) {
    state.catalogue = null;
    showCatalogue();
    await load(files[0], true);
    return;
  }
  const started = performance.now();
  const module = await ready;
  module.catalogueStart();
  const rows = [];
  for (const [i, file] of files.entries()) {
    setStatus(() => t('summing', {name: file.name, done: i + 1, total: files.length}), i / files.length);
    removeCatalogueFile(module);
    const row = {file, tooLarge: !module.mayBeImage(file.size)};
    if (!row.tooLarge) {
      try {
        module.FS.writeFile(CATALOGUE, await readFile(file, false), {canOwn: true});
      } catch (error) {
        row.error = `${error.name}: ${error.message}`;
      }
    }
    row.line = JSON.parse(module.catalogueAdd(file.name));
    removeCatalogueFile(module);
    rows.push(row);
  }
  state.catalogue = {rows, total: JSON.parse(module.catalogueEnd()), shown: 0};
  showCatalogue();
  window.d88Timings.catalogue = performance.now() - started;
  await load(files[0], true);
}

const removeCatalogueFile = (module) => {
  try {
    module.FS.unlink(CATALOGUE);
  } catch {
    // Not there: the file before could not be read.
  }
};

// The catalogue of the files given, each row a file; the one on show marked.
function showCatalogue() {
  const box = $('catalogue');
  const catalogue = state.catalogue;
  box.hidden = !catalogue;
  if (!catalogue) return;
  const columns = ['disks', 'systemDisks', 'dataDisks', 'notRecognised', 'files', 'incomplete', 'skipped'];
  const headings = ['colDisks', 'colSystem', 'colData', 'colNotRecognised', 'colFiles', 'colIncomplete',
    'colSkipped'];
  const cells = (line) => columns.map((key) => `<td>${number(line[key], 1)}</td>`).join('');
  const rows = catalogue.rows.map(({file, line, tooLarge}, i) => {
    const shown = i === catalogue.shown;
    const name = `<button type="button" class="open data" data-row="${i}" aria-current="${shown}"` +
      ` title="${escapeHtml(t('openFile', {name: file.name}))}">${escapeHtml(file.name)}</button>`;
    const failure = tooLarge ? 'tooLarge' : line.error;
    return `<tr data-row="${i}"${shown ? ' class="shown"' : ''}><td>${name}` +
      `${shown ? ` <span class="mark">${t('shownNow')}</span>` : ''}</td>` +
      (failure ? `<td colspan="${columns.length}" class="failed">${t(failure)}</td>` : cells(line)) + '</tr>';
  }).join('');
  const total = catalogue.total;
  const totalText = total.failed ? t('catalogueTotalFailed', total) :
    tn('catalogueTotal', total.inputs, total);
  box.querySelector('.table-box').innerHTML = `<table><thead><tr><th>${t('colPath')}</th>` +
    headings.map((key) => `<th>${t(key)}</th>`).join('') + `</tr></thead><tbody>${rows}</tbody>` +
    `<tfoot><tr><th scope="row">${totalText}</th>${cells(total)}</tr></tfoot></table>`;
}

// Lists `file`; `asked` when dropping replacements not downloaded was agreed.
async function load(file, asked = false) {
  if (!file) return;
  if (!asked && state.dirty && !confirm(t('notDownloaded', {name: state.name, next: file.name}))) return;
  const started = performance.now();
  const module = await ready;
  if (!module.mayBeImage(file.size)) {
    setStatus(() => t('tooLargeStatus', {name: file.name, size: file.size}));
    return;
  }
  setStatus(() => t('reading', {name: file.name}), 0);
  let bytes;
  try {
    bytes = await readFile(file);
  } catch (error) {
    setStatus(() => t('cannotRead', {name: file.name, error: `${error.name}: ${error.message}`}));
    return;
  }
  setStatus(() => t('listing', {name: file.name}), null);
  writeImage(module, bytes);
  Object.assign(state, {name: file.name, original: bytes, dirty: false});
  state.replaced.clear();
  $('put-report').hidden = true;
  closePreview();
  await list(module);
  showReplaced();
  setBusy(false);
  await painted();
  window.d88Timings.given = performance.now() - started;
}

// ---- Downloads: every disk, or one, as a zip built by a worker.

let zipWorker = null;
function worker() {
  if (!zipWorker) {
    const url = URL.createObjectURL(new Blob([self.d88ZipWorkerSource], {type: 'text/javascript'}));
    zipWorker = new Worker(url);
  }
  return zipWorker;
}

// The tree d88extract -a writes for `disks`: a folder per disk, the last
// written file of each name.
async function buildZip(disks, name) {
  const started = performance.now();
  const module = await ready;
  setBusy(true);
  const zip = worker();
  const done = new Promise((resolve, reject) => {
    zip.onmessage = ({data}) => {
      if (data.type === 'progress') {
        setStatus(() => t('zipping', {name, done: data.done, total: disks.length}), data.done / disks.length);
      } else if (data.type === 'zip') {
        resolve(data.chunks);
      } else {
        reject(new Error(data.message));
      }
    };
    zip.onerror = (event) => reject(new Error(event.message));
  });
  zip.postMessage({type: 'start'});
  for (const [n, {index}] of disks.entries()) {
    const disk = withFiles(index);
    const files = [];
    (disk.files || []).forEach((file, i) => {
      if (file.last) files.push([file.name, module.fileBytes(disk.index, i).slice()]);
    });
    zip.postMessage({type: 'folder', folder: disk.folder, files, done: n + 1},
        files.map(([, bytes]) => bytes.buffer));
    // The page stays responsive while the files are read.
    if (n % 8 === 7) await new Promise((resolve) => setTimeout(resolve));
  }
  zip.postMessage({type: 'end'});
  try {
    const chunks = await done;
    window.d88Timings.zip = performance.now() - started;
    download(name, chunks);
    showCounts();
  } catch (error) {
    setStatus(() => t('zipFailed', {error: error.message}));
  }
  setBusy(false);
}

// ---- Replacing files.

const fileKey = (disk, name) => `${disk}/${name}`;
const refused = () => t('refused');

// The report of a put-back: `heading` and, for the page's own words, `text`
// are functions that give them in the page's language; the tool's report is
// a string, kept as it is.
function report(heading, text, accepted) {
  const box = $('put-report');
  state.report = {heading, text};
  box.querySelector('.heading').textContent = heading();
  box.querySelector('pre').textContent = typeof text === 'function' ? text() : text;
  box.className = accepted ? 'accepted' : 'refused';
  box.hidden = false;
  delete box.dataset.old;
}

// Puts `edits` ({disk, name, bytes, from}) back, all or nothing, and
// reports it.
async function putBack(edits, what) {
  const module = await ready;
  const resize = $('resize').checked;
  const result = module.putBack(edits.map(({disk, name, bytes}) => ({disk, name, bytes})), resize);
  if (!result.accepted) {
    report(refused, result.err, false);
    return;
  }
  for (const edit of edits) state.replaced.set(fileKey(edit.disk, edit.name), {...edit, resize});
  state.dirty = true;
  report(what, result.out + result.err, true);
  relist(module);
  showReplaced();
}

// Writes the original image again, with the replacements still wanted.
async function rebuild(what) {
  const module = await ready;
  writeImage(module, state.original);
  const edits = [...state.replaced.values()];
  if (edits.length) {
    // Put back as they were: moving later files if any of them did.
    const result = module.putBack(edits.map(({disk, name, bytes}) => ({disk, name, bytes})),
        edits.some((edit) => edit.resize));
    report(what, result.out + result.err, result.accepted);
  } else {
    report(what, '', true);
  }
  state.dirty = edits.length > 0;
  relist(module);
  showReplaced();
}

function showReplaced() {
  const box = $('replaced');
  box.hidden = !state.replaced.size;
  box.querySelector('ul').innerHTML = [...state.replaced.values()].map(({disk, name, from}) =>
    `<li>${escapeHtml(t('replacedFrom', {name, disk, from}))} ` +
      `<button type="button" class="undo" data-key="${escapeHtml(fileKey(disk, name))}"` +
      ` aria-label="${escapeHtml(t('undoLabel', {name, disk}))}">${t('undo')}</button></li>`).join('');
  setBusy(state.busy);
}

// The name of the next file of table `table` (0 or 1) among `files`: the
// number after its last file's ("S11F" after "S11E").
function nextName(files, table) {
  let next = -1;
  let letter = '';
  for (const {name} of files) {
    const match = /^([SD])([0-9A-F]{3})$/.exec(name);
    const number = match ? parseInt(match[2], 16) : -1;
    if (match && (number >= 0x100 ? 1 : 0) === table && number + 1 > next) {
      next = number + 1;
      letter = match[1];
    }
  }
  return letter && letter + next.toString(16).toUpperCase().padStart(3, '0');
}

// Adds `file` after the last file of the table state.addTarget names, as
// d88put --resize adds a folder's file of the table's next number.
async function addOne(file) {
  const target = state.addTarget;
  state.addTarget = null;
  if (!file || !target) return;
  const name = nextName(withFiles(target.disk).files, target.table);
  let bytes;
  try {
    bytes = await readFile(file, false);
  } catch (error) {
    report(refused, () => t('cannotRead', {name: file.name, error: `${error.name}: ${error.message}`}), false);
    return;
  }
  await putBack([{disk: target.disk, name, bytes, from: file.name}],
      () => t('addedOne', {name, disk: target.disk, from: file.name}));
}

async function replaceOne(file) {
  if (state.addTarget) {
    await addOne(file);
    return;
  }
  const target = state.replaceTarget;
  if (!file || !target) return;
  const disk = state.summary.disks[target.disk];
  const name = disk.files[target.file].name;
  let bytes;
  try {
    bytes = await readFile(file, false);
  } catch (error) {
    report(refused, () => t('cannotRead', {name: file.name, error: `${error.name}: ${error.message}`}), false);
    return;
  }
  await putBack([{disk: target.disk, name, bytes, from: file.name}],
      () => t('replacedOne', {name, disk: target.disk, from: file.name}));
}

// Files given for several replacements: loose files named by their path
// ('000/S117', as a folder of d88extract -a holds them), or zips of such a
// tree. Each is matched by its disk folder and name.
async function replaceMany(files) {
  const module = await ready;
  const given = [];
  for (const file of files) {
    const path = file.relativePath || file.webkitRelativePath || file.name;
    let bytes;
    try {
      bytes = await readFile(file, false);
    } catch (error) {
      report(refused, () => t('cannotRead', {name: path, error: `${error.name}: ${error.message}`}), false);
      return;
    }
    if (/\.zip$/i.test(file.name)) {
      let entries;
      try {
        entries = fflate.unzipSync(bytes);
      } catch (error) {
        report(refused, () => t('notZip', {name: file.name, error}), false);
        return;
      }
      for (const [entry, data] of Object.entries(entries)) {
        if (!entry.endsWith('/')) given.push({path: `${file.name}/${entry}`, bytes: data});
      }
    } else {
      given.push({path, bytes});
    }
  }
  const edits = [];
  const ignored = [];
  given.sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
  for (const {path, bytes} of given) {
    const parts = path.split('/');
    const disk = parts.length >= 2 ? module.diskOfFolder(parts[parts.length - 2]) : -1;
    if (disk < 0) ignored.push(path);
    else edits.push({disk, name: parts[parts.length - 1], bytes, from: path});
  }
  const ignoredText = () => ignored.map((path) => t('notInDiskFolder', {path})).join('\n');
  if (!edits.length) {
    report(refused, () => ignoredText() || t('noFilesGiven'), false);
    return;
  }
  const names = edits.map(({disk, name}) => `${state.summary.disks[disk] ?
    state.summary.disks[disk].folder : disk}/${name}`).join(', ');
  await putBack(edits, () => tn('replacedMany', edits.length, {names}));
  if (ignored.length) $('put-report').querySelector('pre').textContent += ignoredText() + '\n';
}

// A folder dropped in the listing: its files with their paths.
async function droppedFiles(items) {
  const files = [];
  const walk = async (entry, prefix) => {
    if (entry.isFile) {
      const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
      file.relativePath = prefix + file.name;
      files.push(file);
    } else if (entry.isDirectory) {
      const reader = entry.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (!batch.length) break;
        for (const child of batch) await walk(child, `${prefix}${entry.name}/`);
      }
    }
  };
  const entries = [...items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
  if (entries.some((entry) => !entry)) return null;
  for (const entry of entries) await walk(entry, '');
  return files;
}

// ---- The preview of a file: a hex dump, written as it is scrolled, and
// the text.

const HEX_LINES = 512;  // lines written at a time
async function openPreview(disk, file) {
  const started = performance.now();
  const module = await ready;
  const size = module.previewOpen(disk, file);
  if (size < 0) return;
  state.preview = {disk, file, size, view: 'hex', lines: 0, opener: document.activeElement};
  showPreviewTitle();
  const dialog = $('preview');
  if (!dialog.open) dialog.showModal();
  showView(module, 'hex');
  $('tab-hex').focus();
  await painted();
  window.d88Timings.preview = performance.now() - started;
}

function showPreviewTitle() {
  const {disk, file, size} = state.preview;
  $('preview-title').textContent = t('previewTitle', {name: state.summary.disks[disk].files[file].name, disk, size});
}

function showView(module, view) {
  const preview = state.preview;
  preview.view = view;
  $('tab-hex').setAttribute('aria-selected', String(view === 'hex'));
  $('tab-text').setAttribute('aria-selected', String(view === 'text'));
  const body = $('preview-body');
  body.className = view;
  body.scrollTop = 0;
  if (view === 'hex') {
    preview.lines = 0;
    body.textContent = '';
    moreHex(module);
  } else {
    // Line ends shown as they are: CR as ␍, LF as ␊, before the break.
    body.textContent = module.previewText().replace(/\r\n|\r|\n/g,
        (end) => ({'\r\n': '␍␊\n', '\r': '␍\n', '\n': '␊\n'})[end]);
  }
}

function moreHex(module) {
  const preview = state.preview;
  const total = Math.ceil(preview.size / 16);
  if (preview.lines >= total) return;
  $('preview-body').append(module.previewHex(preview.lines, HEX_LINES));
  preview.lines = Math.min(total, preview.lines + HEX_LINES);
}

function closePreview() {
  const dialog = $('preview');
  if (dialog.open) dialog.close();
}

// ---- The map of a disk: tracks by sectors, each coloured by its file.

// Hues from orange round to purple: red is kept for what is missing.
const colour = (i) => `hsl(${30 + (i * 137.5) % 290} 60% 55%)`;
async function fillMap(module, details) {
  const index = Number(details.dataset.disk);
  const disk = withFiles(index);
  const map = JSON.parse(module.diskMap(index));
  const tables = new Set(map.tables);
  const cells = [];
  map.tracks.forEach((row, slot) => {
    // Tracks are columns, labelled every tenth.
    cells.push(`<span class="track-label data">${slot % 10 ? '' : slot}</span>`);
    row.forEach((cell, s) => {
      const r = map.firstSector + s;
      const owners = cell.o.map((i) => disk.files[i].name);
      let kind = owners.length ? 'file' : tables.has(slot) ? 'table' : cell.s ? 'free' : 'absent';
      if (cell.m) kind = 'missing';
      const style = kind === 'file' ? ` style="background:${owners.length > 1 ?
        `linear-gradient(135deg, ${colour(cell.o[0])} 50%, ${colour(cell.o[1])} 50%)` : colour(cell.o[0])}"` : '';
      const what = owners.length ? owners.join(', ') : t({table: 'fileTable', free: 'free', absent: 'notOnDisk',
        missing: 'missing'}[kind]);
      cells.push(`<span class="cell ${kind}${tables.has(slot) ? ' table-track' : ''}" data-slot="${slot}"` +
        ` data-r="${r}" data-owners="${owners.join(' ')}" data-files="${cell.o.join(' ')}"${style}` +
        ` title="${what}${kind === 'missing' ? (owners.length ? t('missingOrCut') : '') : ''}` +
        ` · C ${slot >> 1} H ${slot & 1} R ${r} N ${map.sizeCode}"></span>`);
    });
  });
  const fixed = new Set(map.fixed);
  const legend = disk.files.map((file, i) =>
    `<li><button type="button" class="legend-file" data-disk="${index}" data-file="${i}">` +
      `<span class="swatch" style="background:${colour(i)}"></span>${data(file.name)}` +
      `${fixed.has(file.name) ? t('fixedFile') : ''}</button></li>`).join('');
  details.querySelector('.map-body').innerHTML =
    `<div class="map-box"><div class="map-grid" style="--sectors:${map.tracks.length ? map.tracks[0].length : 16}"` +
      ` role="img" aria-label="${t('mapLabel', {n: index, tracks: map.tracks.length,
        sectors: map.tracks.length ? map.tracks[0].length : 0})}">${cells.join('')}</div></div>` +
      `<p class="units">${t('mapUnits')}</p>` +
    `<ul class="legend"><li><span class="swatch table"></span>${t('fileTable')}</li>` +
      `<li><span class="swatch free"></span>${t('free')}</li>` +
      `<li><span class="swatch missing"></span>${t('missingOrBroken')}</li>` +
      `<li><span class="swatch absent"></span>${t('notOnDisk')}</li></ul>` +
    `<ul class="legend files" aria-label="${t('filesOfDisk', {n: index})}">${legend}</ul>`;
}

// Shows a file's row in its table, selected and focused.
function selectFile(disk, file) {
  const section = ensureRows(disk);
  let row = section.querySelector(`tr[data-file="${file}"]`);
  if (!row) {
    $('filter-name').value = '';
    $('filter-verdict').value = '';
    for (const shown of document.querySelectorAll('section.disk[data-rows]')) fillRows(shown);
    row = section.querySelector(`tr[data-file="${file}"]`);
  }
  for (const old of document.querySelectorAll('tr.selected')) old.classList.remove('selected');
  if (!row) return;
  row.classList.add('selected');
  row.scrollIntoView({block: 'center'});
  const target = row.querySelector('button.name') || row.querySelector('button');
  if (target) target.focus();
}

// The track lines of d88info's own text listing of the disk.
async function fillTracks(module, details) {
  const pre = details.querySelector('pre');
  const text = module.diskText(Number(details.dataset.disk));
  pre.textContent = [...text.matchAll(/^ {2}(track .*)$/gm)].map((match) => match[1]).join('\n');
  pre.dataset.filled = 'yes';
}

// ---- Wiring.

$('choose').addEventListener('click', () => $('chooser').click());
$('chooser').addEventListener('change', (event) => {
  loadFiles([...event.target.files]);
  event.target.value = '';  // the same file may be chosen again
});
$('replacement').addEventListener('change', (event) => {
  replaceOne(event.target.files[0]);
  event.target.value = '';
});
for (const id of ['replacements', 'replacement-folder']) {
  $(id).addEventListener('change', (event) => {
    replaceMany([...event.target.files]);
    event.target.value = '';
  });
}
$('replace-files').addEventListener('click', () => $('replacements').click());
$('replace-folder').addEventListener('click', () => $('replacement-folder').click());

// A D88 file dropped anywhere loads; files or a folder dropped on the
// listing replace files.
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  const inListing = !$('result').hidden && event.target.closest && event.target.closest('#result');
  $('result').classList.toggle('over', !!inListing);
  $('drop').classList.toggle('over', !inListing);
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget) return;
  $('result').classList.remove('over');
  $('drop').classList.remove('over');
});
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  $('result').classList.remove('over');
  $('drop').classList.remove('over');
  const inListing = !$('result').hidden && event.target.closest && event.target.closest('#result');
  if (inListing) {
    const given = [...event.dataTransfer.files];
    try {
      replaceMany(await droppedFiles(event.dataTransfer.items) || given);
    } catch (error) {
      report(refused, () => t('droppedUnreadable', {error: error.message}), false);
    }
  } else {
    loadFiles([...event.dataTransfer.files]);
  }
});

// A row of the catalogue opens its file.
$('catalogue').addEventListener('click', async (event) => {
  const row = event.target.closest('tr[data-row]');
  const catalogue = state.catalogue;
  if (!row || !catalogue) return;
  const index = Number(row.dataset.row);
  if (index === catalogue.shown) return;
  if (state.dirty && !confirm(t('notDownloaded', {name: state.name, next: catalogue.rows[index].file.name}))) return;
  catalogue.shown = index;
  showCatalogue();
  await load(catalogue.rows[index].file, true);
  const again = $('catalogue').querySelector(`button.open[data-row="${index}"]`);
  if (again && event.target.closest('button')) again.focus();
});

// The switch of language: every text of the page written again in it.
$('languages').addEventListener('click', (event) => {
  const button = event.target.closest('button[data-language]');
  if (!button || button.dataset.language === language) return;
  language = button.dataset.language;
  try {
    localStorage.setItem(LANGUAGE_KEY, language);
  } catch {
    // Storage turned off: the choice holds until the page is left.
  }
  applyTexts();
  $('status').textContent = state.status();
  if (state.report) {
    const box = $('put-report');
    box.querySelector('.heading').textContent = state.report.heading();
    // The tool's report stays as the tool wrote it.
    if (typeof state.report.text === 'function') box.querySelector('pre').textContent = state.report.text();
  }
  if (state.summary && state.summary.disks.length) {
    showDisks();
    showCounts();
  }
  showCatalogue();
  showReplaced();
  if (state.preview && $('preview').open) showPreviewTitle();
});

$('disks').addEventListener('click', async (event) => {
  const cell = event.target.closest('.cell');
  if (cell && cell.dataset.files) {
    selectFile(Number(cell.closest('details').dataset.disk), Number(cell.dataset.files.split(' ')[0]));
    return;
  }
  const button = event.target.closest('button');
  const row = event.target.closest('tr[data-file]');
  const disk = Number((button || event.target.closest('section.disk') || {dataset: {}}).dataset.disk);
  if (button && button.classList.contains('disk-zip')) {
    const entry = state.summary.disks[disk];
    buildZip([entry], `${baseName()}-${entry.folder}.zip`);
  } else if (button && button.classList.contains('replace')) {
    state.replaceTarget = {disk, file: Number(button.dataset.file)};
    state.addTarget = null;
    $('replacement').click();
  } else if (button && button.classList.contains('add-file')) {
    state.addTarget = {disk, table: Number(button.dataset.table)};
    $('replacement').click();
  } else if (button && button.classList.contains('legend-file')) {
    selectFile(disk, Number(button.dataset.file));
  } else if (row && (!button || button.classList.contains('name'))) {
    const file = Number(row.dataset.file);
    if (withFiles(disk).files[file].written) openPreview(disk, file);
  }
});
// Sector IDs and maps are written when first opened.
$('disks').addEventListener('toggle', async (event) => {
  const details = event.target;
  if (!details.open) return;
  const module = await ready;
  if (details.classList.contains('track-list') && !details.querySelector('pre').dataset.filled) {
    fillTracks(module, details);
  } else if (details.classList.contains('map') && !details.querySelector('.map-grid')) {
    fillMap(module, details);
  }
}, true);
for (const id of ['filter-name', 'filter-verdict', 'sort']) {
  $(id).addEventListener('input', () => {
    for (const section of document.querySelectorAll('section.disk[data-rows]')) fillRows(section);
  });
}
$('replaced').addEventListener('click', (event) => {
  const button = event.target.closest('button.undo');
  if (!button) return;
  const {name, disk} = state.replaced.get(button.dataset.key);
  state.replaced.delete(button.dataset.key);
  rebuild(() => t('undone', {name, disk}));
});
$('reset').addEventListener('click', () => {
  state.replaced.clear();
  rebuild(() => t('resetDone'));
});
$('download-all').addEventListener('click', () => buildZip(state.summary.disks, baseName() + '.zip'));
$('download-image').addEventListener('click', async () => {
  download(state.name, [(await ready).FS.readFile(IMAGE)]);
  state.dirty = false;
});
$('download-json').addEventListener('click', async () =>
  download(baseName() + '.json', [(await ready).listing().json]));
$('tab-hex').addEventListener('click', async () => showView(await ready, 'hex'));
$('tab-text').addEventListener('click', async () => showView(await ready, 'text'));
$('preview').querySelector('[role=tablist]').addEventListener('keydown', (event) => {
  if (event.key !== 'ArrowLeft' && event.key !== 'ArrowRight') return;
  const next = document.activeElement === $('tab-hex') ? $('tab-text') : $('tab-hex');
  next.focus();
  next.click();
});
$('preview-body').addEventListener('scroll', async (event) => {
  const body = event.target;
  if (state.preview && state.preview.view === 'hex' &&
      body.scrollTop + body.clientHeight > body.scrollHeight - 400) moreHex(await ready);
});
$('preview-download').addEventListener('click', async () => {
  const {disk, file} = state.preview;
  const view = (await ready).fileBytes(disk, file);
  download(state.summary.disks[disk].files[file].name, [view.slice()]);
});
$('preview-close').addEventListener('click', closePreview);
$('preview').addEventListener('close', () => {
  const opener = state.preview && state.preview.opener;
  if (opener && opener.isConnected) opener.focus();
});
window.addEventListener('beforeunload', (event) => {
  if (!state.dirty) return;
  event.preventDefault();
  event.returnValue = '';
});
