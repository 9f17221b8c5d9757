#include "buffered_file.h"

#include <algorithm>
#include <cstring>

namespace d88 {

bool BufferedFile::open(const char* path) {
  close();
  // Our own buffer does the buffering; the stream's would only copy twice.
  file_.pubsetbuf(nullptr, 0);
  return file_.open(path, std::ios::in | std::ios::binary) != nullptr;
}

void BufferedFile::close() {
  if (file_.is_open()) {
    file_.close();
  }
  bufferStart_ = 0;
  bufferLength_ = 0;
}

std::int64_t BufferedFile::readDirect(std::int64_t position, std::uint8_t* dest,
                                      std::int64_t count) {
  const auto target = static_cast<std::streamoff>(position);
  if (file_.pubseekpos(target, std::ios::in) != std::streampos(target)) {
    return 0;
  }
  return file_.sgetn(reinterpret_cast<char*>(dest), static_cast<std::streamsize>(count));
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
