// Browser tests of the page: it is opened from disk in headless Chromium and
// each thing it gives is compared byte for byte with what the native tools
// give for the same image. Environment: D88_PAGE (index.html), D88_TOOLS (the
// native release build folder), D88_OUT (a scratch folder; the screenshot
// and the timings are left there).
'use strict';
const {test, before, after} = require('node:test');
const assert = require('node:assert/strict');
const child = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {pathToFileURL} = require('node:url');
const puppeteer = require('puppeteer-core');
const {unzipSync, zipSync} = require('fflate');

const out = process.env.D88_OUT;
const execFileSync = (file, args, options) =>
  child.execFileSync(file, args, {maxBuffer: 1 << 28, stdio: 'pipe', ...options});
const bin = (tool) => path.join(process.env.D88_TOOLS, 'bin', tool);
const image = (name) => path.join(out, 'images', name);
let browser;
let page;
let session;
let downloads = 0;
const errors = [];

// Names of every kind the decoder meets: half-width kana, 0x5C, IBM rows
// (0xFAxx), kanji, and bytes shown as \xNN.
const names = [
  [0xB1, 0xB2, 0xB3, 0x5C, 0xFA, 0x40, 0xFA, 0x55, 0xFA, 0x5B, 0x41, 0xDF, 0xA1],
  [0x83, 0x51, 0x81, 0x5B, 0x83, 0x80, 0x5C, 0x5C, 0xFA, 0x58, 0x7E, 0xFD, 0x01, 0x80, 0x20, 0xB6],
];

function makeImages() {
  fs.rmSync(out, {recursive: true, force: true});
  fs.mkdirSync(image(''), {recursive: true});
  const sample = fs.readFileSync(path.join(process.env.D88_TOOLS, 'sample.d88'));
  fs.writeFileSync(image('sample.d88'), sample);
  execFileSync(bin('make_full'), [image('full.d88'), '64']);
  // The sample with other disk names: the name field is a disk's first 17 bytes.
  const named = Buffer.from(sample);
  const second = named.readUInt32LE(0x1C);
  [0, second].forEach((at, i) => named.fill(0, at, at + 17).set(names[i], at));
  fs.writeFileSync(image('names.d88'), named);
  // Cut short in track 66 of the second disk, after 8 of its 16 records of
  // 272 bytes: D102's chain breaks there.
  fs.writeFileSync(image('cut.d88'), sample.subarray(0, second + 0x2B0 + 66 * 16 * 272 + 8 * 272 + 100));
  // A D88 file of one disk, cut short in its track 18.
  fs.writeFileSync(image('cut0.d88'), sample.subarray(0, 300000));
  // Text: read as a disk with no sectors, and too short to hold a disk.
  fs.writeFileSync(image('notes.txt'), 'not a disk image\n'.repeat(50));
  fs.writeFileSync(image('short.txt'), 'not a disk image\n');
  // Two disks named by the text \xFF (5C 78 46 46) and by the byte FF.
  const escapes = Buffer.from(sample);
  [[0x5C, 0x78, 0x46, 0x46], [0xFF]].forEach((bytes, i) =>
    escapes.fill(0, [0, second][i], [0, second][i] + 17).set(bytes, [0, second][i]));
  fs.writeFileSync(image('escapes.d88'), escapes);
  // The sample with Shift_JIS text in S117 (every line end) and, in S118,
  // bytes that decode to nothing.
  const files = extracted(image('sample.d88'));
  const text = Buffer.concat([execFileSync('python3', ['-c',
    'import sys; sys.stdout.buffer.write("日本語のテキスト\\r\\nかな ｶﾅ ～\\rline\\n\\\\end\\t.".encode("cp932"))'])]);
  const texts = {'000/S117': Buffer.alloc(files['000/S117'].length, 'x'),
    '000/S118': Buffer.alloc(files['000/S118'].length, 'y')};
  text.copy(texts['000/S117']);
  Buffer.from([0x41, 0x80, 0x42, 0xA0, 0x43, 0xFD, 0xFE, 0xFF, 0x44, 0x81, 0x20, 0x0A]).copy(texts['000/S118']);
  assert.equal(d88put(image('sample.d88'), texts, image('text.d88')).status, 0);
}

// Every file and folder under `root`, by relative path ('000/' for a folder).
function tree(files) {
  return Object.fromEntries(Object.entries(files).sort(([a], [b]) => a.localeCompare(b)));
}
function folderTree(root) {
  const entries = {};
  const walk = (dir, prefix) => {
    for (const entry of fs.readdirSync(dir, {withFileTypes: true})) {
      const name = prefix + entry.name;
      if (entry.isDirectory()) {
        entries[name + '/'] = Buffer.alloc(0);
        walk(path.join(dir, entry.name), name + '/');
      } else {
        entries[name] = fs.readFileSync(path.join(dir, entry.name));
      }
    }
  };
  walk(root, '');
  return tree(entries);
}
const zipTree = (zip) =>
  tree(Object.fromEntries(Object.entries(unzipSync(zip)).map(([k, v]) => [k, Buffer.from(v)])));

function extracted(file) {
  const dir = fs.mkdtempSync(path.join(out, 'extract-'));
  execFileSync(bin('d88extract'), [file, '-a'], {cwd: dir});
  return folderTree(dir);
}

// Clicks `selector` and returns the file the page downloads: {name, bytes}.
async function download(selector) {
  const dir = path.join(out, 'downloads', String(++downloads));
  fs.mkdirSync(dir, {recursive: true});
  await session.send('Browser.setDownloadBehavior',
      {behavior: 'allow', downloadPath: dir, eventsEnabled: true});
  const done = new Promise((resolve, reject) => {
    session.on('Browser.downloadProgress', function progress(event) {
      if (event.state === 'completed') resolve(session.off('Browser.downloadProgress', progress));
      if (event.state === 'canceled') reject(new Error('download canceled'));
    });
  });
  const started = Date.now();
  await page.click(selector);
  await done;
  const [name] = fs.readdirSync(dir);
  return {name, bytes: fs.readFileSync(path.join(dir, name)), ms: Date.now() - started};
}

