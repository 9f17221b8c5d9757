// Words of the listings shared by the text and JSON formats.
#pragma once

#include <string>

#include "disk/listing.h"

namespace format {

// The disk's name: the name field up to its first NUL, decoded from
// Shift_JIS; undecodable bytes as \xNN (and, `quoted`, '\' as "\\" and '"'
// as "\"").
[[nodiscard]] std::string decodedDiskName(const disk::DiskListing& disk, bool quoted);
// The recognition message as UTF-8 text without its line end; empty for none.
[[nodiscard]] std::string recognitionText(disk::DiskKind kind);

// The words of a verdict: the JSON's verdict ("complete", "incomplete",
// "skipped") and, for a skipped file, its reason as the JSON names it
// ("firstSectorUnreadable") and as the text says it ("first sector
// unreadable").
struct VerdictWords {
  const char* verdict;
  const char* reason;      // nullptr for a file that is written
  const char* reasonText;  // nullptr for a file that is written
};
[[nodiscard]] const VerdictWords& verdictWords(disk::FileVerdict verdict);

}  // namespace format
