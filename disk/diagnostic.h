// What a put-back has to say besides its report: notices (what it ignored,
// what it tidied) and errors (why it refused), in the order they arose.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "disk/refusal.h"

namespace disk {

enum class Severity { Notice, Error };

// Either the words of an edit source or a writer, or a refusal of the
// planner's, which format/put_words.h words.
struct Diagnostic {
  Diagnostic() = default;
  Diagnostic(Severity severity, std::string text) : severity(severity), text(std::move(text)) {}
  Diagnostic(Severity severity, Refusal refusal)
      : severity(severity), refusal(std::move(refusal)) {}

  Severity severity = Severity::Notice;
  std::string text;  // without a prefix or a line end; empty for a refusal
  Refusal refusal;
};

using Diagnostics = std::vector<Diagnostic>;

[[nodiscard]] inline bool hasErrors(const Diagnostics& diagnostics) {
  for (const Diagnostic& diagnostic : diagnostics) {
    if (diagnostic.severity == Severity::Error) {
      return true;
    }
  }
  return false;
}

}  // namespace disk