// Gives a file to the page as the chooser does and waits for its listing.
async function load(file) {
  await page.evaluate(() => window.d88Timings = {});
  const started = Date.now();
  await (await page.$('#chooser')).uploadFile(file);
  await page.waitForFunction(() => window.d88Timings.given !== undefined);
  return {ms: Date.now() - started, page: await page.evaluate(() => window.d88Timings.given)};
}

// Replaces `name` of `disk` by `files` given to `input` ('replace' for the
// file's own button); returns the report: {heading, text, accepted}.
async function replace(disk, name, files, input = 'replace') {
  const button = input === 'replace' ?
    `button.replace[data-disk="${disk}"][data-file="${await fileIndex(disk, name)}"]` : `#${input}`;
  const [chooser] = await Promise.all([page.waitForFileChooser(), page.click(button)]);
  await page.evaluate(() => document.getElementById('put-report').dataset.old = 'yes');
  await chooser.accept([files].flat());
  await page.waitForFunction(() => !document.getElementById('put-report').dataset.old);
  return report();
}
const report = () => page.$eval('#put-report', (e) => ({heading: e.querySelector('.heading').textContent,
  text: e.querySelector('pre').textContent, accepted: e.className === 'accepted'}));
const fileIndex = (disk, name) => page.evaluate((disk, name) => {
  window.d88EnsureRows(disk);
  return [...document.querySelectorAll(`button.name[data-disk="${disk}"]`)]
      .find((b) => b.textContent === name).dataset.file;
}, disk, name);
const text = (selector) => page.$eval(selector, (e) => e.textContent);

// d88put on `d88` with a folder holding `files` ({'000/S117': bytes}),
// writing to `output`, with `options`: its status, standard output and
// standard error.
function d88put(d88, files, output, options = []) {
  const folder = fs.mkdtempSync(path.join(out, 'put-'));
  for (const [name, bytes] of Object.entries(files)) {
    fs.mkdirSync(path.join(folder, path.dirname(name)), {recursive: true});
    fs.writeFileSync(path.join(folder, name), bytes);
  }
  const run = child.spawnSync(bin('d88put'), [d88, folder, '-o', output, ...options], {encoding: 'utf8'});
  return {status: run.status, text: run.stdout + run.stderr};
}

before(async () => {
  makeImages();
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    ignoreDefaultArgs: true,
    defaultViewport: {width: 1280, height: 900},
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      `--user-data-dir=${fs.mkdtempSync(path.join(os.tmpdir(), 'd88web-chromium-'))}`, 'about:blank'],
  });
  page = await browser.newPage();
  session = await browser.target().createCDPSession();
  const requests = [];
  page.on('request', (request) => requests.push(request.url()));
  page.on('pageerror', (error) => errors.push(String(error)));
  await page.goto(pathToFileURL(process.env.D88_PAGE).href);
  await page.waitForFunction(() => document.getElementById('status').textContent === 'Ready.');
  // Nothing is loaded from outside the page's folder.
  const folder = pathToFileURL(path.dirname(process.env.D88_PAGE)).href + '/';
  assert.deepEqual(requests.filter((url) => !url.startsWith(folder) && !url.startsWith('data:')), []);
});

after(() => browser && browser.close());

const painted = () => page.evaluate(() => new Promise((resolve) =>
  requestAnimationFrame(() => requestAnimationFrame(resolve))));
// The name of each disk as d88info's text listing writes it.
const textNames = (file) => [...execFileSync(bin('d88info'), [file], {encoding: 'utf8'})
    .matchAll(/^disk \d+: offset 0x[0-9A-F]+ {2}name "(.*)" {2}media/gm)].map((m) => m[1]);

for (const name of ['sample.d88', 'names.d88', 'cut.d88', 'notes.txt', 'full.d88']) {
  test(`${name}: listing and zip as d88info --json and d88extract -a`, async () => {
    const given = await load(image(name));
    const json = await download('#download-json');
    assert.equal(json.name, name.replace(/\.\w+$/, '.json'));
    assert.ok(json.bytes.equals(execFileSync(bin('d88info'), ['--json', image(name)])));
    // Each disk's sector IDs, folded away until opened, as d88info's text shows them.
    assert.ok(await page.$$eval('details', (list) => list.every((d) => !d.open)));
    await page.$$eval('details.track-list', (list) => list.forEach((d) => d.open = true));
    await page.waitForFunction(() => !document.querySelector('pre.tracks:not([data-filled])'));
    const tracks = await page.$$eval('pre.tracks', (list) => list.map((e) => e.textContent).join('\n'));
    const text = execFileSync(bin('d88info'), [image(name)], {encoding: 'utf8'});
    assert.equal(tracks, [...text.matchAll(/^  (track .*)$/gm)].map((m) => m[1]).join('\n'));
    const zip = await download('#download-all');
    assert.deepEqual(zipTree(zip.bytes), extracted(image(name)));
    const timing = await page.evaluate(() => window.d88Timings);
    console.log(`${name}: listed ${given.ms} ms after it was given (page: ${timing.given.toFixed(0)} ms);` +
        ` zip ready in ${timing.zip.toFixed(0)} ms (${zip.ms} ms to the downloaded file)`);
    if (name === 'full.d88') {
      // A summary of every disk, rows only for those in view.
      assert.equal(await page.$$eval('section.disk', (list) => list.length), 64);
      assert.ok(await page.$$eval('tbody tr', (list) => list.length) < 400);
      // The preview of the largest file.
      const [, disk, file] = JSON.parse(json.bytes).disks.flatMap((d) => d.files.map((f, i) =>
        [f.verdict === 'skipped' ? -1 : f.size, d.index, i])).sort(([a], [b]) => b - a)[0];
      await page.evaluate((disk) => window.d88EnsureRows(disk), disk);
      await page.evaluate(() => window.d88Timings = {});
      await page.click(`button.name[data-disk="${disk}"][data-file="${file}"]`);
      await page.waitForFunction(() => window.d88Timings.preview !== undefined);
      const preview = await page.evaluate(() => window.d88Timings.preview);
      await page.click('#preview-close');
      fs.writeFileSync(path.join(out, 'timings.json'),
          JSON.stringify({listed: given.ms, zip: zip.ms, preview: Math.round(preview)}));
    }
  });
}

