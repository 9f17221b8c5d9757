#include "cp932_converter.h"
#include "d88_text.h"

namespace d88text {

namespace {

bool isLeadByte(std::uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Single bytes the converter is asked about: the half-width kana. ASCII is
// the same on every platform and needs no converter. The rest are escaped
// without asking, because the platforms disagree on them: Wine decodes 0x80
// as U+0080 and Windows' own table maps 0xA0 and 0xFD-0xFF to private-use
// characters, where glibc refuses all five.
bool isKana(std::uint8_t byte) {
  return byte >= 0xA1 && byte <= 0xDF;
}

bool isPrintableAscii(std::uint8_t byte) {
  return byte >= 0x20 && byte <= 0x7E;
}

// A character the listing can show as it is. Code page 932 decodes to none of
// the others; this keeps a converter that substitutes U+FFFD, or hands back a
// control character, from slipping one through.
bool isShowable(char32_t c) {
  return c >= 0xA0 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF) && c != 0xFFFD;
}

void appendEscape(std::string& out, std::uint8_t byte) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string decodeCp932(const std::uint8_t* bytes, std::size_t size, bool escapeBackslash) {
  std::string out;
  out.reserve(size * 2);
  detail::Cp932Converter converter;
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t byte = bytes[i];
    if (isPrintableAscii(byte)) {
      if (escapeBackslash && byte == '\\') {
        out += '\\';
      }
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    const std::size_t unit = isLeadByte(byte) ? 2 : isKana(byte) ? 1 : 0;
    char32_t c = 0;
    if (unit != 0 && unit <= size - i && converter.convert(bytes + i, unit, c) && isShowable(c)) {
      appendUtf8(out, c);
      i += unit;
    } else {
      appendEscape(out, byte);
      ++i;
    }
  }
  return out;
}

}  // namespace d88text
