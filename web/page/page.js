// The page: reads a D88 file given to it, shows what d88info shows, and
// gives the files as d88extract -a writes them, one by one or as a zip, and
// the image with the files put back as d88put puts them. The work is done by
// the tools' own code, compiled to WebAssembly (d88web.js).
'use strict';

const IMAGE = '/image.d88';  // where the binding reads the image
const $ = (id) => document.getElementById(id);
// The listing as d88info --json gives it, and the marks the binding adds to
// each disk: its folder, and by file whether it is written, whether it is the
// last written of its name, and its verdict in words.
const state = {name: '', listing: null, json: '', marks: [], replacements: 0, replaceTarget: null};
// Timings of the last listing and zip, in milliseconds, for the tests.
window.d88Timings = {};
const ready = createD88Web().then((module) => {
  $('status').textContent = 'Ready.';
  return module;
}, (error) => {
  $('status').textContent = 'This browser cannot run the page: ' + error;
});

const hex = (value, width) => (value >>> 0).toString(16).toUpperCase().padStart(width, '0');
const escapeHtml = (text) => text.replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);

function download(name, parts) {
  const url = URL.createObjectURL(new Blob(parts, {type: 'application/octet-stream'}));
  const link = Object.assign(document.createElement('a'), {href: url, download: name});
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

function diskHtml(disk, marks) {
  const title = `Disk ${disk.index}`;
  if (!disk.headerComplete) {
    return `<section class="disk"><h2>${title}</h2><p class="damaged">offset 0x${hex(disk.offset, 8)}` +
        '  header cut short</p></section>';
  }
  const rows = disk.files.map((file, i) => {
    const {written, last: shown, verdict} = marks.files[i];
    const name = written ?
      `<button type="button" class="name" data-disk="${disk.index}" data-file="${i}"` +
        ` title="Download ${file.name}">${file.name}</button>` : file.name;
    const replace = shown ?
      `<button type="button" class="replace" data-disk="${disk.index}" data-file="${i}">Replace…</button>` :
      written ? 'a later file has this name' : '';
    return `<tr class="${file.verdict}"><td>${name}</td><td>${hex(file.track, 2)}</td>` +
        `<td>${hex(file.sector, 2)}</td><td>${hex(file.offset, 2)}</td><td>${hex(file.size, 4)}</td>` +
        `<td>${verdict}</td><td>${file.writtenWithoutAll ? 'yes' : ''}</td><td>${replace}</td></tr>`;
  }).join('');
  // Slots past the disk's size are listed with the tracks, but hold none.
  const pastSize = disk.tracks.filter((track) => track.pastSize).length;
  const tracks = `${disk.tracks.length - pastSize} tracks` +
      (pastSize ? `, ${pastSize} slot${pastSize === 1 ? '' : 's'} past the disk's size` : '');
  const protect = disk.writeProtect ? `<dt>Write-protected</dt><dd>0x${hex(disk.writeProtect, 2)}</dd>` : '';
  return `<section class="disk"><h2>${title}: <span class="disk-name">${escapeHtml(disk.name)}</span></h2>` +
      `<dl><dt>Name</dt><dd>${escapeHtml(disk.name)}</dd><dt>Offset</dt><dd>0x${hex(disk.offset, 8)}</dd>` +
      `<dt>Media</dt><dd>0x${hex(disk.mediaType, 2)} (${disk.media})</dd>` +
      `<dt>Size</dt><dd>0x${hex(disk.sizeField, 8)} (${disk.sizeField >>> 0} bytes)</dd>${protect}` +
      `<dt>Kind</dt><dd class="kind">${disk.kind}</dd></dl>` +
      (disk.message ? `<p class="message" lang="ja">${escapeHtml(disk.message)}</p>` : '') +
      `<details data-disk="${disk.index}"><summary>${tracks}: sector IDs</summary>` +
      '<pre class="tracks"></pre></details>' +
      (disk.files.length ? '<table><thead><tr><th>Name</th><th>Track</th><th>Sector</th><th>Offset</th>' +
        '<th>Size</th><th>Verdict</th><th>Written without -a</th><th></th></tr></thead>' +
        `<tbody>${rows}</tbody></table>` : '<p>No files.</p>') + '</section>';
}

async function list(module) {
  const started = performance.now();
  const listing = module.listing();
  state.json = listing.json;
  state.listing = JSON.parse(state.json);
  state.marks = JSON.parse(listing.marks);
  const disks = state.listing.disks;
  if (!disks.length) {
    $('result').hidden = true;
    $('status').textContent = 'no disk image found';
    return;
  }
  $('disks').innerHTML = disks.map((disk, i) => diskHtml(disk, state.marks[i])).join('');
  $('result').hidden = false;
  const files = disks.reduce((sum, disk) => sum + (disk.files ? disk.files.length : 0), 0);
  window.d88Timings.listed = performance.now() - started;
  $('status').textContent = `${state.name}: ${disks.length} disk${disks.length === 1 ? '' : 's'},` +
      ` ${files} files` + (state.replacements ? `, ${state.replacements} put back` : '') + '.';
}

async function load(file) {
  if (!file) return;
  const started = performance.now();
  const module = await ready;
  $('status').textContent = `Reading ${file.name}…`;
  module.FS.writeFile(IMAGE, new Uint8Array(await file.arrayBuffer()));
  Object.assign(state, {name: file.name, replacements: 0});
  $('put-report').hidden = true;
  await list(module);
  window.d88Timings.given = performance.now() - started;
}

// The bytes d88extract -a writes for a file, copied out of the module.
const fileBytes = (module, disk, file) => {
  const view = module.fileBytes(disk, file);
  return view === null ? null : view.slice();
};

// The tree d88extract -a writes: a folder per disk, the last written file
// of each name, folder entries included.
async function downloadAll() {
  const started = performance.now();
  const module = await ready;
  const tree = {};
  state.listing.disks.forEach((disk, d) => {
    const marks = state.marks[d];
    const folder = tree[marks.folder] = {};
    (disk.files || []).forEach((file, i) => {
      if (marks.files[i].last) folder[file.name] = fileBytes(module, disk.index, i);
    });
  });
  const zip = fflate.zipSync(tree, {level: 1});
  window.d88Timings.zip = performance.now() - started;
  download(state.name.replace(/\.[^.]*$/, '') + '.zip', [zip]);
}

async function replace(file) {
  const target = state.replaceTarget;
  if (!file || !target) return;
  const module = await ready;
  const disk = state.listing.disks[target.disk];
  const name = disk.files[target.file].name;
  const bytes = new Uint8Array(await file.arrayBuffer());
  const result = module.putBack([{disk: target.disk, name, bytes}]);
  const report = $('put-report');
  report.textContent = `${name} of disk ${target.disk} from ${file.name}:\n${result.out}${result.err}`;
  report.className = result.accepted ? 'accepted' : 'refused';
  report.hidden = false;
  if (result.accepted) {
    state.replacements++;
    await list(module);
  }
}

$('chooser').addEventListener('change', (event) => {
  load(event.target.files[0]);
  event.target.value = '';  // the same file may be chosen again
});
$('replacement').addEventListener('change', (event) => {
  replace(event.target.files[0]);
  event.target.value = '';
});
const drop = $('drop');
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  load(event.dataTransfer.files[0]);
});
$('disks').addEventListener('click', async (event) => {
  const button = event.target.closest('button');
  if (!button) return;
  const target = {disk: Number(button.dataset.disk), file: Number(button.dataset.file)};
  if (button.classList.contains('replace')) {
    state.replaceTarget = target;
    $('replacement').click();
  } else {
    const bytes = fileBytes(await ready, target.disk, target.file);
    download(state.listing.disks[target.disk].files[target.file].name, [bytes]);
  }
});
// Sector IDs are written out when a disk's list is first opened.
$('disks').addEventListener('toggle', async (event) => {
  const details = event.target;
  const pre = details.querySelector('pre');
  if (!details.open || pre.dataset.filled) return;
  // The track lines of d88info's own text listing of the disk.
  const text = (await ready).diskText(Number(details.dataset.disk));
  pre.textContent = [...text.matchAll(/^  (track .*)$/gm)].map((match) => match[1]).join('\n');
  pre.dataset.filled = 'yes';
}, true);
$('download-all').addEventListener('click', downloadAll);
$('download-image').addEventListener('click', async () =>
  download(state.name, [(await ready).FS.readFile(IMAGE)]));
$('download-json').addEventListener('click', () =>
  download(state.name.replace(/\.[^.]*$/, '') + '.json', [state.json]));
