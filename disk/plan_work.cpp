#include "disk/plan_work.h"

#include <utility>

namespace disk {

void PlanWork::add(Diagnostic diagnostic) {
  ++(diagnostic.severity == Severity::Error ? plan.errors : plan.ignored);
  plan.diagnostics.push_back(std::move(diagnostic));
}

void PlanWork::refuse(Refusal refusal) {
  add({Severity::Error, std::move(refusal)});
}

const DiskUsage& PlanWork::usageOf(const RecognisedDisk& disk) {
  if (usageOf_ != disk.index) {
    usage_.collect(original, disk.kind, disk.tables);
    usageOf_ = disk.index;
  }
  return usage_;
}

std::vector<ChangedFile>::iterator PlanWork::findPut(std::int32_t disk, std::size_t file) {
  for (auto put = changed.begin(); put != changed.end(); ++put) {
    if (put->disk == disk && put->file == file) {
      return put;
    }
  }
  return changed.end();
}

}  // namespace disk
