// How many more entries a table's track has room for: the whole entries
// between its end mark and the first byte that something else uses (on a
// recognised disk, its file 0, at byte 420 of the track).
#pragma once

#include <cstdint>

#include "disk/room.h"

namespace disk {

// The whole entries after table `table`'s end mark (of `shape`) that no user
// of the disk but the table's own entries meets; they stop at a sector the
// track does not read.
[[nodiscard]] std::int32_t entryRoom(const TableShape& shape, const DiskUsage& usage,
                                     std::int32_t table);

}  // namespace disk
