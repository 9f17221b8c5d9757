// Where sector IDs of one track are first found by the record walk: a small
// map for the IDs a reader of a normal disk asks for, and a full index of
// every ID for any other lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace d88 {

// What a record's header says of its data, kept by the index so that a
// sector is found, and judged, without reading its header again.
struct RecordMarks {
  std::uint16_t dataLength = 0;
  std::uint8_t status = 0;
  std::uint8_t deletedMark = 0;
};

// Where an indexed record lies from its track's start, and its header's marks.
struct IndexedRecord {
  std::int64_t relativeOffset = 0;
  RecordMarks marks;
};

// The first record of each sector number R among a track's records of one
// cylinder, head and size code: at most 256 slots, whatever the track holds,
// and only as many as the highest R seen (17 on a track of sectors 1 to 16).
class SectorMap {
 public:
  static constexpr std::int64_t kMaxRelativeOffset = UINT32_MAX - 1;

  // Starts an empty map for records with this C, H and N.
  void reset(std::uint8_t c, std::uint8_t h, std::uint8_t n);
  // Back to unbuilt, keeping the room (at most 256 slots) for the next disk.
  void forget() {
    slots_.clear();
    built_ = false;
  }
  [[nodiscard]] bool isBuilt() const { return built_; }
  [[nodiscard]] bool covers(std::uint8_t c, std::uint8_t h, std::uint8_t n) const {
    return isBuilt() && c == c_ && h == h_ && n == n_;
  }
  // Records a walked record of the map's C, H and N, keeping the first per
  // R; returns false once the map cannot hold its offset.
  [[nodiscard]] bool add(std::uint8_t r, std::int64_t relativeOffset, RecordMarks marks);
  void markIncomplete() { complete_ = false; }
  [[nodiscard]] bool isComplete() const { return complete_; }
  [[nodiscard]] std::optional<IndexedRecord> find(std::uint8_t r) const;
  // A walked record the map does not hold (of another C, H or N).
  void skipRecord() { everyRecord_ = false; }
  // Whether the map holds every record its walk visited: none of another
  // C, H or N, no sector number twice, none out of reach.
  [[nodiscard]] bool holdsEveryRecord() const { return everyRecord_ && complete_; }
  // The offsets of the records held, in stored order.
  void offsetsInOrder(std::vector<std::int64_t>& offsets) const;

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  struct Slot {
    std::uint32_t offset = kNone;  // kNone where no record has its R
    RecordMarks marks;
  };
  static_assert(sizeof(Slot) == 8, "an offset and the header's marks per sector number");
  std::vector<Slot> slots_;  // by R
  bool built_ = false;
  std::uint8_t c_ = 0;
  std::uint8_t h_ = 0;
  std::uint8_t n_ = 0;
  bool complete_ = true;
  bool everyRecord_ = true;
};

class SectorIdIndex {
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
  // Back to unbuilt and empty, its room given back: an index can be large.
  void forget() {
    std::vector<Entry>().swap(entries_);
    complete_ = true;
    built_ = false;
  }
  // Records a walked record; returns false once the index cannot hold it.
  [[nodiscard]] bool add(std::uint32_t key, std::int64_t relativeOffset, RecordMarks marks);
  // Sorts the records by ID, keeping the first in stored order of each ID;
  // the index is then built.
  void finish();
  [[nodiscard]] bool isBuilt() const { return built_; }
  void markIncomplete() { complete_ = false; }

  [[nodiscard]] bool isComplete() const { return complete_; }
  // The offset of the first record with this ID, if the index holds one.
  [[nodiscard]] std::optional<IndexedRecord> find(std::uint32_t key) const;

 private:
  struct Entry {
    std::uint32_t key;
    std::uint32_t relativeOffset;
    RecordMarks marks;
  };
  static_assert(sizeof(RecordMarks) == 4, "a data length, a status and a deleted mark");
  static_assert(sizeof(Entry) == 12, "two 32-bit fields and the header's marks per indexed record");

  std::vector<Entry> entries_;
  bool complete_ = true;
  bool built_ = false;
};

}  // namespace d88
