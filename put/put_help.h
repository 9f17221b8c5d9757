// d88put's help: each option's description in English and Japanese.
#pragma once

#include "cli/help_text.h"

namespace put_help {

inline constexpr help::Text kD88File = {"the D88 file", "D88 ファイル"};
inline constexpr help::Text kFolder = {"what d88extract -a wrote (or, with --disk, one disk)",
                                       "d88extract -a が書き出したフォルダー (--disk なら一枚分)"};
inline constexpr help::Text kDisk = {"the folder holds the files of disk N itself",
                                     "folder はディスク N 一枚分のファイルを直接収める"};
inline constexpr help::Text kOutput = {"write the new D88 file there, leave d88file as it is",
                                       "新しい D88 ファイルを output に書く (d88file は変えない)"};
inline constexpr help::Text kResize = {"a file may change size, the files after it move",
                                       "サイズの変更を許す (後続のファイルを移動する)"};
inline constexpr help::Text kRemove = {
    "remove file NAME (000/S11E), the last of its table",
    "ファイル NAME (000/S11E) を削除する (テーブルの最後のもの)"};
inline constexpr help::Text kDryRun = {"check and report, write nothing",
                                       "検査して報告するだけで、何も書き込まない"};

}  // namespace put_help
