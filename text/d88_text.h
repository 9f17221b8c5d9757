// Text of the disk images for the listings: Shift_JIS names decoded to UTF-8,
// and UTF-8 written so that a Windows console shows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace d88text {

// Decodes code-page-932 bytes character by character into UTF-8, as Windows
// decodes them (0x5C is '\', 0x7E is '~', half-width kana, the NEC and IBM
// rows). A byte that does not start a decodable character is written as
// "\xNN" (uppercase hex) and decoding goes on at the next byte, so nothing is
// dropped: a lead byte whose pair does not decode is escaped alone and its
// second byte is decoded on its own. Control characters (0x00-0x1F, 0x7F) are
// escaped too, so that a listing cannot be garbled. With `quoted` a decoded
// '\' is written "\\" and a '"' "\"", which makes the escapes unambiguous
// and lets the text stand between double quotes.
[[nodiscard]] std::string decodeCp932(const std::uint8_t* bytes, std::size_t size, bool quoted);
// Host text (a path's bytes) as the listings show it, escaped as decodeCp932
// escapes with `quoted`: each character of valid UTF-8 as it is, a '\'
// written "\\" and a '"' "\"", and "\xNN" for each byte that is not part of
// a valid UTF-8 character (a stray continuation byte, an overlong form, a
// surrogate, a sequence cut short) or is part of a control character (C0,
// DEL, C1). The result is valid UTF-8, and two texts never give the same.
[[nodiscard]] std::string escapeHostText(std::string_view bytes);
// One of the tools' Shift_JIS messages as UTF-8 text, without its line end.
[[nodiscard]] std::string messageText(const char* message);

// Bytes as hex, two uppercase digits a byte ("5C00"): how the listings show
// raw bytes, and the digits of a "\xNN" escape.
void appendHex(std::string& out, const std::uint8_t* bytes, std::size_t size);
[[nodiscard]] std::string hexText(const std::uint8_t* bytes, std::size_t size);

// Writes UTF-8 text to stream (stdout or stderr). On a Windows console it goes
// through the wide console API, so Japanese shows whatever the console's code
// page; redirected, or on other systems, the UTF-8 bytes are written unchanged.
void writeText(std::FILE* stream, std::string_view utf8);
// The same, for output whose loss is an error: false when not all of it could
// be written (errno tells why, where the C library sets it).
[[nodiscard]] bool writeTextChecked(std::FILE* stream, std::string_view utf8);

// The columns UTF-8 text takes on a terminal: two for the wide characters
// (CJK ideographs, kana, Hangul, full-width forms), one for the others; an
// invalid byte counts one, as a terminal shows it.
[[nodiscard]] std::size_t displayWidth(std::string_view utf8);

}  // namespace d88text
