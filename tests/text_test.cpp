// Code-page-932 decoding: the same rows pass on Linux (iconv) and under Wine
// (MultiByteToWideChar), so the two converters agree on them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "text/d88_text.h"

namespace {

using namespace std::string_literals;

struct DecodeCase {
  const char* what;
  std::string input;  // code-page-932 bytes
  bool quoted;
  std::string expected;  // UTF-8
};

std::ostream& operator<<(std::ostream& out, const DecodeCase& c) {
  return out << c.what;
}

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesUtf8) {
  const DecodeCase& c = GetParam();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.input.data());
  EXPECT_EQ(d88text::decodeCp932(bytes, c.input.size(), c.quoted), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cp932, DecodeTest,
    ::testing::Values(
        DecodeCase{"empty", ""s, false, ""s},
        DecodeCase{"ASCII", "SYSTEM-1 @{|}"s, false, "SYSTEM-1 @{|}"s},
        DecodeCase{"0x5C is a backslash",
                   "A\x5C"
                   "B"s,
                   false, "A\\B"s},
        DecodeCase{"0x5C escaped",
                   "A\x5C"
                   "B"s,
                   true, "A\\\\B"s},
        DecodeCase{"quotes escaped", "\"A\x5C\""s, true, "\\\"A\\\\\\\""s},
        DecodeCase{"quotes left alone", "\"A\""s, false, "\"A\""s},
        DecodeCase{"0x7E is a tilde", "\x7E"s, false, "~"s},
        // ｡ｱﾝﾟ: both ends of the half-width kana
        DecodeCase{"half-width kana", "\xA1\xB1\xDD\xDF"s, false,
                   "\xEF\xBD\xA1\xEF\xBD\xB1\xEF\xBE\x9D\xEF\xBE\x9F"s},
        // 漢字
        DecodeCase{"kanji", "\x8A\xBF\x8E\x9A"s, false, "\xE6\xBC\xA2\xE5\xAD\x97"s},
        // ソ: its trail byte 0x5C is no backslash
        DecodeCase{"trail byte 0x5C", "\x83\x5C"s, true, "\xE3\x82\xBD"s},
        // ＼ (U+FF3C), the full-width backslash, is left alone
        DecodeCase{"full-width backslash", "\x81\x5F"s, true, "\xEF\xBC\xBC"s},
        // 　 (U+3000) and ◯: the first and last trail bytes
        DecodeCase{"trail bytes 0x40 and 0xFC", "\x81\x40\x81\xFC"s, false,
                   "\xE3\x80\x80\xE2\x97\xAF"s},
        // 漾 and 滌: both lead-byte ranges, at their edges
        DecodeCase{"lead bytes 0xE0 and 0x9F", "\xE0\x40\x9F\xFC"s, false,
                   "\xE6\xBC\xBE\xE6\xBB\x8C"s},
        // ① ≒ (NEC special characters)
        DecodeCase{"NEC row 0x87", "\x87\x40\x87\x90"s, false, "\xE2\x91\xA0\xE2\x89\x92"s},
        // ⅰ (IBM extension)
        DecodeCase{"IBM extension 0xFA40", "\xFA\x40"s, false, "\xE2\x85\xB0"s},
        // 纊 (NEC-selected IBM extension)
        DecodeCase{"NEC-selected IBM extension 0xED40", "\xED\x40"s, false, "\xE7\xBA\x8A"s},
        // 黑, then 0xFC4C, past the last character of the table, and 'L'
        DecodeCase{"end of the IBM rows", "\xFC\x4B\xFC\x4C"s, false, "\xE9\xBB\x91\\xFCL"s},
        // U+E000: the user-defined rows decode to private use on both platforms
        DecodeCase{"user-defined row 0xF0", "\xF0\x40"s, false, "\xEE\x80\x80"s},
        DecodeCase{"lead byte at the end", "A\x81"s, false, "A\\x81"s},
        DecodeCase{"trail byte below 0x40", "\x81\x3F"s, false, "\\x81?"s},
        DecodeCase{"trail byte 0x7F", "\x81\x7F"s, false, "\\x81\\x7F"s},
        DecodeCase{"trail byte 0xFD", "\x81\xFD"s, false, "\\x81\\xFD"s},
        DecodeCase{"unassigned pair in row 0x85", "\x85\x40"s, false, "\\x85@"s},
        // 0xEB88 is unassigned; 0x88 then starts 亜
        DecodeCase{"trail byte starts the next character", "\xEB\x88\x9F"s, false,
                   "\\xEB\xE4\xBA\x9C"s},
        DecodeCase{"single bytes without a character", "\x80\xA0\xFD\xFE\xFF"s, false,
                   "\\x80\\xA0\\xFD\\xFE\\xFF"s},
        DecodeCase{"control characters", "\x00\x09\x0A\x1F\x20\x7F"s, false,
                   "\\x00\\x09\\x0A\\x1F \\x7F"s}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// Every byte value as its two digits, and what appendHex keeps of the text
// before it: each nibble's digit from both ends of 0-9 and A-F.
TEST(Hex, GivesTwoUppercaseDigitsAByte) {
  struct Case {
    std::string bytes;
    std::string expected;
  };
  const Case cases[] = {
      {""s, ""s},
      {"\x00"s, "00"s},
      {"\x09\x0A\x0F"s, "090A0F"s},
      {"\x90\xA0\xF0\xFF"s, "90A0F0FF"s},
      {"\x5C\x00\x01"s, "5C0001"s},
  };
  for (const Case& c : cases) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    EXPECT_EQ(d88text::hexText(bytes, c.bytes.size()), c.expected) << c.expected;
    std::string out = "x=";
    d88text::appendHex(out, bytes, c.bytes.size());
    EXPECT_EQ(out, "x=" + c.expected);
  }
  std::string all;
  for (int value = 0; value < 256; ++value) {
    all += static_cast<char>(value);
  }
  const std::string digits =
      d88text::hexText(reinterpret_cast<const std::uint8_t*>(all.data()), all.size());
  ASSERT_EQ(digits.size(), 512u);
  for (int value = 0; value < 256; ++value) {
    char expected[3];
    std::snprintf(expected, sizeof expected, "%02X", static_cast<unsigned>(value));
    EXPECT_EQ(digits.substr(static_cast<std::size_t>(value) * 2, 2), expected);
  }
}

// Redirected output (a file here, on Windows too) gets the UTF-8 bytes as they are.
TEST(WriteText, FileGetsUtf8Unchanged) {
  // 漢字 ~\ and a line end
  const std::string text = "\xE6\xBC\xA2\xE5\xAD\x97 ~\\\n"s;
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  d88text::writeText(file, text);
  std::rewind(file);
  std::string back(64, '\0');
  back.resize(std::fread(back.data(), 1, back.size(), file));
  std::fclose(file);
  EXPECT_EQ(back, text);
}

}  // namespace

