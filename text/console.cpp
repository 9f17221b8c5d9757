#include <climits>
#include <cstdint>

#include "text/d88_text.h"

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

// Writes through WriteConsoleW when stream is a console, setting `written` to
// whether all of the text went out; false when it is not a console
// (redirected), or when the text cannot go that way.
bool writeConsole(std::FILE* stream, std::string_view utf8, bool& written) {
  const int fd = _fileno(stream);
  if (fd < 0) {
    return false;
  }
  const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
    return false;
  }
  written = true;
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
  if (std::fflush(stream) != 0) {
    written = false;
  }
  // The console takes limited amounts at a time; a chunk never ends inside a
  // surrogate pair.
  constexpr std::size_t kChunk = 8192;
  std::size_t done = 0;
  while (done < wide.size()) {
    std::size_t count = std::min(kChunk, wide.size() - done);
    if (done + count < wide.size() && IS_HIGH_SURROGATE(wide[done + count - 1])) {
      --count;
    }
    DWORD sent = 0;
    if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(count), &sent, nullptr) ||
        sent == 0) {
      written = false;
      break;
    }
    done += sent;
  }
  return true;
}

}  // namespace
#endif

namespace {

// The ranges of the wide characters: East Asian Wide and Fullwidth, by block.
constexpr std::uint32_t kWideRanges[][2] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF}, {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F}, {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool isWide(std::uint32_t code) {
  for (const auto& range : kWideRanges) {
    if (code >= range[0] && code <= range[1]) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::size_t displayWidth(std::string_view utf8) {
  std::size_t width = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80    ? 1
                               : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3
                               : lead >= 0xC0 ? 2
                                              : 1;
    // A sequence cut short by the end of the text, or by a byte that does
    // not continue it, counts byte by byte: the bytes after a malformed lead
    // byte are measured on their own, as a terminal shows them.
    bool whole = length > 1 && i + length <= utf8.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
      whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    }
    if (!whole) {
      ++width;
      ++i;
      continue;
    }
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    width += isWide(code) ? 2 : 1;
    i += length;
  }
  return width;
}

bool writeTextChecked(std::FILE* stream, std::string_view utf8) {
#ifdef _WIN32
  bool written = false;
  if (writeConsole(stream, utf8, written)) {
    return written;
  }
#endif
  return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

void writeText(std::FILE* stream, std::string_view utf8) {
  (void)writeTextChecked(stream, utf8);
}

}  // namespace d88text
