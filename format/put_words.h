// The words of a put-back's refusals and notices: what d88put and the page
// write on their error stream.
#pragma once

#include <string>

#include "disk/diagnostic.h"
#include "disk/refusal.h"

namespace format {

// A refusal's words, without "error: " and without a line end.
[[nodiscard]] std::string refusalText(const disk::Refusal& refusal);
// The line a diagnostic is written as: an error's text after "error: ".
[[nodiscard]] std::string diagnosticLine(const disk::Diagnostic& diagnostic);

}  // namespace format
