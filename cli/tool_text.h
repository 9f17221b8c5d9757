// What the tools with options share: the program's name, the open error
// d88extract prints (in UTF-8, wide on a Windows console), and the checked
// result writer. Their options are parsed in command_line.h.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace cli {

// argv[0], or the tool's own name when the system gave none. Inline, so
// that d88extract takes it without the rest of this file.
[[nodiscard]] inline const char* programName(int argc, char** argv, const char* fallback) {
  return argc > 0 && argv[0] != nullptr ? argv[0] : fallback;
}
// d88extract's open error, its Japanese words in UTF-8, on standard error.
void writeOpenError();
// Standard output as a tool's result (d88info's listing, d88put's report),
// whose loss is an error rather than a quiet success:
// - ignoreBrokenPipe, before the first write, makes a closed pipe fail the
//   writes instead of ending the process (a no-op where there is no SIGPIPE);
// - writeResult writes UTF-8 text to standard output, keeping the reason of
//   the first write that fails;
// - resultWritten flushes standard output; when a write of it failed, it
//   writes "error: cannot write the WHAT: REASON" and `remark` on standard
//   error and returns false.
void ignoreBrokenPipe();
void writeResult(std::string_view utf8);
// Whether a write of the result has failed so far, standard output's error
// flag included (a buffered write fails only when the buffer goes out): a
// run that writes much can stop at once instead of reading on.
[[nodiscard]] bool resultFailing();
[[nodiscard]] bool resultWritten(const char* what, const std::string& remark = {});

}  // namespace cli
