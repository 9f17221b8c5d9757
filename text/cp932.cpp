#include <algorithm>
#include <cstring>

#include "text/cp932_converter.h"
#include "text/d88_text.h"

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

// A character the listing can show as it is: one character, none of the
// controls (C0, DEL, C1) and not U+FFFD. Code page 932 decodes to none of the
// others; this keeps a converter that substitutes U+FFFD, or hands back a
// control character, from slipping one through. `utf8` is valid UTF-8.
bool isShowable(const std::string& utf8) {
  const auto count = std::count_if(utf8.begin(), utf8.end(), [](char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  });
  if (count != 1) {
    return false;
  }
  const auto lead = static_cast<unsigned char>(utf8[0]);
  const bool c0 = lead < 0x20 || lead == 0x7F;
  const bool c1 = lead == 0xC2 && static_cast<unsigned char>(utf8[1]) < 0xA0;
  return !c0 && !c1 && utf8 != "\xEF\xBF\xBD";
}

void appendEscape(std::string& out, std::uint8_t byte) {
  out += "\\x";
  appendHex(out, &byte, 1);
}

}  // namespace

void appendHex(std::string& out, const std::uint8_t* bytes, std::size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < size; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0x0F];
  }
}

std::string hexText(const std::uint8_t* bytes, std::size_t size) {
  std::string out;
  out.reserve(size * 2);
  appendHex(out, bytes, size);
  return out;
}

std::string decodeCp932(const std::uint8_t* bytes, std::size_t size, bool quoted) {
  std::string out;
  out.reserve(size * 2);
  detail::Cp932Converter converter;
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t byte = bytes[i];
    if (isPrintableAscii(byte)) {
      if (quoted && (byte == '\\' || byte == '"')) {
        out += '\\';
      }
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    const std::size_t unit = isLeadByte(byte) ? 2 : isKana(byte) ? 1 : 0;
    std::string character;
    if (unit != 0 && unit <= size - i && converter.convert(bytes + i, unit, character) &&
        isShowable(character)) {
      out += character;
      i += unit;
    } else {
      appendEscape(out, byte);
      ++i;
    }
  }
  return out;
}

std::string messageText(const char* message) {
  // The line end would be escaped as a control character.
  const std::size_t length = std::strcspn(message, "\n");
  return decodeCp932(reinterpret_cast<const std::uint8_t*>(message), length, false);
}

}  // namespace d88text
