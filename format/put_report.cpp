#include "put_report.h"

#include "string_format.h"

using d88text::format;

std::string putReport(const PutPlan& plan, bool dryRun) {
  std::string out;
  for (const PutLine& line : plan.putBack) {
    out += format("%-6s  disk: %03d  trk: %02X  sec: %02X  ofs: %02X  size: %04X\n",
                  line.name.c_str(), static_cast<int>(line.disk), static_cast<unsigned>(line.track),
                  static_cast<unsigned>(line.r), static_cast<unsigned>(line.offset),
                  static_cast<unsigned>(line.size));
  }
  return out + (dryRun ? "dry run: " : "") +
         format("put back: %d, unchanged: %d, ignored: %d\n", static_cast<int>(plan.putBack.size()),
                static_cast<int>(plan.unchanged), static_cast<int>(plan.ignored));
}