// The names of disks, each as d88info's text listing writes it, with its
// bytes on hover.
for (const [file, first] of [['names.d88', /^ｱｲｳ\\\\ⅰ/], ['escapes.d88', /^\\\\xFF$/]]) {
  test(`${file}: disk names as d88info's text writes them`, async () => {
    await load(image(file));
    const shown = await page.$$eval('.disk-name', (list) => list.map((e) => [e.textContent, e.title]));
    const listing = JSON.parse(execFileSync(bin('d88info'), ['--json', image(file)]));
    assert.deepEqual(shown, textNames(image(file)).map((name, i) => [name, `bytes 0x${listing.disks[i].nameHex}`]));
    assert.match(shown[0][0], first);
    assert.notEqual(shown[0][0], shown[1][0]);
  });
}

// Faults of damaged or foreign files, each a row: the file, what the status
// says, the warning above the first disk.
const warnings = [
  ['notes.txt', 'notes.txt: 1 disk, 0 files.',
    'This does not look like a D88 file: the first disk claims 1734 MB in a file of 850 bytes'],
  ['short.txt', 'short.txt: no disk image found', null],
  ['cut.d88', 'cut.d88: 2 disks, 44 files.', 'Cut short: this disk claims 697008 bytes, the file holds 290196 of them'],
  ['cut0.d88', 'cut0.d88: 1 disk, 37 files.', 'Cut short: this disk claims 697008 bytes, the file holds 300000 of them'],
];
for (const [file, status, warning] of warnings) {
  test(`${file}: said what it is`, async () => {
    await load(image(file));
    assert.equal(await text('#status'), status);
    assert.equal(await page.$eval('.warning', (e) => e.textContent).catch(() => null), warning);
  });
}

test('a file of 2 GiB or more is refused before it is read', async () => {
  const huge = image('huge-3g.d88');
  fs.closeSync(fs.openSync(huge, 'w'));
  fs.truncateSync(huge, 3 * 2 ** 30);
  await page.evaluate(() => document.getElementById('status').textContent = '');
  await (await page.$('#chooser')).uploadFile(huge);
  await page.waitForFunction(() => document.getElementById('status').textContent);
  assert.match(await text('#status'), /^huge-3g\.d88 is 3221225472 bytes: a D88 file is smaller than 2 GiB/);
  fs.rmSync(huge);
  // A file gone after it was chosen: the read fails, and says so.
  const gone = image('gone.d88');
  fs.copyFileSync(image('sample.d88'), gone);
  await page.evaluate(() => document.body.append(Object.assign(document.createElement('input'),
      {type: 'file', id: 'stale'})));
  await (await page.$('#stale')).uploadFile(gone);
  fs.rmSync(gone);
  await page.evaluate(() => {
    const chooser = document.getElementById('chooser');
    chooser.files = document.getElementById('stale').files;
    chooser.dispatchEvent(new Event('change'));
    document.getElementById('stale').remove();
  });
  await page.waitForFunction(() => / cannot be read: /.test(document.getElementById('status').textContent));
  assert.match(await text('#status'), /^gone\.d88 cannot be read: NotFoundError: /);
});

test('numbers in decimal, their hexadecimal on hover', async () => {
  await load(image('sample.d88'));
  const cells = await page.$$eval('tr[data-file="2"] td', (list) => list.slice(1, 5)
      .map((e) => [e.textContent, e.querySelector('span').title]));
  // S000: track 12, sector 2, offset 164, size 2371.
  assert.deepEqual(cells, [['12', '0x0C'], ['2', '0x02'], ['164', '0xA4'], ['2371', '0x0943']]);
});

test('a file shown: hex as xxd, text as Python\'s cp932, \\xNN where they differ', async () => {
  await load(image('text.d88'));
  const files = extracted(image('text.d88'));
  const rows = [
    ['BIOS', null],
    ['S117', execFileSync('python3', ['-c', 'import sys; print(sys.stdin.buffer.read().decode("cp932"), end="")'],
      {input: files['000/S117'], encoding: 'utf8'})],
    ['S118', 'A\\x80B\\xA0C\\xFD\\xFE\\xFFD\\x81 \n' + 'y'.repeat(files['000/S118'].length - 12)],
  ];
  for (const [name, expected] of rows) {
    await page.keyboard.press('Escape');
    await page.click(`button.name[data-disk="0"][data-file="${await fileIndex(0, name)}"]`);
    await page.waitForFunction(() => document.getElementById('preview').open);
    const dump = execFileSync('xxd', [], {input: files[`000/${name}`], encoding: 'utf8'}).split('\n').slice(0, 8);
    const lines = (await text('#preview-body')).split('\n').slice(0, 8);
    // The offsets and bytes as xxd's; the characters too where they are ASCII.
    assert.deepEqual(lines.map((l) => l.slice(0, 51)), dump.map((l) => l.slice(0, 51)));
    if (name === 'BIOS') {
      assert.deepEqual(lines, dump);
      // Scrolled to its end, the dump is written on, line for line as xxd's.
      const all = execFileSync('xxd', [], {input: files['000/BIOS'], encoding: 'utf8'});
      await page.waitForFunction((length) => {
        const body = document.getElementById('preview-body');
        body.scrollTop = body.scrollHeight;
        body.dispatchEvent(new Event('scroll'));
        return body.textContent.length >= length;
      }, {}, all.length);
      assert.equal(await text('#preview-body'), all);
    }
    if (expected !== null) {
      await page.click('#tab-text');
      const marks = {'\r\n': '␍␊\n', '\r': '␍\n', '\n': '␊\n'};
      assert.equal(await text('#preview-body'), expected.replace(/\r\n|\r|\n/g, (end) => marks[end]));
    }
    if (name === 'S117') assert.match(await text('#preview-body'), /^日本語のテキスト␍␊\nかな ｶﾅ ～␍\nline␊\n\\end\t\.x/);
  }
  const saved = await download('#preview-download');
  assert.deepEqual([saved.name, saved.bytes.equals(files['000/S118'])], ['S118', true]);
  await page.keyboard.press('Escape');
});

