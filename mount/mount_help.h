// d88mount's help: each option's description in English and Japanese.
#pragma once

#include "cli/help_text.h"

namespace mount_help {

inline constexpr help::Text kD88File = {"the D88 file", "D88 ファイル"};
inline constexpr help::Text kMountPoint = {"the empty folder that shows the disks",
                                           "ディスクを見せる空のフォルダー"};
inline constexpr help::Text kResize = {"a file may change size, the files after it move",
                                       "サイズの変更を許す (後続のファイルを移動する)"};
inline constexpr help::Text kReadOnly = {"mount read-only, the D88 file not locked",
                                         "読み出し専用でマウントする (ロックしない)"};
inline constexpr help::Text kForeground = {"stay in the foreground, log to standard error",
                                           "フォアグラウンドで動き、ログを標準エラー出力に書く"};
inline constexpr help::Text kFuseOptions = {"FUSE mount options, comma-separated",
                                            "FUSE のマウントオプション (コンマで区切る)"};
inline constexpr help::Text kUnmount = {"Unmount: fusermount3 -u folder",
                                        "アンマウント: fusermount3 -u folder"};

}  // namespace mount_help