namespace {

// Host text escaped for a listing, byte for byte: valid UTF-8 kept, every
// other byte and every control character as \xNN, '\' and '"' escaped.
TEST(EscapeHostText, EscapesWhatIsNotShowableUtf8) {
  struct Case {
    std::string bytes;
    std::string shown;
  };
  const Case cases[] = {
      {"", ""},
      {"plain.d88", "plain.d88"},
      {"a\\b", "a\\\\b"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"a\tb\n\x1F\x7F", "a\\x09b\\x0A\\x1F\\x7F"},
      {std::string("\0z", 2), "\\x00z"},
      {"\xC2\x80\xC2\x9F", "\\xC2\\x80\\xC2\\x9F"},  // C1 controls
      {"\xC2\xA0\xC3\xA9", "\xC2\xA0\xC3\xA9"},      // the first showable two-byte forms
      {"\xE3\x81\x82\xEF\xBD\xB1", "\xE3\x81\x82\xEF\xBD\xB1"},  // kana, full and half width
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                  // four bytes
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},                  // U+10FFFF, the last
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},              // past U+10FFFF
      {"\xC0\xAF\xC1\xBF", "\\xC0\\xAF\\xC1\\xBF"},              // overlong two-byte forms
      {"\xE0\x9F\xBF", "\\xE0\\x9F\\xBF"},                       // overlong three-byte form
      {"\xF0\x8F\xBF\xBF", "\\xF0\\x8F\\xBF\\xBF"},              // overlong four-byte form
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                       // a surrogate
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},                          // U+D7FF, just before them
      {"\xE3\x81", "\\xE3\\x81"},                                // cut short by the end
      {"\xE3"
       "A\xE3\x81\x82",
       "\\xE3A\xE3\x81\x82"},               // cut short by a byte
      {"\x80\xBF", "\\x80\\xBF"},           // continuation bytes alone
      {"\xF5\xFE\xFF", "\\xF5\\xFE\\xFF"},  // bytes UTF-8 never uses
      {"\\x09", "\\\\x09"},                 // the text of an escape
  };
  for (const Case& c : cases) {
    EXPECT_EQ(d88text::escapeHostText(c.bytes), c.shown) << c.shown;
  }
}

// Different texts never give the same escape: every text of up to two
// bytes, and an escape's own text.
TEST(EscapeHostText, TwoTextsNeverShareAnEscape) {
  std::set<std::string> shown;
  std::size_t texts = 0;
  for (int first = 0; first < 256; ++first) {
    for (int second = -1; second < 256; ++second) {
      std::string text(1, static_cast<char>(first));
      if (second >= 0) {
        text += static_cast<char>(second);
      }
      shown.insert(d88text::escapeHostText(text));
      ++texts;
    }
  }
  EXPECT_EQ(shown.size(), texts);
}

// Terminal columns: a malformed sequence counts byte by byte, and the bytes
// after a lead byte that no sequence follows are counted on their own.
TEST(DisplayWidth, CountsMalformedBytesOneEach) {
  struct Case {
    std::string text;
    std::size_t width;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 3},
      {"\xC3\xA9", 1},
      {"\xE3\x81\x82", 2},
      {"\xEF\xBD\xB1", 1},      // half-width kana
      {"\xF0\xA0\x80\x80", 2},  // a wide ideograph past U+FFFF
      {"\xE3"
       "AB",
       3},  // a lead byte, then two letters
      {"\xFF.d88", 5},
      {"\xF0.d8", 4},  // a four-byte lead and three ASCII bytes
      {"\xC3"
       "A\xE3\x81\x82",
       4},              // a lead byte, a letter, a kana
      {"\xE3\x81", 2},  // cut short by the end
      {"\x80\x80", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(d88text::displayWidth(c.text), c.width) << c.width;
  }
}

}  // namespace
