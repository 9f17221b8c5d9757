#include "tool_text.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>

#include "d88_text.h"
#include "tool_messages.h"
#include "version.h"

namespace {

// errno of the first failed write of the result; 0 while none failed.
int resultError = 0;

void noteResultError() {
  // Some failures (a console that refuses the text) set no errno.
  if (resultError == 0) {
    resultError = errno != 0 ? errno : EIO;
  }
}

}  // namespace

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
  d88text::writeText(stderr, d88text::messageText(messages::kOpenError) + "\n");
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

void ignoreBrokenPipe() {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

void writeResult(std::string_view utf8) {
  errno = 0;
  if (!d88text::writeTextChecked(stdout, utf8)) {
    noteResultError();
  }
}

bool resultWritten(const char* what, const std::string& remark) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    noteResultError();
  }
  if (resultError == 0) {
    return true;
  }
  d88text::writeText(stderr, std::string("error: cannot write the ") + what + ": " +
                                 std::strerror(resultError) + remark + "\n");
  return false;
}
