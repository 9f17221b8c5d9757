// The page: reads a D88 file given to it, shows what d88info shows, lets one
// look inside each file (hex and text) and each disk (a map of its
// sectors), gives the files as d88extract -a writes them, one by one or as
// zips, and the image with files put back as d88put puts them. The work is
// done by the tools' own code, compiled to WebAssembly (d88web.js); the page
// only shows what the binding gives it.
'use strict';

const IMAGE = '/image.d88';  // where the binding reads the image
const $ = (id) => document.getElementById(id);
const state = {
  name: '',
  original: null,  // the bytes of the file as it was given
  module: null,
  summary: null,   // the binding's summary: every disk and its files
  // Replaced files by 'disk/name': {disk, name, bytes, from}.
  replaced: new Map(),
  dirty: false,  // replacements not yet downloaded
  replaceTarget: null,
  busy: false,
  preview: null,  // {disk, file, size, view, lines}
};
// Timings of the last listing, zip and preview, in milliseconds, for the
// tests and the bench: each is taken after the page has painted.
window.d88Timings = {};
const ready = createD88Web().then((module) => {
  $('status').textContent = 'Ready.';
  return module;
}, (error) => {
  $('status').textContent = 'This browser cannot run the page: ' + error;
});

// Numbers are shown in decimal, with their hexadecimal on hover.
const hex = (value, width) => (value >>> 0).toString(16).toUpperCase().padStart(width, '0');
const escapeHtml = (text) => String(text).replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);
const number = (value, width) => `<span title="0x${hex(value, width)}">${value}</span>`;
const painted = () => new Promise((resolve) =>
  requestAnimationFrame(() => requestAnimationFrame(resolve)));
const baseName = () => state.name.replace(/\.[^.]*$/, '');

function setStatus(text, progress) {
  $('status').textContent = text;
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
        (!verdict || file.verdictWord === verdict));
  const by = {
    name: (a, b) => a.file.name.localeCompare(b.file.name) || a.i - b.i,
    size: (a, b) => a.file.size - b.file.size || a.i - b.i,
    verdict: (a, b) => verdictOrder[a.file.verdictWord] - verdictOrder[b.file.verdictWord] || a.i - b.i,
  }[sort];
  return by ? files.sort(by) : files;
}

function rowHtml(disk, file, i) {
  const key = `${disk.index}/${file.name}`;
  const replaced = file.last && state.replaced.has(key);
  const name = file.written ?
    `<button type="button" class="name" data-disk="${disk.index}" data-file="${i}"` +
      ` title="Show ${file.name}">${file.name}</button>` : file.name;
  let replace = '';
  if (file.last) {
    const why = file.changeable ? `Put a changed copy of ${file.name} back` :
      `${file.name} cannot be replaced: ${file.unchangeableWhy}`;
    replace = `<button type="button" class="replace" data-disk="${disk.index}" data-file="${i}"` +
        ` aria-label="Replace ${file.name}" title="${escapeHtml(why)}"` +
        `${file.changeable ? '' : ' disabled'}>Replace…</button>`;
  } else if (file.written) {
    replace = 'a later file has this name';
  }
  return `<tr class="${file.verdictWord}${replaced ? ' replaced' : ''}" data-file="${i}">` +
      `<td>${name}${replaced ? ' <span class="mark">replaced</span>' : ''}</td>` +
      `<td>${number(file.track, 2)}</td><td>${number(file.sector, 2)}</td>` +
      `<td>${number(file.offset, 2)}</td><td>${number(file.size, 4)}</td>` +
      `<td>${escapeHtml(file.verdict)}</td><td>${file.writtenWithoutAll ? 'yes' : ''}</td>` +
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

function diskHtml(disk) {
  const title = `Disk ${disk.index}`;
  const warning = disk.warning ? `<p class="warning" role="note">${escapeHtml(disk.warning)}</p>` : '';
  if (!disk.headerComplete) {
    return `<section class="disk" data-disk="${disk.index}" aria-label="${title}">${warning}` +
        `<h2>${title}</h2><p class="damaged">offset ${number(disk.offset, 8)}: header cut short</p></section>`;
  }
  const tracks = `${disk.tracks} tracks` +
      (disk.pastSize ? `, ${disk.pastSize} slot${disk.pastSize === 1 ? '' : 's'} past the disk's size` : '');
  const protect = disk.writeProtect ? `<dt>Write-protected</dt><dd>0x${hex(disk.writeProtect, 2)}</dd>` : '';
  const name = `<span class="disk-name" title="bytes 0x${disk.nameHex}">${escapeHtml(disk.name)}</span>`;
  return `<section class="disk" data-disk="${disk.index}" aria-labelledby="disk-${disk.index}">` +
      `${warning}<h2 id="disk-${disk.index}">${title}: ${name}</h2>` +
      `<dl><dt>Name</dt><dd>${escapeHtml(disk.name)} <code>(0x${disk.nameHex})</code></dd>` +
      `<dt>Offset</dt><dd>${number(disk.offset, 8)}</dd>` +
      `<dt>Media</dt><dd>${disk.media} (0x${hex(disk.mediaType, 2)})</dd>` +
      `<dt>Size</dt><dd>${number(disk.sizeField, 8)} bytes</dd>${protect}` +
      `<dt>Kind</dt><dd class="kind">${disk.kind}</dd><dt>Files</dt><dd>${disk.files.length}</dd></dl>` +
      (disk.message ? `<p class="message" lang="ja">${escapeHtml(disk.message)}</p>` : '') +
      (disk.files.length ?
        `<button type="button" class="disk-zip" data-disk="${disk.index}">Download disk ${disk.index} (.zip)</button>` : '') +
      `<details class="map" data-disk="${disk.index}"><summary>Map of the disk</summary>` +
      '<div class="map-body"></div></details>' +
      `<details class="track-list" data-disk="${disk.index}"><summary>${tracks}: sector IDs (hexadecimal)</summary>` +
      '<pre class="tracks"></pre></details>' +
      (disk.files.length ? '<div class="table-box"><table><thead><tr><th>Name</th><th>Track</th><th>Sector</th>' +
        '<th>Offset</th><th>Size (bytes)</th><th>Verdict</th><th>Written without -a</th><th>Replace</th></tr></thead>' +
        '<tbody></tbody></table></div>' : '<p>No files.</p>') + '</section>';
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
  const disks = state.summary.disks;
  rowsObserver.disconnect();
  if (!disks.length) {
    $('result').hidden = true;
    $('disks').textContent = '';
    setStatus(`${state.name}: no disk image found`);
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
  setStatus(`${state.name}: ${disks.length} disk${disks.length === 1 ? '' : 's'}, ${files} files` +
      (replaced ? `, ${replaced} file${replaced === 1 ? '' : 's'} replaced` : '') + '.');
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
      if (progress && event.lengthComputable) setStatus(`Reading ${file.name}…`, event.loaded / event.total);
    };
    reader.onload = () => resolve(new Uint8Array(reader.result));
    reader.onerror = () => reject(reader.error);
    reader.readAsArrayBuffer(file);
  });
}

