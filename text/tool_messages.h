// Texts that more than one tool prints. The Japanese ones are Shift_JIS
// (code page 932) bytes: d88extract writes them unconverted, the other tools
// decode them to UTF-8 with d88text::messageText.
#pragma once

namespace messages {

// ファイルをオープンできません (the file cannot be opened)
inline constexpr char kOpenError[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1\n";

// One line per file: d88extract's report, d88info's file lines.
inline constexpr char kReportLine[] = "%-6s  trk: %02X  sec: %02X  ofs: %02X  size: %04X\n";

}  // namespace messages
