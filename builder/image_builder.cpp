#include "builder/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace d88test {

namespace {

// Disk header and sector record layout, as a D88 file stores them.
constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kNameSize = 16;
constexpr std::size_t kMediaTypeOffset = 0x1B;
constexpr std::size_t kDiskSizeOffset = 0x1C;
constexpr std::size_t kTrackTableOffset = 0x20;
constexpr int kTrackSlots = 164;
constexpr std::size_t kSectorHeaderSize = 16;
constexpr std::size_t kSectorCountOffset = 4;
constexpr std::size_t kDensityOffset = 6;
constexpr std::size_t kDeletedMarkOffset = 7;
constexpr std::size_t kStatusOffset = 8;
constexpr std::size_t kDataLengthOffset = 0x0E;

}  // namespace

void putLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void putLe16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = static_cast<std::uint8_t>(value);
  bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

// ---------------------------------------------------------------------------
// Track

Track& Track::sector(std::uint8_t c, std::uint8_t h, std::uint8_t r, std::uint8_t n, Bytes data) {
  SectorRecord record;
  record.c = c;
  record.h = h;
  record.r = r;
  record.n = n;
  record.data = std::move(data);
  return sector(std::move(record));
}

Track& Track::sector(SectorRecord record) {
  records_.push_back(std::move(record));
  return *this;
}

Track& Track::sectorCount(std::uint16_t count) {
  countForAll_ = count;
  return *this;
}

Bytes Track::bytes() const {
  Bytes out;
  for (const SectorRecord& record : records_) {
    Bytes header(kSectorHeaderSize, 0);
    header[0] = record.c;
    header[1] = record.h;
    header[2] = record.r;
    header[3] = record.n;
    const auto realCount = static_cast<std::uint16_t>(records_.size());
    putLe16(header, kSectorCountOffset,
            record.sectorCount.value_or(countForAll_.value_or(realCount)));
    header[kDensityOffset] = record.density;
    header[kDeletedMarkOffset] = record.deletedMark;
    header[kStatusOffset] = record.status;
    putLe16(header, kDataLengthOffset,
            record.dataLength.value_or(static_cast<std::uint16_t>(record.data.size())));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), record.data.begin(), record.data.end());
  }
  return out;
}

Track Track::formatted(std::uint8_t c, std::uint8_t h, std::uint8_t n, int first, int last,
                       const Bytes& data) {
  const std::size_t sectorSize = std::size_t{128} << n;
  Track track;
  for (int r = first; r <= last; ++r) {
    Bytes sectorData(sectorSize, 0);
    const std::size_t from = static_cast<std::size_t>(r - first) * sectorSize;
    for (std::size_t i = 0; i < sectorSize && from + i < data.size(); ++i) {
      sectorData[i] = data[from + i];
    }
    track.sector(c, h, static_cast<std::uint8_t>(r), n, std::move(sectorData));
  }
  return track;
}

// ---------------------------------------------------------------------------
// Disk

Disk& Disk::name(const std::string& name) {
  name_ = name;
  return *this;
}

Disk& Disk::mediaType(std::uint8_t type) {
  mediaType_ = type;
  return *this;
}

Disk& Disk::track(int index, const Track& track) {
  tracks_[index] = track.bytes();
  return *this;
}

Disk& Disk::trackOffset(int index, std::uint32_t rawOffset) {
  offsetOverrides_[index] = rawOffset;
  return *this;
}

Disk& Disk::sizeField(std::uint32_t rawSize) {
  sizeField_ = rawSize;
  return *this;
}

Disk& Disk::trailer(const Bytes& bytes) {
  trailer_ = bytes;
  return *this;
}

Bytes Disk::build() const {
  Bytes image(kHeaderSize, 0);
  std::copy_n(name_.begin(), std::min(name_.size(), kNameSize), image.begin());
  image[kMediaTypeOffset] = mediaType_;
  for (const auto& [index, bytes] : tracks_) {
    if (index >= 0 && index < kTrackSlots) {
      putLe32(image, kTrackTableOffset + 4 * static_cast<std::size_t>(index),
              static_cast<std::uint32_t>(image.size()));
    }
    image.insert(image.end(), bytes.begin(), bytes.end());
  }
  for (const auto& [index, offset] : offsetOverrides_) {
    putLe32(image, kTrackTableOffset + 4 * static_cast<std::size_t>(index), offset);
  }
  image.insert(image.end(), trailer_.begin(), trailer_.end());
  putLe32(image, kDiskSizeOffset, sizeField_.value_or(static_cast<std::uint32_t>(image.size())));
  return image;
}

// ---------------------------------------------------------------------------
// Files

Bytes concat(const std::vector<Bytes>& images) {
  Bytes out;
  for (const Bytes& image : images) {
    out.insert(out.end(), image.begin(), image.end());
  }
  return out;
}

Bytes truncated(const Bytes& file, std::size_t length) {
  return Bytes(file.begin(),
               file.begin() + static_cast<std::ptrdiff_t>(std::min(length, file.size())));
}

