#include "cli/tool_text.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>

#include "text/d88_text.h"
#include "text/tool_messages.h"

namespace cli {

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

void writeOpenError() {
  d88text::writeText(stderr, d88text::messageText(messages::kOpenError) + "\n");
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

bool resultFailing() {
  return resultError != 0 || std::ferror(stdout) != 0;
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

}  // namespace cli