// The map of each disk against d88info's file list: the sectors each file's
// chain covers from its first, 16 to a track; sectors the file does not
// hold shown as missing.
for (const [file, disk, missing] of [['sample.d88', 0, () => false], ['sample.d88', 1, () => false],
  ['cut.d88', 1, (slot, r) => slot > 66 || (slot === 66 && r >= 9)]]) {
  test(`${file}: the map of disk ${disk} as d88info lists its files`, async () => {
    await load(image(file));
    const listed = JSON.parse(execFileSync(bin('d88info'), ['--json', image(file)])).disks[disk];
    const owners = new Map();
    for (const f of listed.files) {
      const start = f.track * 16 + f.sector - 1;
      for (let s = 0; s < Math.ceil((f.offset + f.size) / 256); ++s) {
        const key = `${Math.floor((start + s) / 16)}/${(start + s) % 16 + 1}`;
        owners.set(key, [...(owners.get(key) || []), f.name]);
      }
    }
    await page.$eval(`details.map[data-disk="${disk}"]`, (d) => d.open = true);
    await page.waitForSelector(`details.map[data-disk="${disk}"] .cell`);
    const cells = await page.$$eval(`details.map[data-disk="${disk}"] .cell`, (list) =>
      list.map((e) => [Number(e.dataset.slot), Number(e.dataset.r), e.dataset.owners, e.classList[1]]));
    for (const [slot, r, names, kind] of cells) {
      const expected = owners.get(`${slot}/${r}`) || [];
      assert.equal(names, expected.join(' '), `slot ${slot} sector ${r}`);
      if (expected.length) assert.equal(kind, missing(slot, r) ? 'missing' : 'file', `slot ${slot} sector ${r}`);
    }
    assert.equal(cells.filter(([, , names]) => names).length, owners.size);
    if (file === 'cut.d88') {
      await (await page.$(`details.map[data-disk="${disk}"]`)).screenshot({path: path.join(out, 'map-damaged.png')});
    }
    // A click on a sector selects its file in the table.
    const [slot, r] = cells.find(([, , names]) => names.split(' ')[0] === listed.files[3].name);
    await page.click(`details.map[data-disk="${disk}"] .cell[data-slot="${slot}"][data-r="${r}"]`);
    assert.equal(await page.$eval(`section.disk[data-disk="${disk}"] tr.selected td`,
        (e) => e.textContent), listed.files[3].name);
  });
}

test('replacements put back as d88put puts them; a refused one changes nothing', async () => {
  await load(image('sample.d88'));
  const files = extracted(image('sample.d88'));
  const changed = (name, at, text) => {
    const bytes = Buffer.from(files[name]);
    bytes.write(text, at);
    const file = path.join(out, 'images', name.replace('/', '-'));
    fs.writeFileSync(file, bytes);
    return {file, bytes};
  };
  const steps = [
    ['000/S117', changed('000/S117', 10, 'EDITED IN THE BROWSER')],
    ['001/D102', changed('001/D102', 3000, 'changed across tracks')],
    ['000/S002', {file: image('notes.txt'), bytes: fs.readFileSync(image('notes.txt'))}],
  ];
  let current = image('sample.d88');
  for (const [[name, {file, bytes}], step] of steps.map((s, i) => [s, i])) {
    const [disk, base] = name.split('/');
    await page.evaluate(() => document.querySelector('details.track-list').open = true);
    const report = await replace(Number(disk), base, file);
    const next = path.join(out, `put-${step}.d88`);
    const put = d88put(current, {[name]: bytes}, next);
    assert.deepEqual(report, {heading: put.status === 0 ? `Replaced ${base} of disk ${Number(disk)} with ` +
      `${path.basename(file)}.` : 'Refused: nothing was changed', text: put.text, accepted: put.status === 0});
    // Focus stays on the button, an open list stays open.
    assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), `Replace ${base}`);
    assert.ok(await page.$eval('details.track-list', (d) => d.open));
    if (put.status === 0) current = next;
  }
  assert.match(await text('#put-report pre'), /files cannot change size/);
  // S117 again: still one file replaced, marked in the table.
  await replace(0, 'S117', changed('000/S117', 10, 'EDITED AGAIN').file);
  assert.equal(await text('#status'), 'sample.d88: 2 disks, 44 files, 2 files replaced.');
  assert.deepEqual(await page.$$eval('tr.replaced button.name', (l) => l.map((e) => e.textContent)), ['S117', 'D102']);
  current = path.join(out, 'put-again.d88');
  assert.equal(d88put(path.join(out, 'put-1.d88'), {'000/S117': changed('000/S117', 10, 'EDITED AGAIN').bytes},
      current).status, 0);
  const saved = await download('#download-image');
  assert.equal(saved.name, 'sample.d88');
  assert.ok(saved.bytes.equals(fs.readFileSync(current)));
  assert.ok((await download('#download-json')).bytes.equals(execFileSync(bin('d88info'), ['--json', current])));
});

// Sizes changed with "let later files move", each a row: the file, the
// bytes it grows by (shrinks by, when negative), whether later files may
// move. Each compared with d88put, with --resize when they may.
const resizes = [
  ['000/S118', 300, true],
  ['000/S118', -200, true],
  ['000/S118', 300, false],
  ['000/S000', 16, true],
  ['001/D101', 256, true],
];
test('let later files move: sizes changed as d88put --resize changes them', async () => {
  const files = extracted(image('sample.d88'));
  for (const [name, grow, resize] of resizes) {
    await load(image('sample.d88'));
    assert.equal(await page.$eval('#resize', (e) => e.checked), false);
    const bytes = grow > 0 ? Buffer.concat([files[name], Buffer.alloc(grow, 0x5A)]) :
      files[name].subarray(0, files[name].length + grow);
    const [disk, base] = name.split('/');
    const file = path.join(out, 'images', `${base}${grow}`);
    fs.writeFileSync(file, bytes);
    if (resize) await page.click('#resize');
    const shown = await replace(Number(disk), base, file);
    const next = path.join(out, `resize-${base}${grow}-${resize}.d88`);
    const put = d88put(image('sample.d88'), {[name]: bytes}, next, resize ? ['--resize'] : []);
    assert.deepEqual(shown, {heading: put.status === 0 ? `Replaced ${base} of disk ${Number(disk)} with ${base}${grow}.` :
      'Refused: nothing was changed', text: put.text, accepted: put.status === 0}, `${name} ${grow} ${resize}`);
    if (put.status === 0) {
      assert.ok((await download('#download-image')).bytes.equals(fs.readFileSync(next)));
      // The rows give the new places, as d88info lists them.
      const listed = JSON.parse(execFileSync(bin('d88info'), ['--json', next])).disks[Number(disk)].files;
      const rows = await page.$$eval(`section.disk[data-disk="${Number(disk)}"] tbody tr`, (list) =>
        list.map((row) => [...row.querySelectorAll('td')].slice(1, 5).map((cell) => Number(cell.textContent))));
      assert.deepEqual(rows, listed.map((f) => [f.track, f.sector, f.offset, f.size]));
    }
    await page.$eval('#resize', (e) => e.checked = false);
  }
});

