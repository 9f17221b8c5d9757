#include "format/catalogue.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "format/listing_json.h"
#include "text/d88_text.h"

namespace format {

using namespace disk;

namespace {

using Json = nlohmann::ordered_json;

// The summary's numbers, in column order: the JSON's key (the listing's own
// words: its disks, their kinds, its files, their verdicts) and the table's
// heading.
struct SummaryColumn {
  const char* key;
  const char* heading;
  std::int64_t ListingSummary::*count;
};
constexpr std::array<SummaryColumn, 7> kColumns{{
    {"disks", "disks", &ListingSummary::disks},
    {"systemDisks", "system", &ListingSummary::systemDisks},
    {"dataDisks", "data", &ListingSummary::dataDisks},
    {"notRecognised", "not recognised", &ListingSummary::notRecognised},
    {"files", "files", &ListingSummary::files},
    {"incomplete", "incomplete", &ListingSummary::incomplete},
    {"skipped", "skipped", &ListingSummary::skipped},
}};
// A number column is at least this wide, its heading's width if wider.
constexpr std::size_t kNumberWidth = 7;
constexpr const char* kPathHeading = "path";
constexpr const char* kTotalLabel = "total";
constexpr const char* kColumnGap = "  ";

std::size_t columnWidth(const SummaryColumn& column) {
  return std::max(kNumberWidth, std::char_traits<char>::length(column.heading));
}

std::string rightAligned(const std::string& text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

// Paths are the host's bytes: one that is not UTF-8 is replaced, not refused.
std::string dumped(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json summaryObject(const ListingSummary& summary) {
  Json json = Json::object();
  for (const SummaryColumn& column : kColumns) {
    json[column.key] = summary.*column.count;
  }
  return json;
}

}  // namespace

const InputFailureWords& failureWords(InputFailure failure) {
  static constexpr InputFailureWords kNone{"none", ""};
  static constexpr InputFailureWords kCannotOpen{"cannotOpen", "cannot be opened"};
  static constexpr InputFailureWords kChanged{"changed", "changed while read"};
  static constexpr InputFailureWords kCannotList{"cannotList", "folder cannot be listed"};
  switch (failure) {
    case InputFailure::CannotOpen:
      return kCannotOpen;
    case InputFailure::Changed:
      return kChanged;
    case InputFailure::CannotList:
      return kCannotList;
    case InputFailure::None:
      break;
  }
  return kNone;
}

std::string jsonLineStart(const std::string& path) {
  return "{\"schema\":" + std::to_string(kJsonSchemaVersion) + ",\"path\":" + dumped(Json(path)) +
         ",\"recordFields\":" + jsonRecordFieldsText() + ",\"disks\":[";
}

std::string jsonLineEnd() {
  return "]}\n";
}

std::string jsonFailureLine(const std::string& path, InputFailure failure) {
  const Json json{
      {"schema", kJsonSchemaVersion}, {"path", path}, {"error", failureWords(failure).key}};
  return dumped(json) + "\n";
}

std::string summaryJsonLine(const std::string& path, const ListingSummary& summary) {
  Json json{{"schema", kJsonSchemaVersion}, {"path", path}};
  json.update(summaryObject(summary));
  return dumped(json) + "\n";
}

std::string summaryJsonTotal(std::int64_t inputs, std::int64_t failed,
                             const ListingSummary& total) {
  Json json{
      {"schema", kJsonSchemaVersion}, {"total", true}, {"inputs", inputs}, {"failed", failed}};
  json.update(summaryObject(total));
  return dumped(json) + "\n";
}

SummaryTable::SummaryTable(std::size_t pathWidth)
    : pathWidth_(std::max(
          {pathWidth, d88text::displayWidth(kPathHeading), d88text::displayWidth(kTotalLabel)})) {}

std::string SummaryTable::pathCell(const std::string& path) const {
  const std::size_t width = d88text::displayWidth(path);
  return path + std::string(pathWidth_ > width ? pathWidth_ - width : 0, ' ');
}

std::string SummaryTable::header() const {
  std::string out = pathCell(kPathHeading);
  for (const SummaryColumn& column : kColumns) {
    out += kColumnGap + rightAligned(column.heading, columnWidth(column));
  }
  return out + "\n";
}

std::string SummaryTable::row(const std::string& path, const ListingSummary& summary) const {
  std::string out = pathCell(path);
  for (const SummaryColumn& column : kColumns) {
    out += kColumnGap + rightAligned(std::to_string(summary.*column.count), columnWidth(column));
  }
  return out + "\n";
}

std::string SummaryTable::failedRow(const std::string& path, InputFailure failure) const {
  return pathCell(path) + kColumnGap + failureWords(failure).text + "\n";
}

std::string SummaryTable::total(std::int64_t inputs, std::int64_t failed,
                                const ListingSummary& total) const {
  std::string out = row(kTotalLabel, total);
  out.pop_back();
  out += "  (" + std::to_string(inputs) + (inputs == 1 ? " file" : " files");
  if (failed > 0) {
    out += ", " + std::to_string(failed) + " failed";
  }
  return out + ")\n";
}

}  // namespace format
