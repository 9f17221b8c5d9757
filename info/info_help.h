// d88info's help: each option's description in English and Japanese.
#pragma once

#include "cli/help_text.h"

namespace info_help {

inline constexpr help::Text kJson = {
    "one JSON document (schema 7) instead of text; one line a file for several",
    "JSON で出力する (スキーマ 7)。複数のファイルは一行に一つ"};
inline constexpr help::Text kSummary = {"one row a file and a total, not the listings",
                                        "一覧の代わりに、ファイルごとの一行と合計を出す"};
inline constexpr help::Text kRecursive = {"walk the folders among the PATHs for D88 files",
                                          "PATH のフォルダーをたどって D88 ファイルを探す"};
inline constexpr help::Text kThreads = {"list N files at once (default: one per core)",
                                        "N 個のファイルを同時に読む (既定: コアの数)"};
inline constexpr help::Text kPath = {"a D88 file, or with -r a folder",
                                     "D88 ファイル (-r ならフォルダーも)"};

}  // namespace info_help
