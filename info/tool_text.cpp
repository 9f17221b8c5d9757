#include "tool_text.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "d88_text.h"
#include "listing_text.h"
#include "messages.h"

const char* programName(int argc, char** argv, const char* fallback) {
  return argc > 0 && argv[0] != nullptr ? argv[0] : fallback;
}

void writeUsage(std::FILE* stream, const char* usage, const char* program) {
  std::string text(std::strlen(usage) + std::strlen(program) + 1, '\0');
  text.resize(static_cast<std::size_t>(std::snprintf(text.data(), text.size(), usage, program)));
  d88text::writeText(stream, text);
}

void writeVersion(const char* tool) {
  d88text::writeText(stdout, std::string(tool) + " " + D88_VERSION + "\n");
}

void writeOpenError() {
  d88text::writeText(stderr, messageText(messages::kOpenError) + "\n");
}

std::optional<int> answerCommandLine(bool ok, bool help, bool version, const char* usage,
                                     const char* program, const char* tool) {
  if (!ok) {
    writeUsage(stderr, usage, program);
    return 1;
  }
  if (help) {
    writeUsage(stdout, usage, program);
    return 0;
  }
  if (version) {
    writeVersion(tool);
    return 0;
  }
  return std::nullopt;
}
