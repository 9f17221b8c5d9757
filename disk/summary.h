// What a D88 file's listing comes to in numbers: its disks by kind and its
// files by what extraction does with them. The catalogue of a collection
// adds these up file by file.
#pragma once

#include <cstdint>

#include "disk/listing.h"

namespace disk {

struct ListingSummary {
  std::int64_t disks = 0;
  std::int64_t systemDisks = 0;
  std::int64_t dataDisks = 0;
  std::int64_t notRecognised = 0;
  std::int64_t files = 0;       // every file "-a" writes or skips
  std::int64_t incomplete = 0;  // written, zero-filled past a break in the chain
  std::int64_t skipped = 0;     // not written at all

  // Counts one disk of a listing (a disk whose header is cut short is none).
  void add(const DiskListing& disk);
  ListingSummary& operator+=(const ListingSummary& other);
};

// What a summary needs of each disk: the files' verdicts, no tracks, no
// file's bytes.
inline constexpr DescribeParts kSummaryParts = kVerdictsOnly;

// Sums up every disk of the open file into `summary`, describing each into
// `disk` with kSummaryParts. False when the file changed while it was read
// (changedWhileRead): its summary then counts nothing.
[[nodiscard]] bool summariseImage(d88::D88Image& image, const DiskBuffers& buffers,
                                  DiskListing& disk, ListingSummary& summary);

}  // namespace disk
