// The one place that picks the platform's converter: MultiByteToWideChar on
// Windows, the browser's TextDecoder under Emscripten, iconv elsewhere.
#include "cp932_converter.h"

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

#if defined(_WIN32)

Cp932Converter::Cp932Converter() = default;
Cp932Converter::~Cp932Converter() = default;

bool Cp932Converter::convert(const std::uint8_t* unit, std::size_t size, char32_t& codePoint) {
  wchar_t wide[2];
  const int count = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, reinterpret_cast<LPCCH>(unit),
                                        static_cast<int>(size), wide, 2);
  if (count != 1) {
    return false;
  }
  codePoint = static_cast<char16_t>(wide[0]);
  return true;
}

#elif defined(__EMSCRIPTEN__)

// The code unit TextDecoder('shift_jis') gives for one character, or -1.
// clang-format off
EM_JS(int, d88text_decode_shift_jis, (int lead, int trail, int size), {
  try {
    const bytes = size == 1 ? [lead] : [lead, trail];
    const text = new TextDecoder('shift_jis', {fatal: true}).decode(new Uint8Array(bytes));
    return text.length == 1 ? text.charCodeAt(0) : -1;
  } catch (e) {
    return -1;
  }
});
// clang-format on

Cp932Converter::Cp932Converter() = default;
Cp932Converter::~Cp932Converter() = default;

bool Cp932Converter::convert(const std::uint8_t* unit, std::size_t size, char32_t& codePoint) {
  const int code =
      d88text_decode_shift_jis(unit[0], size > 1 ? unit[1] : 0, static_cast<int>(size));
  if (code < 0) {
    return false;
  }
  codePoint = static_cast<char32_t>(code);
  return true;
}

#else

// glibc's CP932 is Microsoft's table, NEC and IBM rows included.
Cp932Converter::Cp932Converter() {
  const iconv_t descriptor = iconv_open("UTF-32LE", "CP932");
  if (descriptor != reinterpret_cast<iconv_t>(-1)) {
    handle_ = descriptor;
  }
}

Cp932Converter::~Cp932Converter() {
  if (handle_ != nullptr) {
    iconv_close(static_cast<iconv_t>(handle_));
  }
}

bool Cp932Converter::convert(const std::uint8_t* unit, std::size_t size, char32_t& codePoint) {
  if (handle_ == nullptr || size > 2) {
    return false;
  }
  const auto descriptor = static_cast<iconv_t>(handle_);
  iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
  char in[2] = {};
  for (std::size_t i = 0; i < size; ++i) {
    in[i] = static_cast<char>(unit[i]);
  }
  // Room for two characters, so that a second one shows as a refusal below.
  unsigned char out[8];
  char* inPtr = in;
  std::size_t inLeft = size;
  char* outPtr = reinterpret_cast<char*>(out);
  std::size_t outLeft = sizeof out;
  if (iconv(descriptor, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
      inLeft != 0 || sizeof out - outLeft != 4) {
    return false;
  }
  codePoint = static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 |
                                    static_cast<std::uint32_t>(out[3]) << 24);
  return true;
}

#endif

}  // namespace d88text::detail
