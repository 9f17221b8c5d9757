#include "d88/sector_index.h"

#include <algorithm>

namespace d88 {

void SectorMap::reset(std::uint8_t c, std::uint8_t h, std::uint8_t n) {
  slots_.clear();
  built_ = true;
  c_ = c;
  h_ = h;
  n_ = n;
  complete_ = true;
  everyRecord_ = true;
}

bool SectorMap::add(std::uint8_t r, std::int64_t relativeOffset, RecordMarks marks) {
  if (relativeOffset < 0 || relativeOffset > kMaxRelativeOffset) {
    complete_ = false;
    return false;
  }
  if (r >= slots_.size()) {
    slots_.resize(std::size_t{r} + 1);
  }
  // Only the first record of a sector number can be found.
  if (slots_[r].offset == kNone) {
    slots_[r] = {static_cast<std::uint32_t>(relativeOffset), marks};
  } else {
    everyRecord_ = false;
  }
  return true;
}

void SectorMap::offsetsInOrder(std::vector<std::int64_t>& offsets) const {
  offsets.clear();
  for (const Slot& slot : slots_) {
    if (slot.offset != kNone) {
      offsets.push_back(slot.offset);
    }
  }
  // Each record starts past the one before it: offset order is stored order.
  std::sort(offsets.begin(), offsets.end());
}

std::optional<IndexedRecord> SectorMap::find(std::uint8_t r) const {
  if (r >= slots_.size() || slots_[r].offset == kNone) {
    return std::nullopt;
  }
  return IndexedRecord{slots_[r].offset, slots_[r].marks};
}

bool SectorIdIndex::add(std::uint32_t key, std::int64_t relativeOffset, RecordMarks marks) {
  if (relativeOffset < 0 || relativeOffset > kMaxRelativeOffset) {
    complete_ = false;
    return false;
  }
  entries_.push_back(Entry{key, static_cast<std::uint32_t>(relativeOffset), marks});
  return true;
}

void SectorIdIndex::finish() {
  // Offsets grow along the walk, so among equal IDs the smallest offset is
  // the first in stored order.
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    return a.key != b.key ? a.key < b.key : a.relativeOffset < b.relativeOffset;
  });
  entries_.erase(std::unique(entries_.begin(), entries_.end(),
                             [](const Entry& a, const Entry& b) { return a.key == b.key; }),
                 entries_.end());
  // Many repeated IDs leave much unused room: give it back.
  if (entries_.size() < entries_.capacity() / 2) {
    entries_.shrink_to_fit();
  }
  built_ = true;
}

std::optional<IndexedRecord> SectorIdIndex::find(std::uint32_t key) const {
  // At most 65,535 records per track: the search takes at most 16 steps.
  const auto found =
      std::lower_bound(entries_.begin(), entries_.end(), key,
                       [](const Entry& entry, std::uint32_t k) { return entry.key < k; });
  if (found == entries_.end() || found->key != key) {
    return std::nullopt;
  }
  return IndexedRecord{found->relativeOffset, found->marks};
}

}  // namespace d88
