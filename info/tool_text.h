// Texts that d88info and d88put share: the usage with the program's name,
// the version line, and d88extract's open error, all in UTF-8 (wide on a
// Windows console).
#pragma once

#include <cstdio>

// argv[0], or the tool's own name when the system gave none.
[[nodiscard]] const char* programName(int argc, char** argv, const char* fallback);
// `usage` takes the program's name for its one %s.
void writeUsage(std::FILE* stream, const char* usage, const char* program);
// "TOOL 1.0.0" on standard output.
void writeVersion(const char* tool);
// d88extract's open error, its Japanese words in UTF-8, on standard error.
void writeOpenError();
