#include "disk/recognised.h"

namespace disk {

void recogniseDiskOf(d88::D88Image& image, std::int32_t index, RecognisedDisk& disk) {
  disk.index = index;
  disk.kind = DiskKind::Unknown;
  disk.files.clear();
  disk.firstOfTable = {};
  if (!selectDisk(image, index)) {
    return;
  }
  disk.kind = recogniseDisk(image, disk.tables);
  std::array<bool, kTableCount> met{};
  forEachDiskFile(disk.kind, disk.tables, [&](const DiskFile& file) {
    if (file.table >= 0 && !met.at(static_cast<std::size_t>(file.table))) {
      met.at(static_cast<std::size_t>(file.table)) = true;
      disk.firstOfTable.at(static_cast<std::size_t>(file.table)) = disk.files.size();
    }
    disk.files.push_back(FileListing{file});
  });
  // A table without files starts where the files before it end.
  for (std::int32_t table = 0; table < kTableCount; ++table) {
    if (!met.at(static_cast<std::size_t>(table))) {
      disk.firstOfTable.at(static_cast<std::size_t>(table)) =
          table == 0 ? disk.layout().fixed.count : disk.files.size();
    }
  }
}

}  // namespace disk
