// A disk as a put-back sees it, recognised once: its kind, its two tables
// and the files d88extract -a writes, each knowing its table entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "d88/d88_image.h"
#include "disk/file_tables.h"
#include "disk/listing.h"

namespace disk {

struct RecognisedDisk {
  std::int32_t index = -1;
  DiskKind kind = DiskKind::Unknown;
  TableBuffers tables{};
  // In extraction order; verdicts are those of the chains read.
  std::vector<FileListing> files;
  // The listing index of each table's entry 0.
  std::array<std::size_t, kTableCount> firstOfTable{};

  [[nodiscard]] const DiskLayout& layout() const { return layoutOf(kind); }
  // The listing index of the file that entry `entry` of table `table` starts.
  [[nodiscard]] std::size_t fileAt(std::int32_t table, std::int32_t entry) const {
    return firstOfTable.at(static_cast<std::size_t>(table)) + static_cast<std::size_t>(entry);
  }
  [[nodiscard]] const DiskFile& file(std::size_t index) const { return files.at(index).file; }
};

// Selects disk `index` of `image`, recognises it and lists its files into
// `disk` (whose room is reused), reading no chain: every verdict Complete.
// A disk whose header the file does not hold whole has no file.
void recogniseDiskOf(d88::D88Image& image, std::int32_t index, RecognisedDisk& disk);

}  // namespace disk
