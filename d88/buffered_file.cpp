#include "buffered_file.h"

#include <algorithm>
#include <cstring>

namespace d88 {

namespace {

// fseek takes a long, which is 32 bits on Windows: positions past 2 GiB need
// the platform's 64-bit variant.
bool seekTo(std::FILE* file, std::int64_t position) {
#ifdef _WIN32
  return _fseeki64(file, position, SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

}  // namespace

bool BufferedFile::open(const char* path) {
  close();
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) {
    return false;
  }
  // Our own buffer does the buffering; stdio's would only copy twice.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

void BufferedFile::close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  bufferStart_ = 0;
  bufferLength_ = 0;
}

std::int64_t BufferedFile::readDirect(std::int64_t position, std::uint8_t* dest,
                                      std::int64_t count) {
  if (!seekTo(file_, position)) {
    return 0;
  }
  return static_cast<std::int64_t>(std::fread(dest, 1, static_cast<std::size_t>(count), file_));
}

std::int64_t BufferedFile::readAt(std::int64_t position, std::uint8_t* dest, std::int64_t count) {
  if (count <= 0 || position < 0 || !isOpen()) {
    return 0;
  }
  const bool inBuffer =
      position >= bufferStart_ && position + count <= bufferStart_ + bufferLength_;
  if (!inBuffer) {
    // Large reads go straight to the destination.
    if (count >= kBufferSize) {
      return readDirect(position, dest, count);
    }
    bufferStart_ = position;
    bufferLength_ = readDirect(position, buffer_.data(), kBufferSize);
  }
  const std::int64_t available = std::max<std::int64_t>(bufferStart_ + bufferLength_ - position, 0);
  const std::int64_t copied = std::min(count, available);
  if (copied > 0) {
    std::memcpy(dest, buffer_.data() + (position - bufferStart_), static_cast<std::size_t>(copied));
  }
  return copied;
}

}  // namespace d88
