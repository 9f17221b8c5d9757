#include "put_report.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "string_format.h"

using d88text::format;

std::string putReport(const PutPlan& plan, bool dryRun) {
  // Files put back and moved, in disk and file order.
  std::vector<std::pair<const PutLine*, bool>> lines;
  for (const PutLine& line : plan.putBack) {
    lines.emplace_back(&line, false);
  }
  for (const PutLine& line : plan.moved) {
    lines.emplace_back(&line, true);
  }
  std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
    return a.first->disk != b.first->disk ? a.first->disk < b.first->disk
                                          : a.first->file < b.first->file;
  });
  std::string out;
  for (const auto& [line, moved] : lines) {
    out +=
        format("%-6s  disk: %03d  trk: %02X  sec: %02X  ofs: %02X  size: %04X%s\n",
               line->name.c_str(), static_cast<int>(line->disk), static_cast<unsigned>(line->track),
               static_cast<unsigned>(line->r), static_cast<unsigned>(line->offset),
               static_cast<unsigned>(line->size), moved ? "  moved" : "");
  }
  out += dryRun ? "dry run: " : "";
  if (plan.resize) {
    return out + format("put back: %d, moved: %d, unchanged: %d, ignored: %d\n",
                        static_cast<int>(plan.putBack.size()), static_cast<int>(plan.moved.size()),
                        static_cast<int>(plan.unchanged), static_cast<int>(plan.ignored));
  }
  return out + format("put back: %d, unchanged: %d, ignored: %d\n",
                      static_cast<int>(plan.putBack.size()), static_cast<int>(plan.unchanged),
                      static_cast<int>(plan.ignored));
}
