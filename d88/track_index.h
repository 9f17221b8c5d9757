// Where each sector ID of one track is first found by the record walk.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace d88 {

class TrackIndex {
 public:
  // Positions are counted from the track's start; a record further away than
  // this is not indexed, and the index is then incomplete.
  static constexpr std::int64_t kMaxRelativeOffset = UINT32_MAX;

  [[nodiscard]] static std::uint32_t key(std::uint8_t c, std::uint8_t h, std::uint8_t r,
                                         std::uint8_t n) {
    return std::uint32_t{c} | (std::uint32_t{h} << 8) | (std::uint32_t{r} << 16) |
           (std::uint32_t{n} << 24);
  }

  void reserve(std::size_t records) { entries_.reserve(records); }
  // Records a walked record; returns false once the index cannot hold it.
  [[nodiscard]] bool add(std::uint32_t key, std::int64_t relativeOffset);
  // Sorts the records by ID, keeping the first in stored order of each ID.
  void finish();
  void markIncomplete() { complete_ = false; }

  [[nodiscard]] bool isComplete() const { return complete_; }
  // The offset of the first record with this ID, if the index holds one.
  [[nodiscard]] std::optional<std::int64_t> find(std::uint32_t key) const;

 private:
  struct Entry {
    std::uint32_t key;
    std::uint32_t relativeOffset;
  };
  static_assert(sizeof(Entry) == 8, "two 32-bit fields per indexed record");

  std::vector<Entry> entries_;
  bool complete_ = true;
};

}  // namespace d88
