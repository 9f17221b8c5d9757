// The second part of a put-back: the tables of a disk laid end to end again
// for the edits of another size, as overlay runs (rewritten entries, the
// edits' bytes, the moved files' bytes) and the files they move.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/plan_work.h"
#include "disk/recognised.h"
#include "disk/room.h"

namespace disk {

// A table laid end to end again from its first changed file `first` on:
// the old and new addresses of entries `first` to the last entry.
struct RelaidTable {
  std::int32_t table = 0;
  TableShape shape;
  std::int32_t first = 0;
  std::vector<std::int32_t> oldAt;
  std::vector<std::int32_t> newAt;
  std::uint8_t blank = 0;
  std::vector<ResizeEdit*> edits;  // by listing index
};

// Plans table `relaid.table` of `disk` for its edits (in relaid.edits):
// whether its files from the first changed one on were laid end to end,
// still are with their new sizes, and the growth fits the room after the
// table. Refuses to the plan and returns false otherwise.
[[nodiscard]] bool planTable(PlanWork& work, const RecognisedDisk& disk, RelaidTable& relaid);

// Lays a planned table over the changed image: its rewritten entries, the
// changed files' bytes and the moved files' at their new places, and the
// bytes a shrinking table frees filled with the blank value.
void layTable(PlanWork& work, const RecognisedDisk& disk, const RelaidTable& relaid);

// Plans the size changes of `disk`, table by table, and lays them only when
// every table of the disk fits.
void relayDisk(PlanWork& work, const RecognisedDisk& disk, std::vector<ResizeEdit>& resizes);

}  // namespace disk
