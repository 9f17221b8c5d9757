// The third part of a put-back: the changed image read back before anything
// is written. No disk header may change; every disk must keep its kind and
// files, each file put back must read as its edit and every other file as
// before (a moved one at its new place).
#pragma once

#include <cstdint>
#include <vector>

#include "disk/plan_work.h"

namespace disk {

// By disk, whether a laid byte would change its header; refuses each.
[[nodiscard]] std::vector<bool> checkHeaders(PlanWork& work);

// Checks disk `disk` of the changed image and refuses what would change.
// The fast check reads only what laid bytes can have changed, and concludes
// when the disk's structure (header, tables, the record headers its chains
// go through) meets no laid byte; the full one reads every file of both
// images side by side. Proving runs the full check after every fast one
// that concluded, and notes in the plan where they disagree.
void checkDisk(PlanWork& work, std::int32_t disk);

// The headers, then every disk whose header stays.
void verifyPlan(PlanWork& work);

}  // namespace disk
