#include "disk/edit_source.h"

#include <algorithm>

#include "disk/listing.h"

namespace disk {

void MemoryEdits::add(std::int32_t disk, const std::string& name, std::vector<std::uint8_t> bytes) {
  disks_[disk][name] = std::move(bytes);
}

// Edits for a disk the file lacks are ignored, as a folder of that name is.
void MemoryEdits::survey(std::int32_t diskCount, Diagnostics& diagnostics) {
  for (const auto& [disk, files] : disks_) {
    if (disk < 0 || disk >= diskCount) {
      Refusal notice;
      notice.code = RefusalCode::NoSuchDisk;
      notice.file = diskFolderName(disk).data();
      notice.disk = disk;
      diagnostics.push_back({Severity::Notice, notice});
    }
  }
}

bool MemoryEdits::editsOf(std::int32_t disk, DiskEdits& edits, std::string& /*failure*/) {
  const auto files = disks_.find(disk);
  if (files == disks_.end()) {
    return false;
  }
  for (const auto& [name, bytes] : files->second) {
    edits.names.push_back(name);
  }
  return true;
}

std::optional<std::uint64_t> MemoryEdits::sizeOf(std::int32_t disk, const std::string& name) {
  const auto files = disks_.find(disk);
  if (files == disks_.end() || files->second.count(name) == 0) {
    return std::nullopt;
  }
  return files->second.at(name).size();
}

bool MemoryEdits::read(std::int32_t disk, const std::string& name,
                       std::vector<std::uint8_t>& bytes) {
  const std::optional<std::uint64_t> size = sizeOf(disk, name);
  // An edit read at another size than its own is not the edit compared.
  if (!size || *size != bytes.size()) {
    return false;
  }
  const std::vector<std::uint8_t>& edit = disks_.at(disk).at(name);
  std::copy(edit.begin(), edit.end(), bytes.begin());
  return true;
}

std::string MemoryEdits::shownName(std::int32_t disk, const std::string& name) const {
  return std::string(diskFolderName(disk).data()) + "/" + name;
}

}  // namespace disk
