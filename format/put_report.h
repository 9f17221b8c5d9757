// What a put-back prints on standard output: one line per file put back,
// then the summary, marked as a dry run when nothing is written.
#pragma once

#include <string>

#include "put_back.h"

[[nodiscard]] std::string putReport(const PutPlan& plan, bool dryRun);
