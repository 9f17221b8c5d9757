// A collection of D88 files in one run: each file's JSON document as one
// line with its path (JSON Lines), and the summary, one row per file and a
// total, as an aligned text table or as JSON Lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "disk/summary.h"

namespace format {

// Why an input of a collection has no listing.
enum class InputFailure {
  None,
  CannotOpen,  // missing, unreadable, a folder or a pipe
  Changed,     // a disk header found at the start could not be read again
  CannotList,  // a folder of the walk could not be listed
};

// Its words: the JSON's "error" ("cannotOpen") and the table's text.
struct InputFailureWords {
  const char* key;
  const char* text;
};
[[nodiscard]] const InputFailureWords& failureWords(InputFailure failure);

// One file's document on one line: the start (schema, path, recordFields,
// the disks' opening bracket), kJsonLineDiskSeparator between two disks'
// formatDiskJson, and the end with its line end.
[[nodiscard]] std::string jsonLineStart(const std::string& path);
inline constexpr char kJsonLineDiskSeparator[] = ",";
[[nodiscard]] std::string jsonLineEnd();
// The line of an input that has no listing, in the listing and the summary
// alike: {"schema":N,"path":P,"error":KEY}.
[[nodiscard]] std::string jsonFailureLine(const std::string& path, InputFailure failure);

// The summary as JSON Lines: one object per file, the total last.
[[nodiscard]] std::string summaryJsonLine(const std::string& path,
                                          const disk::ListingSummary& summary);
[[nodiscard]] std::string summaryJsonTotal(std::int64_t inputs, std::int64_t failed,
                                           const disk::ListingSummary& total);

// The summary as a table: the path column as wide as the widest path (in
// terminal columns), the numbers right-aligned under their headings, which
// keep their columns for numbers of up to seven digits.
class SummaryTable {
 public:
  explicit SummaryTable(std::size_t pathWidth);
  [[nodiscard]] std::string header() const;
  [[nodiscard]] std::string row(const std::string& path, const disk::ListingSummary& summary) const;
  [[nodiscard]] std::string failedRow(const std::string& path, InputFailure failure) const;
  // "total", the sums, and how many inputs failed when any did.
  [[nodiscard]] std::string total(std::int64_t inputs, std::int64_t failed,
                                  const disk::ListingSummary& total) const;

 private:
  [[nodiscard]] std::string pathCell(const std::string& path) const;
  std::size_t pathWidth_;
};

}  // namespace format
