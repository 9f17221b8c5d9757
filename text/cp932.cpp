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

// The length of the valid UTF-8 character at text[i], 0 when none starts
// there (the shortest form only, no surrogates, nothing past U+10FFFF).
std::size_t utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;   // the second byte's range, which rules out
  unsigned char high = 0xBF;  // overlong forms and surrogates
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (length > text.size() - i || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t k = 2; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return length;
}

}  // namespace

std::string escapeHostText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t length = utf8Length(bytes, i);
    const std::string_view character = bytes.substr(i, length);
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const bool control =
        (length == 1 && (lead < 0x20 || lead == 0x7F)) ||
        (length == 2 && lead == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0);
    if (length == 0 || control) {
      // A control character's bytes, or a byte that starts none, one by one.
      const std::size_t escaped = length == 0 ? 1 : length;
      for (std::size_t k = 0; k < escaped; ++k) {
        appendEscape(out, static_cast<std::uint8_t>(bytes[i + k]));
      }
      i += escaped;
      continue;
    }
    if (character == "\\" || character == "\"") {
      out += '\\';
    }
    out += character;
    i += length;
  }
  return out;
}

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
