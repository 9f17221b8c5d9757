// The listing as text for people: one header line per disk, one line per
// track slot with an offset, with the sector IDs its walk finds, the
// recognised kind and what extraction does with each file.
#pragma once

#include <string>

#include "disk/listing.h"

namespace format {

// The lines of one disk, UTF-8, each ending in '\n'.
[[nodiscard]] std::string formatDiskText(const disk::DiskListing& disk);

// Shown when the scan finds no disk image at all.
inline constexpr char kNoDiskImageText[] = "no disk image found\n";

}  // namespace format
