// A read-only host file read at absolute 64-bit positions through two fixed
// blocks, so that walking a track's small records costs copies, not seeks,
// and a sector chain that goes back and forth between two places in the file
// (side 0 and side 1 of a cylinder) keeps both in memory.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "d88/byte_overlay.h"

namespace d88 {

class BufferedFile {
 public:
  static constexpr std::int64_t kBlockSize = 16 * 1024;
  static constexpr std::size_t kBlocks = 2;
  static constexpr std::int64_t kBlockAlign = kBlockSize / 2;
  // Where a block placed from a range's edge starts or ends.
  static constexpr std::int64_t kEdgeAlign = 512;
  static_assert(kBlockSize % kBlockAlign == 0, "aligned blocks tile the file");
  static_assert(kBlockSize % kEdgeAlign == 0 && kEdgeAlign > 0, "edge alignment fits a block");

  BufferedFile() = default;
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;
  ~BufferedFile() { close(); }

  // Takes over a file opened for binary reading; it is closed with this one.
  // A file whose position cannot be set (a pipe) is closed and refused.
  [[nodiscard]] bool adopt(std::FILE* file);
  void close();
  [[nodiscard]] bool isOpen() const { return file_ != nullptr; }

  // Forgets the buffered bytes and the size, so that reads see the file as
  // it is now.
  void dropBuffer();
  // The file's size when it was opened or its buffer last dropped.
  [[nodiscard]] std::int64_t size() const { return size_; }
  // The file's size when it was opened, which changedSinceOpened holds reads to.
  [[nodiscard]] std::int64_t openedSize() const { return openedSize_; }

  // Lays bytes over the file's own for every later read (null: none), until
  // the file is closed. The overlay must outlive the reads.
  void setOverlay(const ByteOverlay* overlay) { overlay_ = overlay; }
  // How many reads so far met laid bytes.
  [[nodiscard]] std::uint64_t overlaidReads() const { return overlaidReads_; }

  // Whether the file changed under the reader since it was opened, as far as
  // the reads tell: a read came back with fewer bytes than the size the
  // file had then holds at its position (it was cut short, or could not be
  // read), or a later look at its size (dropBuffer) found another.
  [[nodiscard]] bool changedSinceOpened() const { return changed_; }
  // The bytes read from the host file since it was opened, refills included.
  [[nodiscard]] std::int64_t hostBytesRead() const { return hostBytesRead_; }

  // Copies up to `count` bytes from `position` on; returns how many there were.
  [[nodiscard]] std::int64_t readAt(std::int64_t position, std::uint8_t* dest, std::int64_t count);

 private:
  // readAt without the overlay.
  [[nodiscard]] std::int64_t readFile(std::int64_t position, std::uint8_t* dest,
                                      std::int64_t count);
  [[nodiscard]] std::int64_t readDirect(std::int64_t position, std::uint8_t* dest,
                                        std::int64_t count);

  struct Block {
    std::array<std::uint8_t, kBlockSize> bytes{};
    std::int64_t start = 0;   // file position of bytes[0]
    std::int64_t length = 0;  // valid bytes
    std::uint64_t lastUse = 0;
  };
  // The block holding [position, position + count), refilled if none does.
  [[nodiscard]] const Block& blockFor(std::int64_t position, std::int64_t count);
  // Where a block refilled for [position, position + count) starts.
  [[nodiscard]] std::int64_t placeBlock(std::int64_t position, std::int64_t count) const;
  [[nodiscard]] const Block& lastUsed() const;

  std::FILE* file_ = nullptr;
  // Where the stream stands after the last read (-1: unknown).
  std::int64_t filePosition_ = -1;
  std::int64_t size_ = 0;
  std::int64_t openedSize_ = 0;
  bool changed_ = false;
  std::int64_t hostBytesRead_ = 0;
  const ByteOverlay* overlay_ = nullptr;
  std::uint64_t overlaidReads_ = 0;
  std::array<Block, kBlocks> blocks_{};
  std::uint64_t uses_ = 0;
};

}  // namespace d88
