// A read-only host file read at absolute 64-bit positions through one fixed
// buffer, so that walking a track's small records costs copies, not seeks.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

namespace d88 {

class BufferedFile {
 public:
  static constexpr std::int64_t kBufferSize = 32 * 1024;

  BufferedFile() = default;
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;
  ~BufferedFile() { close(); }

  [[nodiscard]] bool open(const char* path);
  void close();
  [[nodiscard]] bool isOpen() const { return file_ != nullptr; }

  // Forgets the buffered bytes, so the next read sees the file as it is now.
  void dropBuffer() { bufferLength_ = 0; }

  // Copies up to `count` bytes from `position` on; returns how many there were.
  [[nodiscard]] std::int64_t readAt(std::int64_t position, std::uint8_t* dest, std::int64_t count);

 private:
  [[nodiscard]] std::int64_t readDirect(std::int64_t position, std::uint8_t* dest,
                                        std::int64_t count);

  std::FILE* file_ = nullptr;
  std::array<std::uint8_t, kBufferSize> buffer_{};
  std::int64_t bufferStart_ = 0;   // file position of buffer_[0]
  std::int64_t bufferLength_ = 0;  // valid bytes in buffer_
};

}  // namespace d88
