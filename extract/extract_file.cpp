#include "extract_file.h"

#include <algorithm>
#include <cstdio>

#include "messages.h"

d88::D88Image diskImage;
platform::FileIdentity inputIdentity;
std::array<std::uint8_t, kExtractBufferSize> extractBuffer{};

namespace {

bool writeFailed = false;

// Creates (or truncates) the file and writes the bytes; a file that could not
// be written whole is removed rather than left looking complete.
bool writeHostFile(const char* name, const std::uint8_t* bytes, std::size_t size) {
  std::FILE* file = std::fopen(name, "wb");
  if (file == nullptr) {
    return false;
  }
  // The file goes out in one write: a stdio buffer would only add a copy
  // and a query of the file's block size.
  std::setvbuf(file, nullptr, _IONBF, 0);
  const bool written = size == 0 || std::fwrite(bytes, 1, size, file) == size;
  const bool closed = std::fclose(file) == 0;
  if (written && closed) {
    return true;
  }
  std::remove(name);
  return false;
}

}  // namespace

bool isDamagedRange(std::int32_t offset, std::int32_t size) {
  return offset < 0 || size < 0 || std::int64_t{offset} + size > kExtractBufferSize;
}

bool anyWriteFailed() {
  return writeFailed;
}

FileRead readFileChain(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                       std::int32_t n, std::int32_t offset, std::int32_t size) {
  return readFileChain(diskImage, extractBuffer.data(), track, c, h, r, n, offset, size);
}

FileRead readFileChain(d88::D88Image& image, std::uint8_t* buffer, std::int32_t track,
                       std::int32_t c, std::int32_t h, std::int32_t r, std::int32_t n,
                       std::int32_t offset, std::int32_t size) {
  // A negative size or offset, or a range past the buffer, comes from a
  // damaged file table: such a file is skipped like an unreadable one.
  if (isDamagedRange(offset, size)) {
    return {FileReadStatus::Damaged, 0};
  }
  const std::int32_t wanted = offset + size;
  // Bytes past a break in the chain must read as zero, not as an earlier file.
  std::fill_n(buffer, wanted, std::uint8_t{0});
  const std::int32_t got = image.readSectors(track, c, h, r, n, buffer, wanted);
  if (got == 0) {
    return {FileReadStatus::Unreadable, 0};
  }
  const std::int32_t past = std::max(got - offset, 0);
  return {got < wanted ? FileReadStatus::Incomplete : FileReadStatus::Complete, past};
}

bool extractFile(const char* name, std::int32_t track, std::int32_t c, std::int32_t h,
                 std::int32_t r, std::int32_t n, std::int32_t offset, std::int32_t size) {
  const FileRead read = readFileChain(track, c, h, r, n, offset, size);
  if (read.status == FileReadStatus::Damaged || read.status == FileReadStatus::Unreadable) {
    return false;
  }
  // Opening the image itself for writing (by its name, or a link to it) would
  // truncate the disk being read: that file is refused.
  if (platform::sameFile(platform::identityOf(name), inputIdentity)) {
    std::fprintf(stderr, messages::kCannotOverwriteInput, name);
    writeFailed = true;
    return false;
  }
  if (!writeHostFile(name, extractBuffer.data() + offset, static_cast<std::size_t>(size))) {
    std::fprintf(stderr, messages::kCannotWrite, name);
    writeFailed = true;
    return false;
  }
  std::printf(messages::kReportLine, name, static_cast<unsigned>(track), static_cast<unsigned>(r),
              static_cast<unsigned>(offset), static_cast<unsigned>(size));
  // The report line alone would present a broken chain as a complete file.
  if (read.status == FileReadStatus::Incomplete) {
    std::fflush(stdout);
    std::fprintf(stderr, messages::kIncompleteFile, name, static_cast<unsigned>(read.bytesRead),
                 static_cast<unsigned>(size));
  }
  return true;
}
