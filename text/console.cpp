#include <climits>

#include "d88_text.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <vector>
#endif

namespace d88text {

#ifdef _WIN32
namespace {

// Writes through WriteConsoleW when stream is a console; false when it is not
// (redirected), or when the text cannot go that way.
bool writeConsole(std::FILE* stream, std::string_view utf8) {
  const int fd = _fileno(stream);
  if (fd < 0) {
    return false;
  }
  const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
    return false;
  }
  if (utf8.empty()) {
    return true;
  }
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
    return false;
  }
  const int length = static_cast<int>(utf8.size());
  const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (wideLength <= 0) {
    return false;
  }
  std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength));
  if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), wideLength) != wideLength) {
    return false;
  }
  // What went through the C stream so far comes first.
  std::fflush(stream);
  // The console takes limited amounts at a time; a chunk never ends inside a
  // surrogate pair.
  constexpr std::size_t kChunk = 8192;
  std::size_t done = 0;
  while (done < wide.size()) {
    std::size_t count = std::min(kChunk, wide.size() - done);
    if (done + count < wide.size() && IS_HIGH_SURROGATE(wide[done + count - 1])) {
      --count;
    }
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      break;
    }
    done += written;
  }
  return true;
}

}  // namespace
#endif

void writeText(std::FILE* stream, std::string_view utf8) {
#ifdef _WIN32
  if (writeConsole(stream, utf8)) {
    return;
  }
#endif
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace d88text
