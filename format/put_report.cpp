#include "format/put_report.h"

#include "text/string_format.h"

namespace format {

using namespace disk;

using d88text::format;

std::string putReport(const PutPlan& plan, bool dryRun) {
  // A line is at most this long (a size past 0xFFFF takes more digits): the
  // report of thousands of moved files is built without regrowing.
  constexpr std::size_t kLineSize = 72;
  std::string out;
  out.reserve((plan.putBack.size() + plan.moved.size() + 1) * kLineSize);
  writePutReport(plan, dryRun, [&](const std::string& line) { out += line; });
  return out;
}

void writePutReport(const PutPlan& plan, bool dryRun,
                    const std::function<void(const std::string&)>& write) {
  const auto append = [&](const PutLine& line, bool moved) {
    write(format("%-6s  disk: %03d  trk: %02X  sec: %02X  ofs: %02X  size: %04X%s\n",
                 line.name.data(), static_cast<int>(line.disk), static_cast<unsigned>(line.track),
                 static_cast<unsigned>(line.r), static_cast<unsigned>(line.offset),
                 static_cast<unsigned>(line.size), moved ? "  moved" : ""));
  };
  // Files put back and moved, each list in disk and file order, merged.
  const auto before = [](const PutLine& a, const PutLine& b) {
    return a.disk != b.disk ? a.disk < b.disk : a.file < b.file;
  };
  std::size_t put = 0;
  std::size_t moved = 0;
  while (put < plan.putBack.size() || moved < plan.moved.size()) {
    if (moved == plan.moved.size() ||
        (put < plan.putBack.size() && before(plan.putBack[put], plan.moved[moved]))) {
      append(plan.putBack[put++], false);
    } else {
      append(plan.moved[moved++], true);
    }
  }
  const std::string marked = dryRun ? "dry run: " : "";
  if (plan.resize) {
    write(marked + format("put back: %d, moved: %d, unchanged: %d, ignored: %d\n",
                          static_cast<int>(plan.putBack.size()),
                          static_cast<int>(plan.moved.size()), static_cast<int>(plan.unchanged),
                          static_cast<int>(plan.ignored)));
    return;
  }
  write(marked + format("put back: %d, unchanged: %d, ignored: %d\n",
                        static_cast<int>(plan.putBack.size()), static_cast<int>(plan.unchanged),
                        static_cast<int>(plan.ignored)));
}

}  // namespace format
