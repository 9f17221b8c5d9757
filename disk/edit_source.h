// Where the edited files of a put-back come from: a folder on the host, the
// page's edits, or edits held in memory. The planner asks which names a
// disk's edits hold, the size of one before its bytes, and its bytes only
// when it compares them, so that memory holds one edit at a time.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "disk/diagnostic.h"

namespace disk {

// The edits of one disk.
struct DiskEdits {
  std::vector<std::string> names;
  // By name, the notice for what the source holds there that is no edit (a
  // folder entry that is no file); those names are never read.
  std::map<std::string, std::string> ignored;
};

class EditSource {
 public:
  EditSource() = default;
  EditSource(const EditSource&) = delete;
  EditSource& operator=(const EditSource&) = delete;
  virtual ~EditSource() = default;

  // Before any disk: what the source holds that belongs to no disk of a file
  // of `diskCount` disks (notices), and errors that make it unusable.
  virtual void survey(std::int32_t diskCount, Diagnostics& diagnostics) = 0;
  // Fills `edits` for disk `disk`; false when the source holds nothing for
  // it, or (with the reason in `failure`) when its edits cannot be listed.
  [[nodiscard]] virtual bool editsOf(std::int32_t disk, DiskEdits& edits, std::string& failure) = 0;
  // The size of an edit listed by editsOf; none when it cannot be had.
  [[nodiscard]] virtual std::optional<std::uint64_t> sizeOf(std::int32_t disk,
                                                            const std::string& name) = 0;
  // Reads an edit into `bytes`, sized by the caller to the edit's size;
  // false unless it reads whole at that size. The check after the plan
  // reads the edits put back again, of disks listed before the last.
  [[nodiscard]] virtual bool read(std::int32_t disk, const std::string& name,
                                  std::vector<std::uint8_t>& bytes) = 0;
  // How messages name an edit: "000/S117", or "S117" when the source holds
  // one disk's edits itself.
  [[nodiscard]] virtual std::string shownName(std::int32_t disk, const std::string& name) const = 0;
};

// Edits held in memory, laid out as d88extract -a writes a folder per disk:
// the page's edits, the fuzzer's.
class MemoryEdits final : public EditSource {
 public:
  void add(std::int32_t disk, const std::string& name, std::vector<std::uint8_t> bytes);

  void survey(std::int32_t diskCount, Diagnostics& diagnostics) override;
  [[nodiscard]] bool editsOf(std::int32_t disk, DiskEdits& edits, std::string& failure) override;
  [[nodiscard]] std::optional<std::uint64_t> sizeOf(std::int32_t disk,
                                                    const std::string& name) override;
  [[nodiscard]] bool read(std::int32_t disk, const std::string& name,
                          std::vector<std::uint8_t>& bytes) override;
  [[nodiscard]] std::string shownName(std::int32_t disk, const std::string& name) const override;

 private:
  std::map<std::int32_t, std::map<std::string, std::vector<std::uint8_t>>> disks_;
};

}  // namespace disk