async function load(file) {
  if (!file) return;
  if (state.dirty && !confirm(`Your replacements in ${state.name} are not downloaded yet. ` +
      `Load ${file.name} and drop them?`)) return;
  const started = performance.now();
  const module = await ready;
  if (!module.mayBeImage(file.size)) {
    setStatus(`${file.name} is ${file.size} bytes: a D88 file is smaller than 2 GiB (its sizes ` +
      'are signed 32-bit numbers), so it was not read.');
    return;
  }
  setStatus(`Reading ${file.name}…`, 0);
  let bytes;
  try {
    bytes = await readFile(file);
  } catch (error) {
    setStatus(`${file.name} cannot be read: ${error.name}: ${error.message}`);
    return;
  }
  setStatus(`Listing ${file.name}…`, null);
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
        setStatus(`Zipping ${name}: disk ${data.done} of ${disks.length}…`, data.done / disks.length);
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
    setStatus(`The zip could not be built: ${error.message}`);
  }
  setBusy(false);
}

// ---- Replacing files.

const fileKey = (disk, name) => `${disk}/${name}`;

function report(heading, text, accepted) {
  const box = $('put-report');
  box.querySelector('.heading').textContent = heading;
  box.querySelector('pre').textContent = text;
  box.className = accepted ? 'accepted' : 'refused';
  box.hidden = false;
  delete box.dataset.old;
}

// Puts `edits` ({disk, name, bytes, from}) back, all or nothing, and
// reports it.
async function putBack(edits, what) {
  const module = await ready;
  const result = module.putBack(edits.map(({disk, name, bytes}) => ({disk, name, bytes})));
  if (!result.accepted) {
    report('Refused: nothing was changed', result.err, false);
    return;
  }
  for (const edit of edits) state.replaced.set(fileKey(edit.disk, edit.name), edit);
  state.dirty = true;
  report(`Replaced ${what}.`, result.out + result.err, true);
  relist(module);
  showReplaced();
}

// Writes the original image again, with the replacements still wanted.
async function rebuild(what) {
  const module = await ready;
  writeImage(module, state.original);
  const edits = [...state.replaced.values()];
  if (edits.length) {
    const result = module.putBack(edits.map(({disk, name, bytes}) => ({disk, name, bytes})));
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
    `<li>${escapeHtml(name)} of disk ${disk} from ${escapeHtml(from)} ` +
      `<button type="button" class="undo" data-key="${escapeHtml(fileKey(disk, name))}"` +
      ` aria-label="Undo ${escapeHtml(name)} of disk ${disk}">Undo</button></li>`).join('');
  setBusy(state.busy);
}

