// The one place that picks the platform's converter: MultiByteToWideChar on
// Windows, the browser's TextDecoder under Emscripten, iconv elsewhere. Each
// hands back UTF-8 itself.
#include "text/cp932_converter.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__EMSCRIPTEN__)
#include <emscripten.h>
#else
#include <iconv.h>
#endif

namespace d88text::detail {

namespace {

// Room for the UTF-8 of one character, and of a second one that a converter
// might hand back, which the caller then refuses.
constexpr int kUtf8Room = 8;

}  // namespace

#if defined(_WIN32)

Cp932Converter::Cp932Converter() = default;
Cp932Converter::~Cp932Converter() = default;

bool Cp932Converter::convert(const std::uint8_t* unit, std::size_t size, std::string& utf8) {
  wchar_t wide[2];
  const int count = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, reinterpret_cast<LPCCH>(unit),
                                        static_cast<int>(size), wide, 2);
  if (count <= 0) {
    return false;
  }
  char bytes[kUtf8Room];
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, count, bytes,
                                         kUtf8Room, nullptr, nullptr);
  if (length <= 0) {
    return false;
  }
  utf8.assign(bytes, static_cast<std::size_t>(length));
  return true;
}

#elif defined(__EMSCRIPTEN__)

// The UTF-8 bytes TextDecoder('shift_jis') gives for one character, written
// to `out` (room for 8); their count, or -1 when it refuses the bytes.
// clang-format off
EM_JS(int, d88text_decode_shift_jis, (int lead, int trail, int size, char* out), {
  try {
    const bytes = size == 1 ? [lead] : [lead, trail];
    const text = new TextDecoder('shift_jis', {fatal: true}).decode(new Uint8Array(bytes));
    const utf8 = new TextEncoder().encode(text);
    if (utf8.length > 8) {
      return -1;
    }
    HEAPU8.set(utf8, out);
    return utf8.length;
  } catch (e) {
    return -1;
  }
});
// clang-format on

Cp932Converter::Cp932Converter() = default;
Cp932Converter::~Cp932Converter() = default;

bool Cp932Converter::convert(const std::uint8_t* unit, std::size_t size, std::string& utf8) {
  char bytes[kUtf8Room];
  const int length =
      d88text_decode_shift_jis(unit[0], size > 1 ? unit[1] : 0, static_cast<int>(size), bytes);
  if (length <= 0) {
    return false;
  }
  utf8.assign(bytes, static_cast<std::size_t>(length));
  return true;
}

#else

// glibc's CP932 is Microsoft's table, NEC and IBM rows included.
Cp932Converter::Cp932Converter() {
  const iconv_t descriptor = iconv_open("UTF-8", "CP932");
  if (descriptor != reinterpret_cast<iconv_t>(-1)) {
    handle_ = descriptor;
  }
}

Cp932Converter::~Cp932Converter() {
  if (handle_ != nullptr) {
    iconv_close(static_cast<iconv_t>(handle_));
  }
}

bool Cp932Converter::convert(const std::uint8_t* unit, std::size_t size, std::string& utf8) {
  if (handle_ == nullptr || size > 2) {
    return false;
  }
  const auto descriptor = static_cast<iconv_t>(handle_);
  iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
  char in[2] = {};
  for (std::size_t i = 0; i < size; ++i) {
    in[i] = static_cast<char>(unit[i]);
  }
  char out[kUtf8Room];
  char* inPtr = in;
  std::size_t inLeft = size;
  char* outPtr = out;
  std::size_t outLeft = sizeof out;
  if (iconv(descriptor, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
      inLeft != 0 || outLeft == sizeof out) {
    return false;
  }
  utf8.assign(out, sizeof out - outLeft);
  return true;
}

#endif

}  // namespace d88text::detail
