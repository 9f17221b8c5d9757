#include "tool_text.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "d88_text.h"
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
  // The line end would be escaped as a control character.
  const std::size_t length = std::strcspn(messages::kOpenError, "\n");
  d88text::writeText(
      stderr, d88text::decodeCp932(reinterpret_cast<const std::uint8_t*>(messages::kOpenError),
                                   length, false) +
                  "\n");
}
