#include "disk/chain.h"

#include <algorithm>

bool isDamagedRange(std::int32_t offset, std::int32_t size) {
  return offset < 0 || size < 0 || std::int64_t{offset} + size > kExtractBufferSize;
}

namespace {

// A negative size or offset, or a range past the buffer, comes from a
// damaged file table: such a file is skipped like an unreadable one.
FileRead damagedRead(const DiskFile& file) {
  return {file.size < 0 ? FileVerdict::SkippedNegativeSize : FileVerdict::SkippedPastBuffer, 0};
}

// The verdict of a chain that gave `got` of the file's offset + size bytes.
FileRead readOf(const DiskFile& file, std::int32_t got) {
  const std::int32_t wanted = file.offset + file.size;
  if (got == 0) {
    // A read of no bytes reads nothing, like a missing sector.
    return {wanted == 0 ? FileVerdict::SkippedNothingToRead : FileVerdict::SkippedUnreadable, 0};
  }
  const std::int32_t past = std::max(got - file.offset, 0);
  return {got < wanted ? FileVerdict::Incomplete : FileVerdict::Complete, past};
}

}  // namespace

FileRead readFileChain(d88::D88Image& image, std::uint8_t* buffer, const DiskFile& file) {
  if (isDamagedRange(file.offset, file.size)) {
    return damagedRead(file);
  }
  const std::int32_t wanted = file.offset + file.size;
  // Bytes past a break in the chain must read as zero, not as an earlier file.
  std::fill_n(buffer, wanted, std::uint8_t{0});
  return readOf(file, image.readSectors(file.track, file.cylinder(), file.head(), file.r, file.n,
                                        buffer, wanted));
}

FileRead locateFileRead(d88::D88Image& image, const DiskFile& file) {
  if (isDamagedRange(file.offset, file.size)) {
    return damagedRead(file);
  }
  return readOf(file, image.chainLength(file.track, file.cylinder(), file.head(), file.r, file.n,
                                        file.offset + file.size));
}

std::int32_t fileChainSteps(d88::D88Image& image, const DiskFile& file, d88::StepsTo to,
                            std::vector<d88::ChainStep>& steps) {
  steps.clear();
  if (isDamagedRange(file.offset, file.size)) {
    return 0;
  }
  return image.chainSteps(file.track, file.cylinder(), file.head(), file.r, file.n,
                          file.offset + file.size, to, steps);
}

std::int32_t locateFileChain(d88::D88Image& image, const DiskFile& file,
                             std::vector<d88::ChainStep>& steps) {
  return fileChainSteps(image, file, d88::StepsTo::Break, steps);
}

std::int32_t planFileChain(d88::D88Image& image, const DiskFile& file,
                           std::vector<d88::ChainStep>& steps) {
  return fileChainSteps(image, file, d88::StepsTo::ChainEnd, steps);
}
