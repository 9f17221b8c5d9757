// What a put-back prints on standard output: one line per file put back,
// then the summary, marked as a dry run when nothing is written.
#pragma once

#include <functional>
#include <string>

#include "disk/put_back.h"

namespace format {

[[nodiscard]] std::string putReport(const disk::PutPlan& plan, bool dryRun);
// The same report handed to `write` line by line, so that the report of
// thousands of moved files is never held whole.
void writePutReport(const disk::PutPlan& plan, bool dryRun,
                    const std::function<void(const std::string&)>& write);

}  // namespace format
