// The language of d88info's and d88put's --help, and their help texts in
// both languages side by side. Only the help is translated: usage errors,
// listings, reports and messages stay as they are, since scripts read them.
#pragma once

namespace help {

enum class Language { English, Japanese };

// One text of a help, English and Japanese together (both UTF-8).
struct Text {
  const char* english;
  const char* japanese;

  [[nodiscard]] constexpr const char* in(Language language) const {
    return language == Language::Japanese ? japanese : english;
  }
};

// The language a POSIX locale asks for: the first of LC_ALL, LC_MESSAGES and
// LANG that is set and not empty decides (nullptr: not set), Japanese when it
// is "ja" or starts with "ja_", "ja.", "ja@" or "ja-", and names no code set
// or UTF-8 (the help is UTF-8: "ja_JP.eucJP" gets English).
[[nodiscard]] Language languageOfLocale(const char* lcAll, const char* lcMessages,
                                        const char* lang);
// This run's help language: the locale's variables; on Windows, when none of
// them is set, the user's UI language (Japanese when its primary language is).
[[nodiscard]] Language languageOfRun();

// The texts every tool's help shares: the headings CLI11 prints (its labels),
// --help and --version, and the range of a number option ("0 to 63").
inline constexpr Text kUsage = {"Usage", "使い方"};
inline constexpr Text kOptionsInUsage = {"OPTIONS", "オプション"};
inline constexpr Text kPositionals = {"Positionals", "引数"};
inline constexpr Text kOptions = {"Options", "オプション"};
inline constexpr Text kRequired = {"REQUIRED", "(必須)"};
inline constexpr Text kHelp = {"this text", "この説明を表示する"};
inline constexpr Text kVersion = {"the version", "バージョンを表示する"};
// Between the two ends of a range: "0 to 63", "0～63".
inline constexpr Text kRangeTo = {" to ", "～"};

}  // namespace help
