// The ends of a disk's tables as a put-back changes them: a folder file
// named with a table's next number is a new file after its last one, and a
// table's last files can be removed. Neither renumbers another file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "disk/plan_work.h"
#include "disk/recognised.h"

namespace disk {

// The table and entry a file named `name` would have on a disk of `kind`
// (`S11F` is entry 0x1F of the second table); none for a name d88extract
// never gives a table file there.
struct TableSlot {
  std::int32_t table = 0;
  std::int32_t entry = 0;
};
[[nodiscard]] std::optional<TableSlot> tableSlotOf(DiskKind kind, const std::string& name);

// The files a disk's table `table` holds.
[[nodiscard]] std::int32_t filesOfTable(const RecognisedDisk& disk, std::int32_t table);

// Checks the removals of `disk` given in the plan's options, the disk's edits
// compared (`resizes` those of another size): the valid ones go to
// work.removed, the others are refused.
void findRemovals(PlanWork& work, const RecognisedDisk& disk,
                  const std::vector<ResizeEdit>& resizes);

// The folder's names `unknown` that are no file of `disk`: those named with
// the next numbers of a table go to work.added with --resize, and are said
// to be ignored (as --resize would add them) without; a name past a missing
// number is refused with --resize. Every other name is ignored. What each
// name gets said goes to `messages`, by name.
void findAddedFiles(PlanWork& work, const RecognisedDisk& disk,
                    const std::vector<std::string>& unknown,
                    std::map<std::string, Diagnostic>& messages);

}  // namespace disk
