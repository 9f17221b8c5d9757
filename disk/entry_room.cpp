#include "disk/entry_room.h"

#include <algorithm>

namespace disk {

std::int32_t entryRoom(const TableShape& shape, const DiskUsage& usage, std::int32_t table) {
  const std::int32_t start = shape.entryBytes;
  const std::int32_t end = kEntriesPerTable * kEntrySize;
  std::int32_t reached = start;
  for (const d88::ChainStep& step : shape.steps) {
    const std::int32_t low = std::max(start, step.chainOffset);
    const std::int32_t high = std::min(end, step.chainOffset + step.length);
    if (low >= high) {
      continue;
    }
    // A sector the track lacks ends the room.
    if (step.position < 0 || low != reached) {
      break;
    }
    const std::int64_t at = step.position + (low - step.chainOffset);
    const ByteUser* user = usage.userOf(at, high - low, [&](const ByteUser& u) {
      return u.kind != ByteUserKind::TableEntries || u.table != table;
    });
    if (user != nullptr) {
      reached = low + static_cast<std::int32_t>(std::max<std::int64_t>(user->position - at, 0));
      break;
    }
    reached = high;
  }
  return std::max(reached - start, 0) / kEntrySize;
}

}  // namespace disk
