// Words of the listings shared by the text and JSON formats.
#pragma once

#include <string>

#include "listing.h"

// The disk's name: the name field up to its first NUL, decoded from
// Shift_JIS; undecodable bytes as \xNN (and, `quoted`, '\' as "\\" and '"'
// as "\"").
[[nodiscard]] std::string decodedDiskName(const DiskListing& disk, bool quoted);
// The recognition message as UTF-8 text without its line end; empty for none.
[[nodiscard]] std::string recognitionText(DiskKind kind);
