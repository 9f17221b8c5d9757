// Writing one stretch of the selected disk to a host file.
#pragma once

#include <array>
#include <cstdint>

#include "d88_image.h"
#include "platform.h"

// 80 tracks of 16 sectors of 256 bytes: the largest file the tool extracts,
// offset included.
constexpr std::int32_t kExtractBufferSize = 0x50000;
static_assert(kExtractBufferSize == 80 * 16 * 256, "the buffer holds 80 full tracks");

// The one D88 file of the run, with its selected disk.
extern d88::D88Image diskImage;
// The D88 file as it was opened: no output file may be that file.
extern platform::FileIdentity inputIdentity;
// Shared by every extraction; each one clears the part it uses.
extern std::array<std::uint8_t, kExtractBufferSize> extractBuffer;

enum class FileReadStatus {
  Complete,    // every byte read
  Incomplete,  // the chain broke after its first step; the rest is zero
  Unreadable,  // not even the first step could be read
  Damaged,     // negative size or offset, or a range past the buffer: not read
};

struct FileRead {
  FileReadStatus status = FileReadStatus::Unreadable;
  std::int32_t bytesRead = 0;  // bytes read past the offset
};

// A negative size or offset, or a range past the buffer: what a damaged file
// table gives, and no file to read.
[[nodiscard]] bool isDamagedRange(std::int32_t offset, std::int32_t size);

// Reads a file's chain into extractBuffer (offset + size bytes from the
// sector (track, c, h, r, n)), zero-filling what the chain does not reach.
// The same for any image, into a buffer of kExtractBufferSize bytes.
[[nodiscard]] FileRead readFileChain(d88::D88Image& image, std::uint8_t* buffer, std::int32_t track,
                                     std::int32_t c, std::int32_t h, std::int32_t r, std::int32_t n,
                                     std::int32_t offset, std::int32_t size);
[[nodiscard]] FileRead readFileChain(std::int32_t track, std::int32_t c, std::int32_t h,
                                     std::int32_t r, std::int32_t n, std::int32_t offset,
                                     std::int32_t size);

// Reads offset + size bytes of the chain that starts at sector (track, c, h,
// r, n) and writes the `size` bytes from `offset` on to the file `name` in the
// current directory, with its report line. Returns false, with no file and no
// line, when nothing could be read, the range is damaged, writing failed, or
// the name leads to the D88 file itself.
[[nodiscard]] bool extractFile(const char* name, std::int32_t track, std::int32_t c, std::int32_t h,
                               std::int32_t r, std::int32_t n, std::int32_t offset,
                               std::int32_t size);

// True once any output file could not be written during this run.
[[nodiscard]] bool anyWriteFailed();
