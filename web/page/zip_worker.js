// The zip worker: builds a zip of the folders the page sends it, one
// message per folder, off the page's thread. It runs from a Blob URL (a
// page opened from disk may not start a worker from a file), with the zip
// library before it in the same source.
'use strict';
/* global fflate */
let chunks = [];
let zip = null;
let failed = null;

function start() {
  chunks = [];
  failed = null;
  zip = new fflate.Zip((error, data) => {
    if (error) failed = error;
    else chunks.push(data);
  });
}

// A folder: its entry, then each file's, stored: the files are read as they are, and speed matters more than size.
function addFolder({folder, files}) {
  const entry = new fflate.ZipPassThrough(folder + '/');
  zip.add(entry);
  entry.push(new Uint8Array(0), true);
  for (const [name, bytes] of files) {
    const file = new fflate.ZipPassThrough(`${folder}/${name}`);
    zip.add(file);
    file.push(bytes, true);
  }
}

self.onmessage = ({data}) => {
  if (data.type === 'start') {
    start();
  } else if (data.type === 'folder') {
    addFolder(data);
    self.postMessage({type: 'progress', done: data.done});
  } else if (data.type === 'end') {
    zip.end();
    if (failed) {
      self.postMessage({type: 'error', message: String(failed)});
    } else {
      self.postMessage({type: 'zip', chunks}, chunks.map((chunk) => chunk.buffer));
    }
    chunks = [];
  }
};
