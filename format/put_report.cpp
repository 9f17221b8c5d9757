#include "format/put_report.h"

#include <optional>
#include <tuple>

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

namespace {

// The summary: the counts a plan of its kind has, those of new and removed
// files only when there are any.
std::string summaryLine(const PutPlan& plan) {
  std::string line = format("put back: %d", static_cast<int>(plan.putBack.size() - plan.added));
  if (plan.resize) {
    line += format(", moved: %d", static_cast<int>(plan.moved.size()));
  }
  if (plan.added > 0) {
    line += format(", added: %d", static_cast<int>(plan.added));
  }
  if (!plan.removed.empty()) {
    line += format(", removed: %d", static_cast<int>(plan.removed.size()));
  }
  return line + format(", unchanged: %d, ignored: %d\n", static_cast<int>(plan.unchanged),
                       static_cast<int>(plan.ignored));
}

}  // namespace

void writePutReport(const PutPlan& plan, bool dryRun,
                    const std::function<void(const std::string&)>& write) {
  const auto append = [&](const PutLine& line, const char* mark) {
    write(format("%-6s  disk: %03d  trk: %02X  sec: %02X  ofs: %02X  size: %04X%s\n",
                 line.name.data(), static_cast<int>(line.disk), static_cast<unsigned>(line.track),
                 static_cast<unsigned>(line.r), static_cast<unsigned>(line.offset),
                 static_cast<unsigned>(line.size), mark));
  };
  // Files put back, moved and removed, each list in disk and file order,
  // merged; a new file after the last of its table.
  const auto before = [](const PutLine& a, const PutLine& b) {
    return std::make_tuple(a.disk, a.file, a.added) < std::make_tuple(b.disk, b.file, b.added);
  };
  std::size_t put = 0;
  std::size_t moved = 0;
  std::size_t removed = 0;
  while (put < plan.putBack.size() || moved < plan.moved.size() || removed < plan.removed.size()) {
    // The first of the three lists' next lines.
    std::optional<PutLine> line;
    std::size_t* from = nullptr;
    const char* mark = "";
    const auto consider = [&](std::size_t& at, std::size_t size, const auto& lines,
                              const char* itsMark) {
      if (at < size && (!line || before(lines[at], *line))) {
        line = lines[at];
        from = &at;
        mark = itsMark;
      }
    };
    consider(moved, plan.moved.size(), plan.moved, "  moved");
    consider(put, plan.putBack.size(), plan.putBack, "");
    consider(removed, plan.removed.size(), plan.removed, "  removed");
    append(*line, line->added ? "  added" : mark);
    ++*from;
  }
  write((dryRun ? "dry run: " : "") + summaryLine(plan));
}

}  // namespace format
