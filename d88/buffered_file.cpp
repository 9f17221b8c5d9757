#include "d88/buffered_file.h"

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

std::int64_t sizeOf(std::FILE* file) {
#ifdef _WIN32
  const bool atEnd = _fseeki64(file, 0, SEEK_END) == 0;
  return atEnd ? std::max<std::int64_t>(_ftelli64(file), 0) : 0;
#else
  const bool atEnd = fseeko(file, 0, SEEK_END) == 0;
  return atEnd ? std::max<std::int64_t>(ftello(file), 0) : 0;
#endif
}

}  // namespace

bool BufferedFile::adopt(std::FILE* file) {
  close();
  if (file == nullptr) {
    return false;
  }
  // Our own buffer does the buffering; stdio's would only copy twice.
  std::setvbuf(file, nullptr, _IONBF, 0);
  // Every read is made at a position: an input that cannot seek (a pipe, a
  // socket) would read as an empty file and pass for one.
  if (!seekTo(file, 0)) {
    std::fclose(file);
    return false;
  }
  // Some hosts open a folder for reading and only fail its reads.
  std::uint8_t first = 0;
  if (std::fread(&first, 1, 1, file) != 1 && std::ferror(file) != 0) {
    std::fclose(file);
    return false;
  }
  file_ = file;
  size_ = sizeOf(file_);
  openedSize_ = size_;
  changed_ = false;
  hostBytesRead_ = 0;
  return true;
}

void BufferedFile::close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  // An overlay belongs to the file it was laid over.
  overlay_ = nullptr;
  dropBuffer();
}

void BufferedFile::dropBuffer() {
  filePosition_ = -1;
  for (Block& block : blocks_) {
    block.start = 0;
    block.length = 0;
  }
  size_ = file_ != nullptr ? sizeOf(file_) : 0;
  // Lengths are measured against this size: another one than at the open
  // would make reads that never come short give other verdicts.
  changed_ = changed_ || (file_ != nullptr && size_ != openedSize_);
}

std::int64_t BufferedFile::readDirect(std::int64_t position, std::uint8_t* dest,
                                      std::int64_t count) {
  // A read that goes on where the last one ended needs no seek.
  if (position != filePosition_ && !seekTo(file_, position)) {
    filePosition_ = -1;
    changed_ = changed_ || (count > 0 && position < openedSize_);
    return 0;
  }
  const auto got =
      static_cast<std::int64_t>(std::fread(dest, 1, static_cast<std::size_t>(count), file_));
  // After a failed read the stream's position is unknown.
  filePosition_ = got == count ? position + got : -1;
  hostBytesRead_ += got;
  if (got < std::clamp<std::int64_t>(openedSize_ - position, 0, count)) {
    changed_ = true;
  }
  return got;
}

std::int64_t BufferedFile::placeBlock(std::int64_t position, std::int64_t count) const {
  const Block& last = lastUsed();
  const std::int64_t end = position + count;
  // A miss next to the block read last goes on in the same direction: the new
  // block starts where the range does (forwards) or ends where it does
  // (backwards), so that a walk refills once per block, not once per half.
  if (last.length > 0 && position >= last.start && position <= last.start + last.length) {
    const std::int64_t start = position - position % kEdgeAlign;
    return end > start + kBlockSize ? position : start;
  }
  if (last.length > 0 && position < last.start && end + kBlockSize >= last.start) {
    const std::int64_t edge = end + (kEdgeAlign - end % kEdgeAlign) % kEdgeAlign;
    return std::clamp<std::int64_t>(edge - kBlockSize, 0, position);
  }
  // Elsewhere blocks start at multiples of half a block, so that chains read
  // either way from there refill once per half block at worst; a range across
  // such a block's end starts a block of its own.
  const std::int64_t start = position - position % kBlockAlign;
  return end > start + kBlockSize ? position : start;
}

const BufferedFile::Block& BufferedFile::lastUsed() const {
  const Block* last = &blocks_[0];
  for (const Block& block : blocks_) {
    if (block.lastUse > last->lastUse) {
      last = &block;
    }
  }
  return *last;
}

const BufferedFile::Block& BufferedFile::blockFor(std::int64_t position, std::int64_t count) {
  ++uses_;
  Block* oldest = &blocks_[0];
  for (Block& block : blocks_) {
    if (position >= block.start && position + count <= block.start + block.length) {
      block.lastUse = uses_;
      return block;
    }
    if (block.lastUse < oldest->lastUse) {
      oldest = &block;
    }
  }
  oldest->start = placeBlock(position, count);
  oldest->length = readDirect(oldest->start, oldest->bytes.data(), kBlockSize);
  oldest->lastUse = uses_;
  return *oldest;
}

std::int64_t BufferedFile::readAt(std::int64_t position, std::uint8_t* dest, std::int64_t count) {
  const std::int64_t got = readFile(position, dest, count);
  if (overlay_ != nullptr &&
      overlay_->apply(position, dest, got,
                      [this](std::int64_t from, std::uint8_t* to, std::int64_t length) {
                        return readFile(from, to, length);
                      })) {
    ++overlaidReads_;
  }
  return got;
}

std::int64_t BufferedFile::readFile(std::int64_t position, std::uint8_t* dest, std::int64_t count) {
  // Nothing to read, or a position before the file: no bytes.
  if (count <= 0 || position < 0 || !isOpen()) {
    return 0;
  }
  // Large reads go straight to the destination.
  if (count >= kBlockSize) {
    return readDirect(position, dest, count);
  }
  const Block& block = blockFor(position, count);
  // A block refilled at the end of the file holds fewer bytes than asked for.
  const std::int64_t available = std::max<std::int64_t>(block.start + block.length - position, 0);
  const std::int64_t copied = std::min(count, available);
  if (copied > 0) {
    std::memcpy(dest, block.bytes.data() + (position - block.start),
                static_cast<std::size_t>(copied));
  }
  return copied;
}

}  // namespace d88