async function replaceOne(file) {
  const target = state.replaceTarget;
  if (!file || !target) return;
  const disk = state.summary.disks[target.disk];
  const name = disk.files[target.file].name;
  let bytes;
  try {
    bytes = await readFile(file, false);
  } catch (error) {
    report('Refused: nothing was changed', `${file.name} cannot be read: ${error.name}: ${error.message}`, false);
    return;
  }
  await putBack([{disk: target.disk, name, bytes, from: file.name}],
      `${name} of disk ${target.disk} with ${file.name}`);
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
      report('Refused: nothing was changed', `${path} cannot be read: ${error.name}: ${error.message}`, false);
      return;
    }
    if (/\.zip$/i.test(file.name)) {
      let entries;
      try {
        entries = fflate.unzipSync(bytes);
      } catch (error) {
        report('Refused: nothing was changed', `${file.name} cannot be read as a zip: ${error}`, false);
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
    if (disk < 0) ignored.push(`ignored: ${path}: not in a disk folder (000, 001, ...)`);
    else edits.push({disk, name: parts[parts.length - 1], bytes, from: path});
  }
  if (!edits.length) {
    report('Refused: nothing was changed', ignored.join('\n') || 'no files given', false);
    return;
  }
  const names = edits.map(({disk, name}) => `${state.summary.disks[disk] ?
    state.summary.disks[disk].folder : disk}/${name}`);
  await putBack(edits, `${edits.length} file${edits.length === 1 ? '' : 's'}: ${names.join(', ')}`);
  if (ignored.length) $('put-report').querySelector('pre').textContent += ignored.join('\n') + '\n';
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
  const entry = state.summary.disks[disk].files[file];
  state.preview = {disk, file, size, view: 'hex', lines: 0, opener: document.activeElement};
  $('preview-title').textContent = `${entry.name} of disk ${disk}: ${size} bytes`;
  const dialog = $('preview');
  if (!dialog.open) dialog.showModal();
  showView(module, 'hex');
  $('tab-hex').focus();
  await painted();
  window.d88Timings.preview = performance.now() - started;
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
    cells.push(`<span class="track-label">${slot % 10 ? '' : slot}</span>`);
    row.forEach((cell, s) => {
      const r = map.firstSector + s;
      const owners = cell.o.map((i) => disk.files[i].name);
      let kind = owners.length ? 'file' : tables.has(slot) ? 'table' : cell.s ? 'free' : 'absent';
      if (cell.m) kind = 'missing';
      const style = kind === 'file' ? ` style="background:${owners.length > 1 ?
        `linear-gradient(135deg, ${colour(cell.o[0])} 50%, ${colour(cell.o[1])} 50%)` : colour(cell.o[0])}"` : '';
      const what = owners.length ? owners.join(', ') : {table: 'file table', free: 'free', absent: 'not on the disk',
        missing: 'missing'}[kind];
      cells.push(`<span class="cell ${kind}${tables.has(slot) ? ' table-track' : ''}" data-slot="${slot}"` +
        ` data-r="${r}" data-owners="${owners.join(' ')}" data-files="${cell.o.join(' ')}"${style}` +
        ` title="${what}${kind === 'missing' ? (owners.length ? ': missing or cut short' : '') : ''}` +
        ` · C ${slot >> 1} H ${slot & 1} R ${r} N ${map.sizeCode}"></span>`);
    });
  });
  const fixed = new Set(map.fixed);
  const legend = disk.files.map((file, i) =>
    `<li><button type="button" class="legend-file" data-disk="${index}" data-file="${i}">` +
      `<span class="swatch" style="background:${colour(i)}"></span>${file.name}` +
      `${fixed.has(file.name) ? ' (fixed file)' : ''}</button></li>`).join('');
  details.querySelector('.map-body').innerHTML =
    `<div class="map-box"><div class="map-grid" style="--sectors:${map.tracks.length ? map.tracks[0].length : 16}"` +
      ` role="img" aria-label="Map of disk ${index}: ${map.tracks.length} tracks by ` +
      `${map.tracks.length ? map.tracks[0].length : 0} sectors">${cells.join('')}</div></div>` +
      '<p class="units">Tracks from left to right, sectors from top to bottom; hover a sector for its file and ID.</p>' +
    '<ul class="legend"><li><span class="swatch table"></span>file table</li>' +
      '<li><span class="swatch free"></span>free</li><li><span class="swatch missing"></span>missing or broken</li>' +
      '<li><span class="swatch absent"></span>not on the disk</li></ul>' +
    `<ul class="legend files" aria-label="Files of disk ${index}">${legend}</ul>`;
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
  load(event.target.files[0]);
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
      report('Refused: nothing was changed', `The dropped files cannot be read: ${error.message}`, false);
    }
  } else {
    load(event.dataTransfer.files[0]);
  }
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
  rebuild(`Undone: ${name} of disk ${disk} is as it was.`);
});
$('reset').addEventListener('click', () => {
  state.replaced.clear();
  rebuild('Reset: the image is as it was given.');
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
