// What the three parts of a put-back (the comparison, the re-laying and the
// verification) hand on to each other while a plan is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "d88/d88_image.h"
#include "disk/chain.h"
#include "disk/edit_source.h"
#include "disk/put_back.h"
#include "disk/recognised.h"
#include "disk/room.h"

namespace disk {

// A file whose changed bytes are laid over the image.
struct ChangedFile {
  std::int32_t disk = 0;
  std::size_t file = 0;  // index in the disk's listing
  DiskFile entry;        // where it lies once laid
  std::string name;      // as the edit source shows it
  // Its bytes until they are laid over the image; then the plan's laid
  // edits read them again when needed, so that memory holds one edit.
  std::vector<std::uint8_t> bytes;
  std::vector<FileSpan> spans;
  std::uint32_t laid = 0;  // its number among the laid edits
};

// A table file of another size, read whole.
struct ResizeEdit {
  std::size_t file = 0;
  std::string shown;
  std::vector<std::uint8_t> bytes;
};

// A re-laid table of a disk: the listing index of the first file laid again,
// and the new addresses of it and the files after it, the last entry's
// included.
struct RelaidFiles {
  std::size_t firstFile = 0;
  std::vector<std::int32_t> newAt;
};

// What was read of a disk: its kind and which of its files d88extract writes.
struct DiskSummary {
  DiskKind kind = DiskKind::Unknown;
  std::vector<bool> written;
};

// The state a plan is made in: the two openings, the edits, and what each
// part leaves for the next.
class PlanWork {
 public:
  PlanWork(d88::D88Image& original, d88::D88Image& patched, EditSource& edits,
           const PlanOptions& options, PutPlan& plan)
      : original(original), patched(patched), edits(edits), options(options), plan(plan) {}

  // Every notice of a put-back says what it ignored.
  void add(Diagnostic diagnostic);
  void refuse(Refusal refusal);
  // The byte users of the selected disk `disk`, collected once for it.
  const DiskUsage& usageOf(const RecognisedDisk& disk);
  // The put of file `file` of disk `disk`; changed.end() for none.
  [[nodiscard]] std::vector<ChangedFile>::iterator findPut(std::int32_t disk, std::size_t file);

  d88::D88Image& original;
  d88::D88Image& patched;
  EditSource& edits;
  const PlanOptions& options;
  PutPlan& plan;
  std::vector<ChangedFile> changed;
  std::map<std::int32_t, DiskSummary> summaries;
  std::map<std::int32_t, std::vector<RelaidFiles>> relaid;
  // Files of the disk being compared found equal, by listing index: a file
  // that then moves counts as moved instead.
  std::set<std::size_t> countedUnchanged;
  std::vector<d88::ChainStep> steps;
  // The chains of the original and of the changed image. Left uninitialised:
  // a chain read touches only the pages it fills, so memory follows the
  // largest file rather than the buffers' size.
  std::unique_ptr<std::uint8_t[]> buffer{new std::uint8_t[kExtractBufferSize]};
  std::unique_ptr<std::uint8_t[]> patchedBuffer{new std::uint8_t[kExtractBufferSize]};

 private:
  // One set of room for every disk, so that disk after disk does not
  // scatter the heap.
  DiskUsage usage_;
  std::int32_t usageOf_ = -1;
};

}  // namespace disk