// Add file… under "let later files move": the file becomes the next number of
// the table, as d88put --resize adds a folder's file of that name.
test('Add file… adds the next number of a table as d88put --resize does', async () => {
  await load(image('sample.d88'));
  const button = 'button.add-file[data-disk="0"][data-table="1"]';
  assert.equal(await page.$eval(button, (e) => e.offsetParent === null), true);
  await page.click('#resize');
  assert.equal(await page.$eval(button, (e) => e.offsetParent === null), false);
  let current = image('sample.d88');
  const added = {};
  for (const [step, name] of ['S11F', 'S120'].entries()) {
    const file = path.join(out, 'images', `new-${step}`);
    const bytes = Buffer.from(`A NEW FILE ${step}\n`.repeat(20 + step));
    fs.writeFileSync(file, bytes);
    const [chooser] = await Promise.all([page.waitForFileChooser(), page.click(button)]);
    await page.evaluate(() => document.getElementById('put-report').dataset.old = 'yes');
    await chooser.accept([file]);
    await page.waitForFunction(() => !document.getElementById('put-report').dataset.old);
    added[`000/${name}`] = bytes;
    const next = path.join(out, `added-${step}.d88`);
    const put = d88put(image('sample.d88'), added, next, ['--resize']);
    assert.equal(put.status, 0, put.text);
    const shown = await report();
    assert.equal(shown.heading, `Added new-${step} to disk 0 as ${name}.`);
    assert.ok(shown.accepted);
    assert.match(shown.text, new RegExp(`^${name} .*  added$`, 'm'));
    assert.ok((await download('#download-image')).bytes.equals(fs.readFileSync(next)));
    current = next;
  }
  assert.ok(extracted(current)['000/S120'].equals(added['000/S120']));
  await page.click('#resize');
  assert.equal(await page.$eval(button, (e) => e.offsetParent === null), true);
});

test('Undo and Reset; leaving with replacements not downloaded asks first', async () => {
  await load(image('sample.d88'));
  const files = extracted(image('sample.d88'));
  const edit = (name) => {
    const file = path.join(out, 'images', name.replace('/', '-'));
    fs.writeFileSync(file, Buffer.from(files[name]).fill(0x55, 0, 8));
    return file;
  };
  await replace(0, 'S117', edit('000/S117'));
  await replace(1, 'D101', edit('001/D101'));
  // Undo of S117: the image holds D101's change alone.
  await page.click('button.undo[aria-label="Undo S117 of disk 0"]');
  const alone = path.join(out, 'undo.d88');
  assert.equal(d88put(image('sample.d88'), {'001/D101': fs.readFileSync(edit('001/D101'))}, alone).status, 0);
  assert.ok((await download('#download-image')).bytes.equals(fs.readFileSync(alone)));
  await replace(0, 'S117', edit('000/S117'));
  // Loading another file asks; dismissed, nothing is lost.
  const asked = [];
  const answer = (dialog) => asked.push(dialog.message()) && dialog.dismiss();
  page.on('dialog', answer);
  await (await page.$('#chooser')).uploadFile(image('cut.d88'));
  await new Promise((resolve) => setTimeout(resolve, 300));
  page.off('dialog', answer);
  assert.match(asked[0], /not downloaded yet/);
  assert.equal(await text('#status'), 'sample.d88: 2 disks, 44 files, 2 files replaced.');
  assert.ok(await page.evaluate(() => {
    const event = new Event('beforeunload', {cancelable: true});
    window.dispatchEvent(event);
    return event.defaultPrevented;
  }));
  await page.click('#reset');
  assert.ok((await download('#download-image')).bytes.equals(fs.readFileSync(image('sample.d88'))));
  assert.equal(await text('#status'), 'sample.d88: 2 disks, 44 files.');
});

test('Replace is off where a chain breaks, and says why', async () => {
  await load(image('cut.d88'));
  const button = await page.$(`button.replace[data-disk="1"][data-file="${await fileIndex(1, 'D102')}"]`);
  assert.deepEqual(await button.evaluate((e) => [e.disabled, e.title]),
      [true, 'D102 cannot be replaced: its chain breaks: bytes past the break have no place on the disk']);
});

test('several files at once, from a zip and from a folder, as d88put puts that folder', async () => {
  const files = extracted(image('sample.d88'));
  const folder = fs.mkdtempSync(path.join(out, 'many-'));
  const edits = {'000/S117': Buffer.from(files['000/S117']).fill(0x41, 0, 4),
    '001/D101': Buffer.from(files['001/D101']).fill(0x42, 100, 200)};
  for (const [name, bytes] of Object.entries(edits)) {
    fs.mkdirSync(path.join(folder, path.dirname(name)), {recursive: true});
    fs.writeFileSync(path.join(folder, name), bytes);
  }
  fs.writeFileSync(path.join(out, 'many.zip'), zipSync(edits));
  const put = child.spawnSync(bin('d88put'), [image('sample.d88'), folder, '-o', path.join(out, 'many.d88')],
      {encoding: 'utf8'});
  assert.equal(put.status, 0);
  const dropped = async (file) => {
    await page.evaluate(() => document.getElementById('put-report').dataset.old = 'yes');
    await page.evaluate((bytes) => {
      const data = new DataTransfer();
      data.items.add(new File([new Uint8Array(bytes)], 'many.zip'));
      document.getElementById('replace-drop').dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true}));
    }, [...fs.readFileSync(file)]);
    await page.waitForFunction(() => !document.getElementById('put-report').dataset.old);
    return report();
  };
  for (const [input, given] of [['replace-files', path.join(out, 'many.zip')], ['replace-folder', folder],
    ['drop', path.join(out, 'many.zip')]]) {
    await load(image('sample.d88'));
    const report = input === 'drop' ? await dropped(given) : await replace(0, '', given, input);
    assert.deepEqual(report, {heading: 'Replaced 2 files: 000/S117, 001/D101.', text: put.stdout + put.stderr,
      accepted: true});
    assert.ok((await download('#download-image')).bytes.equals(fs.readFileSync(path.join(out, 'many.d88'))));
  }
});

