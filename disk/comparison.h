// The first part of a put-back: the edits of one disk against the disk as
// d88extract -a writes it, giving the files that changed and the refusals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/edit_source.h"
#include "disk/plan_work.h"
#include "disk/recognised.h"
#include "disk/refusal.h"

namespace disk {

// Compares `edits` with `disk` (recognised from the original, which stays
// selected): a changed file of its size goes to work.changed, one of
// another size (with resize) to `resizes`, an equal one counts as
// unchanged; notices and refusals go to the plan, in name order.
void compareDisk(PlanWork& work, RecognisedDisk& disk, const DiskEdits& edits,
                 std::vector<ResizeEdit>& resizes);

// Why file `file` of `disk` cannot change size, as a refusal's code
// (RefusalCode::None when it may): an unknown disk's, a fixed file's, or the
// first entry's, which recognition reads.
[[nodiscard]] RefusalCode whyFixedSize(const RecognisedDisk& disk, std::size_t file);

}  // namespace disk