bool writeFile(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  // An empty vector's data() may be null, which fwrite must not see.
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// ---------------------------------------------------------------------------
// Disks whose files are found through fixed file tables

Bytes tableEntry(std::int32_t address) {
  const int track = address / kFixedTableTrackSize;
  const int r = address % kFixedTableTrackSize / kFixedTableSectorSize + 1;
  const int offset = address % kFixedTableSectorSize;
  // Byte 0 holds the cylinder in bits 0-6 and the head in bit 7.
  const int cylinder = track / 2;
  const int head = track % 2;
  return {static_cast<std::uint8_t>(cylinder | (head << 7)), static_cast<std::uint8_t>(r),
          static_cast<std::uint8_t>(offset)};
}

FixedTableDisk::FixedTableDisk(int tracks)
    : tracks_(tracks), bytes_(static_cast<std::size_t>(tracks) * kFixedTableTrackSize, 0) {}

FixedTableDisk& FixedTableDisk::put(std::int32_t address, const Bytes& bytes) {
  if (address < 0 || static_cast<std::size_t>(address) + bytes.size() > bytes_.size()) {
    throw std::out_of_range("FixedTableDisk::put beyond the disk");
  }
  std::copy(bytes.begin(), bytes.end(), bytes_.begin() + address);
  return *this;
}

FixedTableDisk& FixedTableDisk::table(int track, const std::vector<std::int32_t>& entryAddresses) {
  Bytes entries;
  for (std::int32_t entryAddress : entryAddresses) {
    const Bytes entry = tableEntry(entryAddress);
    entries.insert(entries.end(), entry.begin(), entry.end());
  }
  entries.insert(entries.end(), {0, 0, 0});  // end mark
  return put(address(track, 1, 0), entries);
}

FixedTableDisk& FixedTableDisk::drop(int track) {
  dropped_[track] = true;
  replaced_.erase(track);
  return *this;
}

FixedTableDisk& FixedTableDisk::replace(int track, const Track& records) {
  replaced_[track] = records;
  dropped_.erase(track);
  return *this;
}

Bytes FixedTableDisk::contents(std::int32_t address, std::int32_t size) const {
  return Bytes(bytes_.begin() + address, bytes_.begin() + address + size);
}

Disk FixedTableDisk::disk() const {
  Disk disk;
  for (int track = 0; track < tracks_; ++track) {
    if (dropped_.count(track) != 0) {
      continue;
    }
    if (const auto found = replaced_.find(track); found != replaced_.end()) {
      disk.track(track, found->second);
      continue;
    }
    const Bytes data = contents(address(track, 1, 0), kFixedTableTrackSize);
    disk.track(track, Track::formatted(static_cast<std::uint8_t>(track / 2),
                                       static_cast<std::uint8_t>(track % 2), 1, 1,
                                       kFixedTableSectorsPerTrack, data));
  }
  return disk;
}

Bytes textContents(const std::string& name, std::int32_t size) {
  Bytes out;
  char line[64];
  while (out.size() < static_cast<std::size_t>(size)) {
    const int length = std::snprintf(line, sizeof line, "%s byte %05X\n", name.c_str(),
                                     static_cast<unsigned>(out.size()));
    out.insert(out.end(), line, line + length);
  }
  out.resize(static_cast<std::size_t>(size));
  return out;
}

namespace {

// Lays files one after another from the fixed first two entries of a table;
// appends each file to `files` and returns the table's entry addresses.
std::vector<std::int32_t> layTable(FixedTableDisk& disk, char kind, int firstNumber,
                                   std::int32_t entry0, std::int32_t entry1,
                                   const std::vector<std::int32_t>& sizes,
                                   std::vector<FixedTableFile>& files) {
  std::vector<std::int32_t> entries{entry0, entry1};
  std::vector<std::int32_t> fileSizes{entry1 - entry0};
  fileSizes.insert(fileSizes.end(), sizes.begin(), sizes.end());
  for (std::int32_t size : sizes) {
    entries.push_back(entries.back() + size);
  }
  for (std::size_t i = 0; i < fileSizes.size(); ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%c%03X", kind, firstNumber + static_cast<int>(i));
    disk.put(entries[i], textContents(name, fileSizes[i]));
    files.push_back({name, entries[i], fileSizes[i]});
  }
  return entries;
}

}  // namespace

FixedTableLayout systemDisk(const std::vector<std::int32_t>& firstSizes,
                            const std::vector<std::int32_t>& secondSizes, int tracks) {
  FixedTableLayout layout{FixedTableDisk(tracks), {}};
  layout.disk.put(kBiosAddress, textContents("BIOS", kBiosSize));
  layout.disk.put(kDriverAddress, textContents("DRIVER", kDriverSize));
  layout.files.push_back({"BIOS", kBiosAddress, kBiosSize});
  layout.files.push_back({"DRIVER", kDriverAddress, kDriverSize});
  const auto first = layTable(layout.disk, 'S', 0x000, kSystemFirstTable0, kSystemFirstTable1,
                              firstSizes, layout.files);
  const auto second = layTable(layout.disk, 'S', 0x100, kSystemSecondTable0, kSystemSecondTable1,
                               secondSizes, layout.files);
  layout.disk.table(12, first).table(30, second);
  return layout;
}

FixedTableLayout dataDisk(const std::vector<std::int32_t>& firstSizes,
                          const std::vector<std::int32_t>& secondSizes) {
  FixedTableLayout layout;
  const auto first = layTable(layout.disk, 'D', 0x000, kDataFirstTable0, kDataFirstTable1,
                              firstSizes, layout.files);
  const auto second = layTable(layout.disk, 'D', 0x100, kDataSecondTable0, kDataSecondTable1,
                               secondSizes, layout.files);
  layout.disk.table(0, first).table(66, second);
  return layout;
}

namespace {

constexpr int kCraftedEntries = 4096 / 3;        // a table filled to its last whole entry
constexpr std::int32_t kExtractLimit = 0x50000;  // largest offset + size the tool reads

// Writes a table's entries from the start of its track; a full table has no
// room for an end mark, a shorter one is followed by the track's zeros.
void fillTable(FixedTableDisk& disk, int track, const std::vector<std::int32_t>& addresses) {
  Bytes entries;
  for (std::int32_t entryAddress : addresses) {
    const Bytes entry = tableEntry(entryAddress);
    entries.insert(entries.end(), entry.begin(), entry.end());
  }
  disk.put(address(track, 1, 0), entries);
}

// The entries of a crafted table: the data disk's two fixed ones, then
// `count` - 2 files of `step` bytes that cycle through tracks 2 and 3 from
// `phase` on, each chain crossing sectors and, now and then, the change of side.
std::vector<std::int32_t> craftedEntries(std::int32_t entry0, std::int32_t entry1, int count,
                                         std::int32_t phase, std::int32_t step) {
  std::vector<std::int32_t> entries{entry0, entry1};
  for (int k = 2; k < count; ++k) {
    entries.push_back(address(2, 1, 0) + (phase + step * (k - 2)) % (2 * kFixedTableTrackSize));
  }
  return entries;
}

// The files the tool writes for one table: positive sizes within its buffer.
void craftedFiles(const std::vector<std::int32_t>& entries, int firstNumber,
                  std::vector<FixedTableFile>& files) {
  for (std::size_t k = 0; k + 1 < entries.size(); ++k) {
    const std::int32_t size = entries[k + 1] - entries[k];
    const std::int32_t offset = entries[k] % kFixedTableSectorSize;
    if (size > 0 && offset + size <= kExtractLimit) {
      char name[16];
      std::snprintf(name, sizeof name, "D%03X", firstNumber + static_cast<int>(k));
      files.push_back({name, entries[k], size});
    }
  }
}

// Junk records first, then the track's real sectors; every record gives the
// track's true record count, so the walk ends after the last real sector.
Track craftedTrack(const FixedTableDisk& disk, int track, int junk) {
  Track records;
  for (int k = 0; k < junk; ++k) {
    records.sector(0xEE, static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8), 2, {});
  }
  for (int r = 1; r <= kFixedTableSectorsPerTrack; ++r) {
    records.sector(static_cast<std::uint8_t>(track / 2), static_cast<std::uint8_t>(track % 2),
                   static_cast<std::uint8_t>(r), 1,
                   disk.contents(address(track, r, 0), kFixedTableSectorSize));
  }
  return records;
}

}  // namespace

