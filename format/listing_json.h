// The listing as JSON for scripts: one document,
//   {"schema": N, "recordFields": [...], "disks": [...]}
// written one disk object at a time as the disks are read; each sector record
// is an array of numbers named by recordFields. The schema is documented in
// info/d88info.schema.json.
#pragma once

#include <string>

#include "disk/listing.h"

namespace format {

inline constexpr int kJsonSchemaVersion = 6;

// The names of a record's numbers, as the JSON array of recordFields.
[[nodiscard]] std::string jsonRecordFieldsText();

// The document's text before the first disk, between two disks, and after
// the last one.
[[nodiscard]] std::string jsonDocumentStart();
inline constexpr char kJsonDiskSeparator[] = ",\n";
[[nodiscard]] std::string jsonDocumentEnd();

// One disk as a JSON object, on one line.
[[nodiscard]] std::string formatDiskJson(const disk::DiskListing& disk);

// Parts of it, for the page. A disk's object without its tracks and tables,
// its name as the text listing writes it, its files only where they lie
// (no verdicts): what is known before a chain is read.
[[nodiscard]] std::string formatDiskHeaderJson(const disk::DiskListing& disk);
// A disk's files with their verdicts, as a JSON array.
[[nodiscard]] std::string formatFilesJson(const disk::DiskListing& disk);

}  // namespace format
