// What the tools with options share on their command line: the usage with
// the program's name, the version line, the open error d88extract prints
// (in UTF-8, wide on a Windows console), and the checked result writer.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// argv[0], or the tool's own name when the system gave none.
[[nodiscard]] const char* programName(int argc, char** argv, const char* fallback);
// `usage` takes the program's name for its one %s.
void writeUsage(std::FILE* stream, const char* usage, const char* program);
// "TOOL 1.0.0" on standard output.
void writeVersion(const char* tool);
// d88extract's open error, its Japanese words in UTF-8, on standard error.
void writeOpenError();
// What a command line that needs no file gets: the usage on standard error
// (status 1) when it is not `ok`, the usage (--help) or the version
// (--version) on standard output (status 0); nothing for the rest.
[[nodiscard]] std::optional<int> answerCommandLine(bool ok, bool help, bool version,
                                                   const char* usage, const char* program,
                                                   const char* tool);

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
[[nodiscard]] bool resultWritten(const char* what, const std::string& remark = {});
