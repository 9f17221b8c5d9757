#include "disk/chain.h"

#include <algorithm>

namespace disk {

bool isDamagedRange(std::int32_t offset, std::int32_t size) {
  return offset < 0 || size < 0 || !fitsExtractBuffer(offset, size);
}

namespace {

// Records a walk can reach: sector counts are 16-bit, so the walk ends by
// its count before it runs out of this room.
constexpr std::int32_t kMostRecordsPerTrack = 0x10000;
static_assert(kMostRecordsPerTrack > 0xFFFF, "room for every record a 16-bit count names");
// Room for the records of a normal track; a longer walk is read again with
// room for the most a walk can reach.
constexpr std::int32_t kUsualRecordsPerTrack = 64;

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

std::vector<FileSpan> fileSpansOf(d88::D88Image& image, const DiskFile& file,
                                  std::vector<d88::ChainStep>& steps) {
  (void)locateFileChain(image, file, steps);
  std::vector<FileSpan> spans;
  for (const d88::ChainStep& step : steps) {
    const std::int64_t from = std::max(step.chainOffset, file.offset);
    const std::int64_t to = std::int64_t{step.chainOffset} + step.length;
    if (step.position >= 0 && from < to) {
      spans.push_back({step.position + (from - step.chainOffset), to - from});
    }
  }
  return spans;
}

void readTrackRecords(d88::D88Image& image, std::int32_t slot,
                      std::vector<d88::SectorRecordInfo>& records, d88::WalkEnd& end) {
  for (const std::int32_t room : {kUsualRecordsPerTrack, kMostRecordsPerTrack}) {
    records.resize(static_cast<std::size_t>(room));
    const std::int32_t count = image.readSectorRecords(slot, records.data(), room, &end);
    records.resize(static_cast<std::size_t>(count));
    // Stopped only for want of room: the walk goes on past it.
    if (end != d88::WalkEnd::Stopped) {
      return;
    }
  }
}

}  // namespace disk
