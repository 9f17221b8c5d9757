// What a put-back has to say besides its report: notices (what it ignored,
// what it tidied) and errors (why it refused), in the order they arose.
#pragma once

#include <string>
#include <vector>

enum class Severity { Notice, Error };

struct Diagnostic {
  Severity severity = Severity::Notice;
  std::string text;  // without a prefix or a line end
};

using Diagnostics = std::vector<Diagnostic>;

// The line a diagnostic is written as: an error's text after "error: ".
[[nodiscard]] inline std::string diagnosticLine(const Diagnostic& diagnostic) {
  return (diagnostic.severity == Severity::Error ? "error: " : "") + diagnostic.text;
}

[[nodiscard]] inline bool hasErrors(const Diagnostics& diagnostics) {
  for (const Diagnostic& diagnostic : diagnostics) {
    if (diagnostic.severity == Severity::Error) {
      return true;
    }
  }
  return false;
}
