// The words of what ends a table's room or keeps its files where they are:
// what d88info lists after a table's room and d88put says of a refused
// size change.
#pragma once

#include <string>

#include "disk/refusal.h"

namespace format {

// A reason's words, without a line end: "track 10 sector 01 holds bytes of
// DRIVER"; empty for no reason.
[[nodiscard]] std::string roomReasonText(const disk::RoomReason& reason);

}  // namespace format
