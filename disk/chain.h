// Reading a file's chain of sectors into the caller's buffer.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "d88_image.h"
#include "file_tables.h"

// 80 tracks of 16 sectors of 256 bytes: the largest file the tools read,
// offset included.
constexpr std::int32_t kExtractBufferSize = 0x50000;
static_assert(kExtractBufferSize == 80 * kTableSize, "the buffer holds 80 full tracks");

using ExtractBuffer = std::array<std::uint8_t, kExtractBufferSize>;

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

// Reads a file's chain into `buffer`, of kExtractBufferSize bytes (offset +
// size bytes from the file's first sector), zero-filling what the chain does
// not reach. The file's bytes are then at buffer + file.offset.
[[nodiscard]] FileRead readFileChain(d88::D88Image& image, std::uint8_t* buffer,
                                     const DiskFile& file);

// The steps readFileChain takes for a file (none for a damaged range);
// returns the bytes it would read.
std::int32_t locateFileChain(d88::D88Image& image, const DiskFile& file,
                             std::vector<d88::ChainStep>& steps);
