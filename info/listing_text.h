// Words of the listings shared by the text and JSON formats.
#pragma once

#include <string>

#include "listing.h"

// The disk's name: the name field up to its first NUL, decoded from
// Shift_JIS; undecodable bytes as \xNN (and '\' as "\\" when asked).
[[nodiscard]] std::string decodedDiskName(const DiskListing& disk, bool escapeBackslash);
// The recognition message as UTF-8 text without its line end; empty for none.
[[nodiscard]] std::string recognitionText(DiskKind kind);
// A word for how a walk ended: "count reached", "zero count", ...
[[nodiscard]] const char* walkEndName(d88::WalkEnd end);