CraftedLayout craftedDisk(int junkPerTrack) {
  CraftedLayout layout;
  for (int track = 2; track <= 3; ++track) {
    layout.disk.put(address(track, 1, 0),
                    textContents(track == 2 ? "SIDE0" : "SIDE1", kFixedTableTrackSize));
  }
  // The first table ends (zeros follow) before its numbers reach the second's.
  const auto first = craftedEntries(kDataFirstTable0, kDataFirstTable1, 0x100, 0, 5000);
  const auto second =
      craftedEntries(kDataSecondTable0, kDataSecondTable1, kCraftedEntries, 100, 4700);
  fillTable(layout.disk, 0, first);
  fillTable(layout.disk, 66, second);
  craftedFiles(first, 0x000, layout.files);
  craftedFiles(second, 0x100, layout.files);
  layout.disk.replace(2, craftedTrack(layout.disk, 2, junkPerTrack));
  layout.disk.replace(3, craftedTrack(layout.disk, 3, junkPerTrack));
  // Only the tracks the files touch are stored.
  for (int track = 0; track < kFixedTableTracks; ++track) {
    if (track > 4 && track != 66) {
      layout.disk.drop(track);
    }
  }
  return layout;
}

FixedTableLayout damagedFilesDisk() {
  FixedTableLayout data = dataDisk({2000}, {});
  const std::int32_t broken = address(10, 1, 0x10);
  data.disk.table(0, {kDataFirstTable0, kDataFirstTable1, broken, broken + 1900, address(2, 1, 0),
                      address(200, 1, 0), address(200, 1, 0x10), address(4, 1, 0), address(4, 1, 0),
                      address(200, 1, 0x10), address(200, 1, 0x10)});
  data.disk.replace(10, Track().sector(5, 0, 1, 1, Bytes(256, 1)));
  return data;
}

}  // namespace d88test
