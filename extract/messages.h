// d88extract's own texts; those other tools print too are in
// tool_messages.h. The Japanese ones go out as Shift_JIS (code page 932)
// bytes, unconverted, whatever the console's code page.
#pragma once

#include "text/tool_messages.h"

namespace messages {

// Usage text, written to standard error; the first line takes the program name.
inline constexpr char kUsage[] = "Usage: %s [d88file] [-d] [-a]\n";
// "       -d : サブディレクトリを作成しない" (do not create subdirectories)
inline constexpr char kUsageNoSubdirectories[] =
    "       -d : "
    "\x83\x54\x83\x75\x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A\x82\xF0\x8D\xEC\x90\xAC"
    "\x82\xB5\x82\xC8\x82\xA2\n";
// "       -a : 全てのファイルを切り出す" (cut out every file)
inline constexpr char kUsageExtractAll[] =
    "       -a : "
    "\x91\x53\x82\xC4\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x90\xD8\x82\xE8\x8F\x6F"
    "\x82\xB7\n";

// Our own diagnostics, on standard error.
inline constexpr char kIncompleteFile[] =
    "warning: %s incomplete: read %04X of %04X bytes, rest zero-filled\n";
inline constexpr char kCannotWrite[] = "error: cannot write %s\n";
inline constexpr char kCannotOverwriteInput[] =
    "error: cannot write %s: it is the D88 file being read\n";
inline constexpr char kCannotEnterDirectory[] = "error: cannot enter directory %s\n";
inline constexpr char kCannotReturn[] = "error: cannot return to directory %s\n";
inline constexpr char kNoCurrentDirectory[] = "error: cannot determine the current directory\n";

}  // namespace messages
