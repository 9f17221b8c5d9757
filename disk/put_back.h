// Putting edited files back: which edits differ from what d88extract -a
// writes, where their bytes go in the D88 file, and whether the changed file
// still holds every disk and file as before; then the changed file written
// by the caller's writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "d88/d88_image.h"
#include "disk/diagnostic.h"
#include "disk/edit_source.h"
#include "disk/file_tables.h"
#include "disk/patched_image.h"

namespace disk {

// A file put back, as its line reports it.
struct PutLine {
  TableFileName name{};
  std::int32_t disk = 0;
  std::int32_t track = 0;
  std::int32_t r = 0;
  std::int32_t offset = 0;
  std::int32_t size = 0;
  std::size_t file = 0;  // index in the disk's listing: lines come in this order
};

// The files a size change moved, at their new places, in disk and file
// order: thousands on a big image, kept as runs of files one after another
// in a table, 8 bytes a file, rather than a line each.
class MovedFiles {
 public:
  // Starts a run: the table files of a `kind` disk numbered from
  // `firstNumber` on, at listing index `firstFile` on, of disk `disk`.
  void startRun(std::int32_t disk, DiskKind kind, std::int32_t firstNumber, std::size_t firstFile);
  // The run's next file: at linear address `at`, of `size` bytes.
  void add(std::int32_t at, std::int32_t size);
  [[nodiscard]] std::size_t size() const { return places_.size(); }
  [[nodiscard]] bool empty() const { return places_.empty(); }
  // The line of moved file `index` (below size()).
  [[nodiscard]] PutLine operator[](std::size_t index) const;

 private:
  struct Run {
    std::int32_t disk;
    DiskKind kind;
    std::int32_t firstNumber;
    std::size_t firstFile;
    std::size_t first;  // index of its first file in places_
  };
  struct Place {
    std::int32_t at;
    std::int32_t size;
  };
  std::vector<Run> runs_;
  std::vector<Place> places_;
};

// Where the fast and the full check of a disk disagree.
struct CheckDisagreement {
  std::int32_t disk = -1;
  std::vector<Refusal> fast;
  std::vector<Refusal> full;
  [[nodiscard]] bool found() const { return disk >= 0; }
};

// A plan's changed image reads its edits from the source given to
// planPutBack, which must outlive the reads; the plan stays where it was made.
struct PutPlan {
  PutPlan() = default;
  PutPlan(const PutPlan&) = delete;
  PutPlan& operator=(const PutPlan&) = delete;

  std::vector<PutLine> putBack;  // in disk and file order
  MovedFiles moved;              // files moved by a size change, at their new places
  bool resize = false;           // sizes may change: the summary counts moved files
  std::int32_t unchanged = 0;
  std::int32_t ignored = 0;
  std::int32_t errors = 0;
  Diagnostics diagnostics;  // for standard error, in order: notices and errors
  PatchedImage image;       // the changed bytes, by file position, and the edits they lay
  // Proving only: the first disk the fast check concluded on that got other
  // errors from the full check, with both lists; no disk while they agree.
  CheckDisagreement disagreement;
};

// A disk whose structure (header, file tables, the record headers its
// chains go through) meets no changed byte is checked from its record
// headers, reading only the files that changed bytes touch; any other disk
// by reading every file of both images side by side. Proving runs the full
// check after every fast one too, and notes where they disagree.
// With `resize`, a table file of another size goes back too: the files
// after it in its table move by the difference, their entries rewritten.
struct PlanOptions {
  bool proveFastCheck = false;
  bool resize = false;
};

// Compares the edits with the disks of `original` and lays every change
// over `patched` (the same D88 file opened a second time), then checks the
// result by reading `patched`: the same kind and files on every disk, every
// file put back reads back as its edit's bytes, every other file as before.
// The plan is sound when it has no errors.
void planPutBack(d88::D88Image& original, d88::D88Image& patched, EditSource& edits, PutPlan& plan,
                 const PlanOptions& options = {});

// Where a sound put-back writes the changed file: the tool replaces the file
// on disk, the page the file in its memory.
class ImageWriter {
 public:
  ImageWriter() = default;
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;
  virtual ~ImageWriter() = default;

  // Whether a plan with or without changes writes anything.
  [[nodiscard]] virtual bool writes(bool changes) const = 0;
  // Writes the new file, `image.writeTo` a sink of its own; a writer that
  // must close the images before the file is replaced calls
  // `image.release()`. False, with the errors in `diagnostics`, when the
  // file was not written.
  [[nodiscard]] virtual bool write(PatchedImage& image, Diagnostics& diagnostics) = 0;
};

// The whole put-back on two openings of one D88 file: plans it, and when
// the plan is sound and the writer writes, writes it. The plan holds every
// diagnostic; returns whether it ended without an error.
[[nodiscard]] bool putBack(d88::D88Image& original, d88::D88Image& patched, EditSource& edits,
                           ImageWriter& writer, PutPlan& plan, const PlanOptions& options = {});

}  // namespace disk
