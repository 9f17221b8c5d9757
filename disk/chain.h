// Reading a file's chain of sectors into the caller's buffer.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "d88/d88_image.h"
#include "disk/file_tables.h"

namespace disk {

// 80 tracks of 16 sectors of 256 bytes: the largest file the tools read,
// offset included.
constexpr std::int32_t kExtractBufferSize = 0x50000;
static_assert(kExtractBufferSize == 80 * kTableSize, "the buffer holds 80 full tracks");

using ExtractBuffer = std::array<std::uint8_t, kExtractBufferSize>;

// Whether `size` bytes from offset `offset` of a file's first sector fit the
// extraction buffer: d88extract skips a file that reaches past it.
[[nodiscard]] constexpr bool fitsExtractBuffer(std::int64_t offset, std::int64_t size) {
  return offset + size <= kExtractBufferSize;
}
// Whether an edit of `size` bytes fits it from offset 0.
[[nodiscard]] constexpr bool fitsExtractBuffer(std::uint64_t size) {
  return size <= static_cast<std::uint64_t>(kExtractBufferSize);
}

// What reading a file's chain gives, and so what extraction does with it.
enum class FileVerdict {
  Complete,              // every byte read
  Incomplete,            // written whole, zero-filled past a break in its chain
  SkippedUnreadable,     // its first sector cannot be read
  SkippedNothingToRead,  // size 0 at offset 0: no byte to read, no file
  SkippedNegativeSize,   // a damaged table gives it a negative size
  SkippedPastBuffer,     // offset and size reach past the extraction buffer
};

// Whether d88extract writes a file of that verdict (with -a, or the files
// it writes without).
[[nodiscard]] constexpr bool isWritten(FileVerdict verdict) {
  return verdict == FileVerdict::Complete || verdict == FileVerdict::Incomplete;
}

// Whether a written file can be given other bytes: bytes past a break in its
// chain have no place on the disk.
[[nodiscard]] constexpr bool isChangeable(FileVerdict verdict) {
  return verdict == FileVerdict::Complete;
}

struct FileRead {
  FileVerdict verdict = FileVerdict::SkippedUnreadable;
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

// What readFileChain would give for a file, found without reading its bytes:
// the same verdict and count, for a listing that needs no contents.
[[nodiscard]] FileRead locateFileRead(d88::D88Image& image, const DiskFile& file);

// The steps of a file's chain up to `to` (none for a damaged range), as
// D88Image::chainSteps lists them for the file's first sector and its offset
// and size in bytes.
std::int32_t fileChainSteps(d88::D88Image& image, const DiskFile& file, d88::StepsTo to,
                            std::vector<d88::ChainStep>& steps);
// The steps readFileChain takes for a file (none for a damaged range);
// returns the bytes it would read.
std::int32_t locateFileChain(d88::D88Image& image, const DiskFile& file,
                             std::vector<d88::ChainStep>& steps);
// A byte range of the D88 file.
struct FileSpan {
  std::int64_t position = 0;
  std::int64_t length = 0;
};

// A file's byte ranges in the D88 file: the parts of its chain's steps
// (left in `steps`) from its offset on.
[[nodiscard]] std::vector<FileSpan> fileSpansOf(d88::D88Image& image, const DiskFile& file,
                                                std::vector<d88::ChainStep>& steps);

// Reads the record headers that a walk of track `slot` reaches into
// `records` (resized to them), and how the walk ended; a walk that outruns
// the usual room is read again with room for every record a 16-bit count
// names.
void readTrackRecords(d88::D88Image& image, std::int32_t slot,
                      std::vector<d88::SectorRecordInfo>& records, d88::WalkEnd& end);

// Every sector a file's chain covers, past a break too (none for a damaged
// range): where the file lies on its disk, found or not.
std::int32_t planFileChain(d88::D88Image& image, const DiskFile& file,
                           std::vector<d88::ChainStep>& steps);

}  // namespace disk
