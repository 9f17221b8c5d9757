#include "disk/put_back.h"

#include <algorithm>
#include <iterator>

#include "disk/comparison.h"
#include "disk/plan_work.h"
#include "disk/recognised.h"
#include "disk/relayout.h"
#include "disk/verification.h"

namespace disk {

namespace {

// Lays the files put back from work.changed[first] on, those of the disk
// just compared, and lets their bytes go. In disk and extraction order:
// where two files share bytes, the later one's bytes are laid last, as they
// would be written.
void layPuts(PlanWork& work, std::size_t first) {
  const auto begin = work.changed.begin() + static_cast<std::ptrdiff_t>(first);
  std::sort(begin, work.changed.end(),
            [](const ChangedFile& a, const ChangedFile& b) { return a.file < b.file; });
  PatchedImage& image = work.plan.image;
  for (auto put = begin; put != work.changed.end(); ++put) {
    put->laid =
        image.laid().add(put->disk, put->entry.name.data(), put->name, std::move(put->bytes));
    std::int64_t done = 0;
    for (const FileSpan& span : put->spans) {
      image.overlay().putFrom(span.position, span.length, put->laid, done);
      done += span.length;
    }
  }
}

// Compares and lays the edits of every disk, one disk at a time.
void compareAndLay(PlanWork& work) {
  RecognisedDisk recognised;
  for (std::int32_t disk = 0; disk < work.original.diskCount(); ++disk) {
    DiskEdits edits;
    std::string failure;
    const std::size_t first = work.changed.size();
    if (work.edits.editsOf(disk, edits, failure)) {
      recogniseDiskOf(work.original, disk, recognised);
      std::vector<ResizeEdit> resizes;
      compareDisk(work, recognised, edits, resizes);
      if (!resizes.empty()) {
        relayDisk(work, recognised, resizes);
      }
    } else if (!failure.empty()) {
      work.add({Severity::Error, failure});
    }
    layPuts(work, first);
  }
}

}  // namespace

void MovedFiles::startRun(std::int32_t disk, DiskKind kind, std::int32_t firstNumber,
                          std::size_t firstFile) {
  runs_.push_back({disk, kind, firstNumber, firstFile, places_.size()});
}

void MovedFiles::add(std::int32_t at, std::int32_t size) {
  places_.push_back({at, size});
}

PutLine MovedFiles::operator[](std::size_t index) const {
  // The run that holds it: the last that starts at or before it.
  const auto next = std::upper_bound(runs_.begin(), runs_.end(), index,
                                     [](std::size_t at, const Run& run) { return at < run.first; });
  const Run& run = *std::prev(next);
  const std::size_t step = index - run.first;
  const Place& place = places_.at(index);
  PutLine line;
  line.name = tableFileName(run.kind, run.firstNumber + static_cast<std::int32_t>(step));
  line.disk = run.disk;
  DiskFile placed;
  placed.place(place.at, place.size);
  line.track = placed.track;
  line.r = placed.r;
  line.offset = placed.offset;
  line.size = placed.size;
  line.file = run.firstFile + step;
  return line;
}

void planPutBack(d88::D88Image& original, d88::D88Image& patched, EditSource& edits, PutPlan& plan,
                 const PlanOptions& options) {
  plan.image.bind(original, patched, edits);
  plan.resize = options.resize;
  PlanWork work(original, patched, edits, options, plan);
  Diagnostics survey;
  edits.survey(original.diskCount(), survey);
  for (const Diagnostic& diagnostic : survey) {
    work.add(diagnostic);
  }
  compareAndLay(work);
  verifyPlan(work);
  for (const ChangedFile& put : work.changed) {
    const DiskFile& file = put.entry;
    plan.putBack.push_back(
        {file.name, put.disk, file.track, file.r, file.offset, file.size, put.file});
  }
}

bool putBack(d88::D88Image& original, d88::D88Image& patched, EditSource& edits,
             ImageWriter& writer, PutPlan& plan, const PlanOptions& options) {
  planPutBack(original, patched, edits, plan, options);
  if (plan.errors > 0 || !writer.writes(!plan.putBack.empty())) {
    return plan.errors == 0;
  }
  Diagnostics diagnostics;
  const bool written = writer.write(plan.image, diagnostics);
  // The writer's own words would blame the disk.
  if (const std::string& changed = plan.image.laid().changed(); !changed.empty()) {
    Refusal refusal;
    refusal.code = RefusalCode::EditChangedUnwritten;
    refusal.file = changed;
    diagnostics = {{Severity::Error, refusal}};
  }
  plan.diagnostics.insert(plan.diagnostics.end(), diagnostics.begin(), diagnostics.end());
  if (!written || hasErrors(diagnostics)) {
    ++plan.errors;
    return false;
  }
  return true;
}

}  // namespace disk
