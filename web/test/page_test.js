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
const {unzipSync} = require('fflate');

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
  // Text: read as a disk with no sectors, and too short to hold a disk.
  fs.writeFileSync(image('notes.txt'), 'not a disk image\n'.repeat(50));
  fs.writeFileSync(image('short.txt'), 'not a disk image\n');
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

async function replace(disk, name, file) {
  const [chooser] = await Promise.all([page.waitForFileChooser(),
    page.click(`button.replace[data-disk="${disk}"][data-file="${await fileIndex(disk, name)}"]`)]);
  const before = await page.$eval('#put-report', (e) => e.textContent);
  await chooser.accept([file]);
  await page.waitForFunction((text) => document.getElementById('put-report').textContent !== text,
      {}, before);
  return page.$eval('#put-report', (e) => ({text: e.textContent, accepted: e.className === 'accepted'}));
}
const fileIndex = (disk, name) => page.evaluate((disk, name) =>
  [...document.querySelectorAll(`button.name[data-disk="${disk}"]`)]
      .find((b) => b.textContent === name).dataset.file, disk, name);

// d88put on `d88` with a folder holding `files` ({'000/S117': bytes}),
// writing to `output`: its status, standard output and standard error.
function d88put(d88, files, output) {
  const folder = fs.mkdtempSync(path.join(out, 'put-'));
  for (const [name, bytes] of Object.entries(files)) {
    fs.mkdirSync(path.join(folder, path.dirname(name)), {recursive: true});
    fs.writeFileSync(path.join(folder, name), bytes);
  }
  const run = child.spawnSync(bin('d88put'), [d88, folder, '-o', output], {encoding: 'utf8'});
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

for (const name of ['sample.d88', 'names.d88', 'cut.d88', 'notes.txt', 'full.d88']) {
  test(`${name}: listing and zip as d88info --json and d88extract -a`, async () => {
    const given = await load(image(name));
    const json = await download('#download-json');
    assert.equal(json.name, name.replace(/\.\w+$/, '.json'));
    assert.ok(json.bytes.equals(execFileSync(bin('d88info'), ['--json', image(name)])));
    // Each disk's sector IDs, folded away until opened, as d88info's text shows them.
    assert.ok(await page.$$eval('details', (list) => list.every((d) => !d.open)));
    await page.$$eval('details', (list) => list.forEach((d) => d.open = true));
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
      fs.writeFileSync(path.join(out, 'timings.json'), JSON.stringify({listed: given.ms, zip: zip.ms}));
    }
  });
}

test('disk names decoded as d88info decodes them', async () => {
  await load(image('names.d88'));
  const shown = await page.$$eval('.disk-name', (list) => list.map((e) => e.textContent));
  const listing = JSON.parse(execFileSync(bin('d88info'), ['--json', image('names.d88')]));
  assert.deepEqual(shown, listing.disks.map((disk) => disk.name));
  assert.match(shown[0], /^ｱｲｳ\\ⅰ/);
});

test('a file downloaded by its name', async () => {
  await load(image('sample.d88'));
  const file = await download(`button.name[data-disk="1"][data-file="${await fileIndex(1, 'D101')}"]`);
  assert.equal(file.name, 'D101');
  assert.ok(file.bytes.equals(extracted(image('sample.d88'))['001/D101']));
});

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
    const report = await replace(Number(disk), base, file);
    const next = path.join(out, `put-${step}.d88`);
    const put = d88put(current, {[name]: bytes}, next);
    assert.equal(report.text, `${base} of disk ${Number(disk)} from ${path.basename(file)}:\n${put.text}`);
    assert.equal(report.accepted, put.status === 0);
    if (put.status === 0) current = next;
  }
  assert.match((await page.$eval('#put-report', (e) => e.textContent)), /files cannot change size/);
  const saved = await download('#download-image');
  assert.equal(saved.name, 'sample.d88');
  assert.ok(saved.bytes.equals(fs.readFileSync(current)));
  assert.ok(!saved.bytes.equals(fs.readFileSync(image('sample.d88'))));
  assert.ok((await download('#download-json')).bytes.equals(execFileSync(bin('d88info'), ['--json', current])));
  await page.screenshot({path: path.join(out, 'screenshot.png')});
});

test('a file with no disk image', async () => {
  await load(image('short.txt'));
  const status = await page.$eval('#status', (e) => e.textContent);
  assert.equal(status + '\n', execFileSync(bin('d88info'), [image('short.txt')], {encoding: 'utf8'}));
  assert.ok(await page.$eval('#result', (e) => e.hidden));
});

test('a file dropped on the page', async () => {
  const bytes = [...fs.readFileSync(image('sample.d88'))];
  await page.evaluate((bytes) => {
    const data = new DataTransfer();
    data.items.add(new File([new Uint8Array(bytes)], 'dropped.d88'));
    document.getElementById('drop').dispatchEvent(new DragEvent('drop', {dataTransfer: data}));
  }, bytes);
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('dropped'));
  assert.equal(await page.$eval('#status', (e) => e.textContent), 'dropped.d88: 2 disks, 44 files.');
});

test('no script errors on the page', () => assert.deepEqual(errors, []));