test('sort and filter; one zip per disk', async () => {
  await load(image('sample.d88'));
  const listed = JSON.parse(execFileSync(bin('d88info'), ['--json', image('sample.d88')])).disks[1].files;
  const shown = () => page.$$eval('section.disk[data-disk="1"] tbody tr td:first-child',
      (list) => list.map((e) => e.textContent));
  await page.evaluate(() => window.d88EnsureRows(1));
  await page.select('#sort', 'size');
  assert.deepEqual(await shown(),
      listed.map((f, i) => [f, i]).sort(([a, i], [b, j]) => a.size - b.size || i - j).map(([f]) => f.name));
  await page.select('#sort', '');
  await page.type('#filter-name', 'd10');
  assert.deepEqual(await shown(), listed.map((f) => f.name).filter((n) => n.startsWith('D10')));
  await page.$eval('#filter-name', (e) => e.value = '');
  await page.select('#filter-verdict', 'complete');
  assert.equal((await shown()).length, listed.filter((f) => f.verdict === 'complete').length);
  await page.select('#filter-verdict', '');
  const zip = await download('button.disk-zip[data-disk="1"]');
  assert.equal(zip.name, 'sample-001.zip');
  const all = extracted(image('sample.d88'));
  assert.deepEqual(zipTree(zip.bytes), tree(Object.fromEntries(Object.entries(all).filter(([k]) => k.startsWith('001/')))));
});

test('while a zip is built the buttons wait and progress shows', async () => {
  await load(image('full.d88'));
  const dir = path.join(out, 'downloads', 'busy');
  fs.mkdirSync(dir, {recursive: true});
  await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: dir});
  await page.evaluate(() => window.d88Timings = {});
  await page.click('#download-all');
  const during = await page.evaluate(() => [document.getElementById('download-all').disabled,
    document.getElementById('progress').hidden]);
  assert.deepEqual(during, [true, false]);
  await page.waitForFunction(() => window.d88Timings.zip !== undefined);
  assert.deepEqual(await page.evaluate(() => [document.getElementById('download-all').disabled,
    document.getElementById('progress').hidden]), [false, true]);
});

test('by keyboard alone: choose, show, switch views, close, select from the map', async () => {
  await page.evaluate(() => document.activeElement.blur());
  await page.focus('#choose');
  const [chooser] = await Promise.all([page.waitForFileChooser(), page.keyboard.press('Enter')]);
  await chooser.accept([image('sample.d88')]);
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('sample.d88'));
  await page.focus('button.name[data-disk="0"][data-file="2"]');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('preview').open);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'tab-hex');
  await page.keyboard.press('ArrowRight');
  assert.equal(await page.$eval('#tab-text', (e) => e.getAttribute('aria-selected')), 'true');
  await page.keyboard.press('Escape');
  assert.equal(await page.evaluate(() => document.activeElement.textContent), 'S000');
  await page.$eval('details.map[data-disk="0"] summary', (e) => e.focus());
  await page.keyboard.press('Enter');
  await page.waitForSelector('details.map[data-disk="0"] .legend-file');
  await page.focus('details.map[data-disk="0"] .legend-file[data-file="3"]');
  await page.keyboard.press('Enter');
  assert.equal(await page.evaluate(() => document.activeElement.textContent), 'S001');
  // Replace, filter and sort from the keyboard.
  await page.focus('button.replace[data-disk="0"][data-file="3"]');
  const [replacing] = await Promise.all([page.waitForFileChooser(), page.keyboard.press('Enter')]);
  await replacing.cancel();
  await page.focus('#filter-name');
  await page.keyboard.type('S11');
  await page.focus('#sort');
  await page.keyboard.press('ArrowDown');
  assert.equal(await page.$eval('#sort', (e) => e.value), 'name');
  assert.ok(await page.$$eval('section.disk[data-disk="0"] tbody button.name',
      (l) => l.length && l.every((e) => e.textContent.startsWith('S11'))));
  await page.$eval('#filter-name', (e) => e.value = '');
  await page.select('#sort', '');
  // Each Replace button has a name of its own; the report is announced.
  const labels = await page.$$eval('section.disk[data-disk="0"] button.replace', (l) => l.map((e) => e.getAttribute('aria-label')));
  assert.equal(new Set(labels).size, labels.length);
  assert.equal(await page.$eval('#put-report', (e) => e.getAttribute('aria-live')), 'polite');
  assert.equal(await page.$eval('thead th:last-child', (e) => e.textContent), 'Replace');
});

test('the README\'s picture: the sample\'s map and a preview', async () => {
  await page.setViewport({width: 1100, height: 760});
  await load(image('text.d88'));
  await page.$eval('details.map[data-disk="0"]', (d) => d.open = true);
  await page.waitForSelector('details.map[data-disk="0"] .cell');
  await page.click(`button.name[data-disk="0"][data-file="${await fileIndex(0, 'S117')}"]`);
  await page.waitForFunction(() => document.getElementById('preview').open);
  await page.click('#tab-text');
  await page.$eval('section.disk[data-disk="0"] h2', (e) => e.scrollIntoView());
  await painted();
  await page.screenshot({path: path.join(out, 'screenshot.png')});
  await page.keyboard.press('Escape');
  await page.setViewport({width: 1280, height: 900});
});

