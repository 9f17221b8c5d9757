// Listing many D88 files at once: each worker thread lists whole files with
// its own reader and buffers, and the results come out in input order, at
// most `window` of them read ahead of the one being written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "d88/d88_image.h"
#include "disk/chain.h"
#include "disk/listing.h"
#include "disk/summary.h"
#include "format/catalogue.h"
#include "info/inputs.h"

// One thread's room: the reader of the file it lists, the buffers its disks
// are read into, and the listing reused from disk to disk.
struct Reader {
  d88::D88Image image;
  disk::TableBuffers tables;
  std::unique_ptr<disk::ExtractBuffer> chain = std::make_unique<disk::ExtractBuffer>();
  disk::DiskListing disk;
  OpenFolder folder;

  [[nodiscard]] disk::DiskBuffers buffers() { return {tables, chain->data()}; }
};

// What one input gives: its text for standard output and standard error,
// its counts, and whether it failed.
struct FileResult {
  std::string shown;  // the input's path as shown
  std::string out;
  std::string err;
  disk::ListingSummary summary;
  format::InputFailure failure = format::InputFailure::None;
  std::int64_t bytes = 0;  // the size of the file read
};

using ListInput = std::function<FileResult(Reader&, const Input&)>;
// Takes one result; false stops the run (the output cannot be written).
using TakeResult = std::function<bool(const Input&, FileResult&)>;

// Lists every input with `list` on `threads` threads (one: on the calling
// thread, no other started) and hands each result to `take` on the calling
// thread, in input order. At most `window` results (at least `threads`)
// exist at once, those being listed included. Once `take` returns false no
// input is started; the ones being listed are finished and dropped.
void listInOrder(const std::vector<Input>& inputs, std::size_t threads, std::size_t window,
                 const ListInput& list, const TakeResult& take);

// A progress line on standard error, rewritten in place with '\r': files
// done out of the total, megabytes read, files per second. Shown only when
// `shown` (a terminal and enough inputs); at most ten times a second.
class Progress {
 public:
  Progress(std::size_t total, bool shown);
  // One more input done, of `bytes` bytes.
  void advance(std::int64_t bytes);
  // Clears the line before other text goes to standard error.
  void clear();
  // The last state, and the line ended.
  void finish();

 private:
  void draw();

  std::size_t total_;
  bool shown_;
  std::size_t done_ = 0;
  std::int64_t bytes_ = 0;
  std::size_t drawnWidth_ = 0;
  double started_ = 0;
  double drawnAt_ = -1;
};
