#include "d88/d88_image.h"

#include <algorithm>

namespace d88 {

std::uint32_t readLe32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
         (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

std::uint16_t readLe16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

namespace {

// Stored 32-bit fields are two's-complement signed values.
std::int32_t readSigned32(const std::uint8_t* bytes) {
  const std::uint32_t value = readLe32(bytes);
  return value <= INT32_MAX ? static_cast<std::int32_t>(value)
                            : static_cast<std::int32_t>(value - 0x80000000u) - INT32_MAX - 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Container

bool D88Image::open(const char* path) {
  file_.close();
  forgetIndexes();
  diskCount_ = 0;
  if (path == nullptr) {
    mediaType_ = -1;
    return true;
  }
  return openFile(std::fopen(path, "rb"));
}

bool D88Image::openFile(std::FILE* file) {
  file_.close();
  forgetIndexes();
  diskCount_ = 0;
  if (!file_.adopt(file)) {
    return false;
  }
  scanDisks();
  return true;
}

void D88Image::forgetIndexes() {
  // The maps keep their room: the next disk's tracks are most often alike.
  for (std::size_t track = 0; track < sectorIndexes_.size(); ++track) {
    sectorMaps_[track].forget();
    sectorIndexes_[track].forget();
  }
}

void D88Image::scanDisks() {
  std::array<std::uint8_t, kHeaderSize> header{};
  std::int64_t offset = 0;
  diskCount_ = 0;
  while (diskCount_ < kMaxDisks) {
    diskOffsets_[static_cast<std::size_t>(diskCount_)] = static_cast<std::int32_t>(offset);
    // A header that cannot be read whole is the end of the file.
    if (file_.readAt(offset, header.data(), kHeaderSize) < kHeaderSize) {
      return;
    }
    const std::int32_t size = readSigned32(header.data() + kDiskSizeOffset);
    ++diskCount_;
    // A size below the header size would find this header again, or walk
    // backwards: the image is kept and the scan ends.
    if (size < kHeaderSize) {
      return;
    }
    offset += size;
    // Offsets are 32-bit signed values; an image that reaches past them is the last.
    if (offset > INT32_MAX) {
      return;
    }
  }
}

std::int32_t D88Image::diskOffset(std::int32_t index) const {
  if (index < 0 || index >= diskCount_) {
    return -1;
  }
  return diskOffsets_[static_cast<std::size_t>(index)];
}

bool D88Image::selectDisk(std::int32_t index) {
  if (!isOpen()) {
    return false;
  }
  diskBase_ = -1;
  mediaType_ = -1;
  diskSize_ = 0;
  diskName_.fill('\0');
  nameField_.fill(0);
  writeProtect_ = -1;
  forgetIndexes();
  // The selection reads the header as the file holds it now.
  file_.dropBuffer();
  if (index < 0 || index >= diskCount_) {
    return false;
  }
  const std::int32_t base = diskOffsets_[static_cast<std::size_t>(index)];
  std::array<std::uint8_t, kHeaderSize> header{};
  // A header cut short by the end of the file is no disk to select.
  if (file_.readAt(base, header.data(), kHeaderSize) < kHeaderSize) {
    return false;
  }
  diskBase_ = base;
  for (std::int32_t track = 0; track < kTrackCount; ++track) {
    trackOffsets_[static_cast<std::size_t>(track)] =
        readSigned32(header.data() + kTrackTableOffset + track * kTrackEntrySize);
  }
  mediaType_ = header[kMediaTypeOffset];
  writeProtect_ = header[kWriteProtectOffset];
  std::copy_n(header.begin() + kNameOffset, kNameFieldSize, nameField_.begin());
  diskSize_ = readSigned32(header.data() + kDiskSizeOffset);
  for (std::int32_t i = 0; i < kNameSize && header[kNameOffset + i] != 0; ++i) {
    diskName_[static_cast<std::size_t>(i)] = static_cast<char>(header[kNameOffset + i]);
  }
  return true;
}

void D88Image::setSectorRange(std::int32_t first, std::int32_t last) {
  firstSector_ = first;
  lastSector_ = last;
}

// ---------------------------------------------------------------------------
// Sector reads

std::optional<std::int64_t> D88Image::trackStart(std::int32_t track) const {
  if (!isOpen() || track < 0 || track >= kTrackCount) {
    return std::nullopt;
  }
  const std::int32_t trackOffset = trackOffsets_[static_cast<std::size_t>(track)];
  // Zero marks an absent track; a negative offset (2^31 or more) is damage.
  if (trackOffset <= 0) {
    return std::nullopt;
  }
  // A track beyond the image's size is not part of it; a negative size
  // therefore makes every track unreadable.
  if (trackOffset > diskSize_) {
    return std::nullopt;
  }
  return std::int64_t{diskBase_} + trackOffset;
}

bool D88Image::readRecordHeader(std::int64_t position, RecordHeader& header) {
  std::array<std::uint8_t, kSectorHeaderSize> bytes{};
  if (file_.readAt(position, bytes.data(), kSectorHeaderSize) < kSectorHeaderSize) {
    return false;
  }
  header.id.c = bytes[kIdCylinderOffset];
  header.id.h = bytes[kIdHeadOffset];
  header.id.r = bytes[kIdRecordOffset];
  header.id.n = bytes[kIdSizeCodeOffset];
  header.sectorCount = readLe16(bytes.data() + kSectorCountOffset);
  header.density = bytes[kDensityOffset];
  header.deletedMark = bytes[kDeletedMarkOffset];
  header.status = bytes[kStatusOffset];
  header.dataLength = readLe16(bytes.data() + kDataLengthOffset);
  header.position = position;
  return true;
}

// Visits the records of a track in stored order, as far as a sector can be
// found: visit(header, headerPosition) returns false to stop early.
template <typename Visit>
WalkEnd D88Image::walkTrack(std::int64_t start, Visit&& visit) {
  RecordHeader header;
  std::int64_t position = start;
  for (std::int32_t index = 0;; ++index) {
    // A header cut short by the end of the file ends the track.
    if (!readRecordHeader(position, header)) {
      return WalkEnd::CutShort;
    }
    // A zero sector count marks an unformatted track.
    if (header.sectorCount == 0) {
      return WalkEnd::ZeroCount;
    }
    // The last record by the count of the header just read ends the walk; a
    // damaged count below the position ends it at once.
    const bool last = index >= header.sectorCount - 1;
    if (!visit(static_cast<const RecordHeader&>(header), position)) {
      return last ? WalkEnd::CountReached : WalkEnd::Stopped;
    }
    if (last) {
      return WalkEnd::CountReached;
    }
    position += kSectorHeaderSize + header.dataLength;
  }
}

namespace {

// A stored data length is 16 bits wide: the header's own field.
RecordMarks marksOf(const SectorRecordInfo& header) {
  return {static_cast<std::uint16_t>(header.dataLength), header.status, header.deletedMark};
}

}  // namespace

const SectorIdIndex& D88Image::sectorIndexFor(std::int32_t track, std::int64_t start) {
  SectorIdIndex& index = sectorIndexes_[static_cast<std::size_t>(track)];
  if (index.isBuilt()) {
    return index;
  }
  // Counting the records first lets the index take exactly the memory it
  // needs: the walk reads from the file buffer, so the second pass is cheap.
  std::size_t records = 0;
  walkTrack(start, [&](const RecordHeader&, std::int64_t) {
    ++records;
    return true;
  });
  index.reserve(records);
  walkTrack(start, [&](const RecordHeader& header, std::int64_t position) {
    const auto& id = header.id;
    return index.add(SectorIdIndex::key(id.c, id.h, id.r, id.n), position - start, marksOf(header));
  });
  index.finish();
  return index;
}

namespace {

bool isIdByte(std::int32_t value) {
  return value >= 0 && value <= 0xFF;
}

}  // namespace

const SectorMap& D88Image::sectorMapFor(std::int32_t track, std::int64_t start,
                                        const SectorId& id) {
  SectorMap& map = sectorMaps_[static_cast<std::size_t>(track)];
  if (map.isBuilt()) {
    return map;
  }
  map.reset(id.c, id.h, id.n);
  walkTrack(start, [&](const RecordHeader& header, std::int64_t position) {
    if (header.id.c != id.c || header.id.h != id.h || header.id.n != id.n) {
      map.skipRecord();
      return true;
    }
    return map.add(header.id.r, position - start, marksOf(header));
  });
  return map;
}

std::optional<D88Image::FoundRecord> D88Image::walkToSector(std::int64_t start, std::uint32_t key) {
  std::optional<FoundRecord> found;
  walkTrack(start, [&](const RecordHeader& header, std::int64_t position) {
    if (SectorIdIndex::key(header.id.c, header.id.h, header.id.r, header.id.n) != key) {
      return true;
    }
    found = FoundRecord{position, marksOf(header)};
    return false;
  });
  return found;
}

std::optional<D88Image::FoundRecord> D88Image::findRecord(std::int32_t track, std::int32_t c,
                                                          std::int32_t h, std::int32_t r,
                                                          std::int32_t n) {
  const std::optional<std::int64_t> start = trackStart(track);
  // Stored IDs are bytes: other values name no sector.
  if (!start || !isIdByte(c) || !isIdByte(h) || !isIdByte(r) || !isIdByte(n)) {
    return std::nullopt;
  }
  const SectorId id{static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                    static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(n)};
  const std::uint32_t key = SectorIdIndex::key(id.c, id.h, id.r, id.n);
  const SectorMap& map = sectorMapFor(track, *start, id);
  std::optional<IndexedRecord> found;
  bool complete = true;
  if (map.covers(id.c, id.h, id.n)) {
    found = map.find(id.r);
    complete = map.isComplete();
  } else {
    const SectorIdIndex& index = sectorIndexFor(track, *start);
    found = index.find(key);
    complete = index.isComplete();
  }
  if (found) {
    return FoundRecord{*start + found->relativeOffset, found->marks};
  }
  // Records too far from the track's start for the index: walk to them.
  return complete ? std::nullopt : walkToSector(*start, key);
}

std::optional<LocatedRecord> D88Image::locateRecord(std::int32_t track, std::int32_t c,
                                                    std::int32_t h, std::int32_t r,
                                                    std::int32_t n) {
  const std::optional<FoundRecord> found = findRecord(track, c, h, r, n);
  if (!found) {
    return std::nullopt;
  }
  return LocatedRecord{found->position, found->marks.dataLength, found->marks.status,
                       found->marks.deletedMark};
}

std::optional<SectorData> D88Image::locateSector(std::int32_t track, std::int32_t c, std::int32_t h,
                                                 std::int32_t r, std::int32_t n) {
  // The index holds each record's data length: a sector is found without
  // reading its header again, which on a disk whose tables send thousands
  // of chains from track to track would refill the file's blocks each time.
  const std::optional<FoundRecord> record = findRecord(track, c, h, r, n);
  if (!record) {
    return std::nullopt;
  }
  // The bytes the file holds: a record cut short by the end of the file
  // has fewer than its stored length.
  const std::int64_t data = record->position + kSectorHeaderSize;
  const std::int64_t inFile = std::max<std::int64_t>(file_.size() - data, 0);
  return SectorData{
      data, static_cast<std::int32_t>(std::min<std::int64_t>(record->marks.dataLength, inFile))};
}

std::int32_t D88Image::readSector(std::int32_t track, std::int32_t c, std::int32_t h,
                                  std::int32_t r, std::int32_t n, std::uint8_t* dest,
                                  std::int32_t len) {
  if (len <= 0) {
    return 0;
  }
  const std::optional<SectorData> found = locateSector(track, c, h, r, n);
  if (!found) {
    return 0;
  }
  const std::int32_t wanted = std::min(found->length, len);
  return static_cast<std::int32_t>(file_.readAt(found->position, dest, wanted));
}

template <typename Step>
std::int32_t D88Image::walkChain(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                                 std::int32_t n, std::int32_t len, Step&& step) {
  // A size code whose sector size does not fit in 32 bits names no sector we can read.
  if (n < 0 || n > kMaxSizeCode) {
    return 0;
  }
  std::int32_t size = kBaseSectorSize << n;
  std::int32_t done = 0;
  while (done < len) {
    size = std::min(size, len - done);
    if (step(track, c, h, r, done, size) < size) {
      return done;
    }
    done += size;
    if (r == lastSector_) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = firstSector_;
    } else {
      ++r;
    }
  }
  return done;
}

std::int32_t D88Image::readSectors(std::int32_t track, std::int32_t c, std::int32_t h,
                                   std::int32_t r, std::int32_t n, std::uint8_t* dest,
                                   std::int32_t len) {
  return walkChain(
      track, c, h, r, n, len,
      [&](std::int32_t t, std::int32_t sc, std::int32_t sh, std::int32_t sr, std::int32_t done,
          std::int32_t size) { return readSector(t, sc, sh, sr, n, dest + done, size); });
}

std::int32_t D88Image::chainSteps(std::int32_t track, std::int32_t c, std::int32_t h,
                                  std::int32_t r, std::int32_t n, std::int32_t len, StepsTo to,
                                  std::vector<ChainStep>& steps) {
  steps.clear();
  return walkChain(
      track, c, h, r, n, len,
      [&](std::int32_t t, std::int32_t sc, std::int32_t sh, std::int32_t sr, std::int32_t done,
          std::int32_t size) {
        const std::optional<SectorData> found = locateSector(t, sc, sh, sr, n);
        const std::int32_t length = found ? std::min(found->length, size) : 0;
        steps.push_back(ChainStep{{t, sc, sh, sr}, done, found ? found->position : -1, length});
        // To the chain's end every step counts as whole, so that the walk
        // goes on past a break.
        return to == StepsTo::ChainEnd ? size : length;
      });
}

std::int32_t D88Image::chainLength(std::int32_t track, std::int32_t c, std::int32_t h,
                                   std::int32_t r, std::int32_t n, std::int32_t len) {
  return walkChain(track, c, h, r, n, len,
                   [&](std::int32_t t, std::int32_t sc, std::int32_t sh, std::int32_t sr,
                       std::int32_t, std::int32_t size) {
                     const std::optional<SectorData> found = locateSector(t, sc, sh, sr, n);
                     return found ? std::min(found->length, size) : 0;
                   });
}

std::int32_t D88Image::readSectorIds(std::int32_t track, std::uint8_t* out, std::int32_t len) {
  const std::optional<std::int64_t> start = trackStart(track);
  std::int32_t count = 0;
  if (!start || len <= 0) {
    return 0;
  }
  walkTrack(*start, [&](const RecordHeader& header, std::int64_t) {
    out[count + 0] = header.id.c;
    out[count + 1] = header.id.h;
    out[count + 2] = header.id.r;
    out[count + 3] = header.id.n;
    count += kSectorIdSize;
    return count < len;
  });
  return count;
}

std::int32_t D88Image::readSectorRecords(std::int32_t track, SectorRecordInfo* out,
                                         std::int32_t maxRecords, WalkEnd* end) {
  const std::optional<std::int64_t> start = trackStart(track);
  std::int32_t count = 0;
  WalkEnd ended = WalkEnd::NoTrack;
  if (start && maxRecords > 0) {
    ended = walkTrack(*start, [&](const RecordHeader& header, std::int64_t) {
      out[count] = header;
      ++count;
      return count < maxRecords;
    });
  }
  if (end != nullptr) {
    *end = ended;
  }
  return count;
}

void D88Image::readRecordPositions(std::int32_t track, std::vector<std::int64_t>& positions) {
  positions.clear();
  const std::optional<std::int64_t> start = trackStart(track);
  if (!start) {
    return;
  }
  const SectorMap& map = sectorMaps_[static_cast<std::size_t>(track)];
  if (map.isBuilt() && map.holdsEveryRecord()) {
    map.offsetsInOrder(positions);
    for (std::int64_t& position : positions) {
      position += *start;
    }
    return;
  }
  walkTrack(*start, [&](const RecordHeader&, std::int64_t position) {
    positions.push_back(position);
    return true;
  });
}

}  // namespace d88