test('on a phone (390 px) nothing scrolls sideways', async () => {
  await page.setViewport({width: 390, height: 844});
  await load(image('sample.d88'));
  await page.$eval('details.map', (d) => d.open = true);
  await page.waitForSelector('.map-grid');
  await painted();
  await page.$eval('details.map', (d) => d.scrollIntoView());
  await page.screenshot({path: path.join(out, 'phone.png')});
  await page.$$eval('details', (list) => list.forEach((d) => d.open = true));
  await page.click(`button.name[data-disk="0"][data-file="2"]`);
  await page.waitForFunction(() => document.getElementById('preview').open);
  await painted();
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 390));
  await page.keyboard.press('Escape');
  await page.setViewport({width: 1280, height: 900});
});

test('a file dropped anywhere on the page', async () => {
  const bytes = [...fs.readFileSync(image('sample.d88'))];
  await page.evaluate((bytes) => {
    const data = new DataTransfer();
    data.items.add(new File([new Uint8Array(bytes)], 'dropped.d88'));
    document.querySelector('header').dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true}));
  }, bytes);
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('dropped'));
  assert.equal(await text('#status'), 'dropped.d88: 2 disks, 44 files.');
});

// Every visible text of the page that is not data (names, numbers, what the
// tools write) against the tables: the element's text, with each child
// element as a hole, or each piece between the holes, must be one of the
// page's language's texts, and none of the other language's that differ.
const foreignTexts = (page) => page.evaluate(() => {
  const tables = self.d88Texts;
  const mine = document.documentElement.lang;
  const other = mine === 'ja' ? 'en' : 'ja';
  const pattern = (text) => new RegExp('^' + text.trim().split(/\{\w+\}/)
      .map((part) => part.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')).join('[^]*') + '$');
  const patterns = (language) => Object.entries(tables[language]).map(([key, text]) => [key, pattern(text)]);
  const own = patterns(mine);
  const theirs = patterns(other).filter(([key]) => tables[mine][key] !== tables[other][key]);
  const fits = (text) => own.some(([, re]) => re.test(text)) && !theirs.some(([, re]) => re.test(text));
  const bad = [];
  if (document.title !== tables[mine].title) bad.push(document.title);
  for (const element of document.body.querySelectorAll('*')) {
    if (element.closest('script, pre, code, .data, .message')) continue;
    const shown = element.tagName === 'OPTION' ? element.parentElement.checkVisibility() : element.checkVisibility();
    if (!shown) continue;
    const text = [...element.childNodes].map((node) => (node.nodeType === Node.TEXT_NODE ? node.textContent : '\u0001'))
        .join('');
    if (element.placeholder && !fits(element.placeholder)) bad.push(element.placeholder);
    if (!text.replace(/\u0001/g, '').trim()) continue;
    const whole = text.replace(/^[\s\u0001]+|[\s\u0001]+$/g, '');
    const pieces = text.split('\u0001').map((piece) => piece.trim()).filter(Boolean);
    if (!fits(whole) && !pieces.every(fits)) bad.push(whole);
  }
  return bad;
});

// The page with its map, sector IDs and a preview open, and a refusal
// reported: what the text check reads.
async function everythingShown(page, files) {
  await page.evaluate(() => window.d88Timings = {});
  await (await page.$('#chooser')).uploadFile(...files);
  await page.waitForFunction(() => window.d88Timings.given !== undefined);
  await page.$$eval('details', (list) => list.forEach((d) => d.open = true));
  await page.waitForSelector('section.disk[data-disk="0"] .legend-file');
  await page.waitForFunction(() => !document.querySelector('pre.tracks:not([data-filled])'));
  // A zip that puts notes.txt in S000's place, dropped on the listing.
  await page.evaluate((bytes) => {
    const data = new DataTransfer();
    data.items.add(new File([new Uint8Array(bytes)], 'wrong.zip'));
    document.getElementById('replace-drop').dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true}));
  }, [...zipSync({'000/S000': fs.readFileSync(image('notes.txt'))})]);
  await page.waitForSelector('#put-report.refused', {visible: true});
}

test('the page in English and in Japanese: every text from its table, the switch changes them all', async () => {
  const {en, ja} = await page.evaluate(() => self.d88Texts);
  // The same keys, and in each key the same names to fill in.
  assert.deepEqual(Object.keys(ja).sort(), Object.keys(en).sort());
  const holes = (text) => (text.match(/\{\w+\}/g) || []).sort();
  for (const key of Object.keys(en)) assert.deepEqual(holes(ja[key]), holes(en[key]), key);
  const two = [image('sample.d88'), image('cut.d88')];
  await everythingShown(page, two);
  assert.deepEqual(await foreignTexts(page), []);
  await page.focus('button.name[data-disk="0"][data-file="2"]');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('preview').open);
  assert.deepEqual(await foreignTexts(page), []);
  await page.keyboard.press('Escape');

  // Chromium in Japanese: the page speaks Japanese until English is chosen,
  // and remembers the choice.
  const japanese = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    ignoreDefaultArgs: true,
    defaultViewport: {width: 1100, height: 760},
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--lang=ja', '--accept-lang=ja',
      `--user-data-dir=${fs.mkdtempSync(path.join(os.tmpdir(), 'd88web-chromium-ja-'))}`, 'about:blank'],
  });
  try {
    const ja = await japanese.newPage();
    const jaErrors = [];
    ja.on('pageerror', (error) => jaErrors.push(String(error)));
    await ja.goto(pathToFileURL(process.env.D88_PAGE).href);
    assert.match(await ja.evaluate(() => navigator.languages[0]), /^ja/);
    await ja.waitForFunction(() => document.getElementById('status').textContent === '準備ができました。');
    assert.deepEqual(await foreignTexts(ja), []);
    await everythingShown(ja, [image('text.d88'), image('cut.d88')]);
    assert.deepEqual(await foreignTexts(ja), []);
    assert.match(await ja.$eval('#status', (e) => e.textContent), /^text\.d88: ディスク 2 枚、ファイル 44 個。$/);
    // d88put's refusal stays as d88put wrote it.
    assert.match(await ja.$eval('#put-report pre', (e) => e.textContent), /files cannot change size/);
    assert.equal(await ja.$eval('#put-report .heading', (e) => e.textContent), '差し替えできませんでした（何も変更していません）');
    for (const [button, lang] of [['en', 'en'], ['ja', 'ja'], ['en', 'en']]) {
      await ja.click(`#languages button[data-language="${button}"]`);
      await ja.$$eval('details', (list) => list.forEach((d) => d.open = true));
      await ja.waitForSelector('section.disk[data-disk="0"] .legend-file');
      await ja.waitForFunction(() => !document.querySelector('pre.tracks:not([data-filled])'));
      assert.equal(await ja.evaluate(() => document.documentElement.lang), lang);
      assert.deepEqual(await foreignTexts(ja), []);
    }
    await ja.reload();
    await ja.waitForFunction(() => document.getElementById('status').textContent === 'Ready.');
    await ja.click('#languages button[data-language="ja"]');
    // The README's picture of the page in Japanese: three files, the first
    // one's disk 0 below them (its S117 shown first, as text).
    await ja.setViewport({width: 1100, height: 900});
    await ja.evaluate(() => window.d88Timings = {});
    await (await ja.$('#chooser')).uploadFile(image('text.d88'), image('sample.d88'), image('notes.txt'));
    await ja.waitForFunction(() => window.d88Timings.given !== undefined);
    await ja.$eval('details.map[data-disk="0"]', (d) => d.open = true);
    await ja.waitForSelector('details.map[data-disk="0"] .cell');
    await ja.focus(`button.name[data-disk="0"][data-file="${await ja.evaluate(() => {
      window.d88EnsureRows(0);
      return [...document.querySelectorAll('button.name[data-disk="0"]')].find((b) => b.textContent === 'S117')
          .dataset.file;
    })}"]`);
    await ja.keyboard.press('Enter');
    await ja.waitForFunction(() => document.getElementById('preview').open);
    await ja.click('#tab-text');
    assert.deepEqual(await foreignTexts(ja), []);
    await ja.keyboard.press('Escape');
    await ja.evaluate(() => window.scrollTo(0, 0));
    await ja.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
    await ja.screenshot({path: path.join(out, 'screenshot-ja.png')});
    assert.deepEqual(jaErrors, []);
  } finally {
    await japanese.close();
  }
});

