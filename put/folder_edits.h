// The edits of a folder on the host: what d88extract -a wrote (a folder per
// disk, 000 to 063), or with a disk number one disk's files themselves (as
// d88extract -d writes them). Entries that are no regular file are listed
// as ignored and never read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/edit_source.h"

class FolderEdits final : public disk::EditSource {
 public:
  FolderEdits(std::filesystem::path folder, std::optional<std::int32_t> disk);
  ~FolderEdits() override;

  void survey(std::int32_t diskCount, disk::Diagnostics& diagnostics) override;
  [[nodiscard]] bool editsOf(std::int32_t disk, disk::DiskEdits& edits,
                             std::string& failure) override;
  [[nodiscard]] std::optional<std::uint64_t> sizeOf(std::int32_t disk,
                                                    const std::string& name) override;
  [[nodiscard]] bool read(std::int32_t disk, const std::string& name,
                          std::vector<std::uint8_t>& bytes) override;
  [[nodiscard]] std::string shownName(std::int32_t disk, const std::string& name) const override;

 private:
  // The folder of a disk's files; empty when there is none.
  [[nodiscard]] std::filesystem::path folderOf(std::int32_t disk) const;
  [[nodiscard]] std::filesystem::path pathOf(std::int32_t disk, const std::string& name) const;

  std::filesystem::path folder_;
  std::optional<std::int32_t> disk_;
  // The files of the disk listed last, by name.
  std::int32_t listed_ = -1;
  std::map<std::string, std::filesystem::path> files_;
  // The file whose size was asked last, held open for the read that
  // follows: its size and its bytes come from one open file.
  class OpenFile;
  std::unique_ptr<OpenFile> open_;
  std::int32_t openDisk_ = -1;
  std::string openName_;
};
