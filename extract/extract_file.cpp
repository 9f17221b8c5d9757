#include "extract/extract_file.h"

#include <algorithm>
#include <cstdio>

#include "extract/messages.h"

using namespace disk;

d88::D88Image diskImage;
platform::FileStamp inputIdentity;
ExtractBuffer extractBuffer{};
TableBuffers fileTables;

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

DiskBuffers processBuffers() {
  return {fileTables, extractBuffer.data()};
}

bool anyWriteFailed() {
  return writeFailed;
}

bool extractFile(const DiskFile& file) {
  const char* name = file.name.data();
  const std::int32_t offset = file.offset;
  const std::int32_t size = file.size;
  const FileRead read = readFileChain(diskImage, extractBuffer.data(), file);
  if (!isWritten(read.verdict)) {
    return false;
  }
  // Opening the image itself for writing (by its name, or a link to it) would
  // truncate the disk being read: that file is refused.
  if (platform::sameFile(platform::stampOf(name), inputIdentity)) {
    std::fprintf(stderr, messages::kCannotOverwriteInput, name);
    writeFailed = true;
    return false;
  }
  if (!writeHostFile(name, extractBuffer.data() + offset, static_cast<std::size_t>(size))) {
    std::fprintf(stderr, messages::kCannotWrite, name);
    writeFailed = true;
    return false;
  }
  std::printf(messages::kReportLine, name, static_cast<unsigned>(file.track),
              static_cast<unsigned>(file.r), static_cast<unsigned>(offset),
              static_cast<unsigned>(size));
  // The report line alone would present a broken chain as a complete file.
  if (read.verdict == FileVerdict::Incomplete) {
    std::fflush(stdout);
    std::fprintf(stderr, messages::kIncompleteFile, name, static_cast<unsigned>(read.bytesRead),
                 static_cast<unsigned>(size));
  }
  return true;
}

void extractDisk(bool extractAll) {
  const DiskKind kind = recogniseDisk(diskImage, fileTables);
  if (const char* message = recognitionMessage(kind)) {
    std::fputs(message, stdout);
  }
  // The kind is settled by the tables: a fixed file that cannot be read
  // changes nothing for the rest.
  forEachDiskFile(kind, fileTables, [&](const DiskFile& file) {
    if (extractAll || file.writtenWithoutAll) {
      (void)extractFile(file);
    }
  });
}