// What d88info --summary --json gives for `files`: its lines by path.
const summaryLines = (files) => execFileSync(bin('d88info'), ['--summary', '--json', ...files],
    {encoding: 'utf8'}).trim().split('\n').map((line) => JSON.parse(line));
const columns = ['disks', 'systemDisks', 'dataDisks', 'notRecognised', 'files', 'incomplete', 'skipped'];

test('several files at once: the catalogue as d88info --summary; a row opens its file', async () => {
  const given = ['sample.d88', 'cut.d88', 'notes.txt', 'full.d88', 'cut0.d88'].map(image);
  const expected = summaryLines(given);
  const catalogue = async () => page.$$eval('#catalogue tr', (rows) => rows.map((row) =>
    [...row.querySelectorAll('td, th')].slice(1).map((cell) => cell.textContent)));
  for (const how of ['chosen', 'dropped']) {
    await page.evaluate(() => window.d88Timings = {});
    if (how === 'chosen') {
      await (await page.$('#chooser')).uploadFile(...given);
    } else {
      await page.evaluate((files) => {
        const data = new DataTransfer();
        for (const [name, bytes] of files) data.items.add(new File([new Uint8Array(bytes)], name));
        document.querySelector('header').dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true}));
      }, given.map((file) => [path.basename(file), [...fs.readFileSync(file)]]));
    }
    await page.waitForFunction(() => window.d88Timings.given !== undefined);
    const rows = await catalogue();
    // A heading, a row per file in the order given, the total.
    assert.equal(rows.length, given.length + 2);
    assert.deepEqual(rows.slice(1).map((row) => row.map(Number)),
        expected.map((line) => columns.map((key) => line[key])));
    assert.deepEqual(await page.$$eval('#catalogue button.open', (list) => list.map((e) => e.textContent)),
        given.map((file) => path.basename(file)));
    assert.equal(await page.$eval('#catalogue tfoot th', (e) => e.textContent), 'total (5 files)');
    // The first file is listed below.
    assert.equal(await text('#status'), 'sample.d88: 2 disks, 44 files.');
    assert.ok((await download('#download-json')).bytes.equals(execFileSync(bin('d88info'), ['--json', given[0]])));
    console.log(`${given.length} files summed up in ${(await page.evaluate(() =>
      window.d88Timings.catalogue)).toFixed(0)} ms`);
  }
  // A click on a row lists its file; the catalogue stays.
  await page.click('#catalogue tr[data-row="1"] td:nth-child(3)');
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('cut.d88'));
  assert.equal(await text('#status'), 'cut.d88: 2 disks, 44 files.');
  assert.ok((await download('#download-json')).bytes.equals(execFileSync(bin('d88info'), ['--json', given[1]])));
  assert.equal(await page.$eval('#catalogue tr.shown button.open', (e) => e.textContent), 'cut.d88');
  assert.equal((await catalogue()).length, given.length + 2);
  // A file of 3 GiB among them is not read: its row says so, the total
  // counts it as failed and adds nothing for it.
  const huge = image('huge-catalogue.d88');
  fs.closeSync(fs.openSync(huge, 'w'));
  fs.truncateSync(huge, 3 * 2 ** 30);
  await page.evaluate(() => window.d88Timings = {});
  await (await page.$('#chooser')).uploadFile(given[0], huge, given[1]);
  await page.waitForFunction(() => window.d88Timings.given !== undefined);
  fs.rmSync(huge);
  const rows = await catalogue();
  assert.deepEqual(rows[2], ['not read: 2 GiB or more']);
  const two = summaryLines(given.slice(0, 2));
  assert.deepEqual([rows[1], rows[3]].map((row) => row.map(Number)),
      two.slice(0, 2).map((line) => columns.map((key) => line[key])));
  assert.deepEqual(rows[4].map(Number), columns.map((key) => two[2][key]));
  assert.equal(await page.$eval('#catalogue tfoot th', (e) => e.textContent), 'total (3 files, 1 failed)');
  // One file given again: the catalogue goes.
  await load(image('sample.d88'));
  assert.ok(await page.$eval('#catalogue', (e) => e.hidden));
});

test('no script errors on the page', () => assert.deepEqual(errors, []));
