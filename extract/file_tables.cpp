#include "file_tables.h"

#include <algorithm>
#include <cstdio>

#include "extract_file.h"
#include "messages.h"

TableBuffer firstTable{};
TableBuffer secondTable{};

namespace {

constexpr std::size_t kProbeSize = 6;  // the first two entries of a table
using ProbeValue = std::array<std::uint8_t, kProbeSize>;
static_assert(kProbeSize == 2 * kEntrySize, "a probe compares two entries");

// Where a kind of disk keeps its tables (side 0, sectors 1 to 16), and how
// each table begins.
struct TableProbe {
  std::int32_t firstTrack;
  std::int32_t secondTrack;
  ProbeValue firstBegins;
  ProbeValue secondBegins;
};

constexpr TableProbe kSystemProbe{
    12, 30, {0x06, 0x02, 0xA4, 0x06, 0x0B, 0xE7}, {0x0F, 0x02, 0xA4, 0x90, 0x0E, 0x77}};
constexpr TableProbe kDataProbe{
    0, 66, {0x00, 0x02, 0xA4, 0x00, 0x0B, 0xA9}, {0x21, 0x02, 0xA4, 0x21, 0x03, 0x00}};

// The fixed files of a system disk.
struct FixedFile {
  const char* name;
  std::int32_t track;
  std::int32_t size;
};
constexpr FixedFile kBios{"BIOS", 5, 0x2500};
constexpr FixedFile kDriver{"DRIVER", 16, 0x2823};

constexpr std::int32_t kFirstSector = 1;
constexpr std::int32_t kSizeCode = 1;  // 256-byte sectors
constexpr std::int32_t kSelectedFirst = 0x117;
constexpr std::int32_t kSelectedLast = 0x11D;

// Reads a whole side-0 track into a table buffer. A short read leaves the
// bytes it did not reach as they were.
void readTable(d88::D88Image& image, std::int32_t track, TableBuffer& table) {
  image.readSectors(track, track / 2, 0, kFirstSector, kSizeCode, table.data(), kTableSize);
}

bool begins(const TableBuffer& table, const ProbeValue& value) {
  return std::equal(value.begin(), value.end(), table.begin());
}

bool probe(d88::D88Image& image, const TableProbe& kind, TableBuffer& first, TableBuffer& second) {
  readTable(image, kind.firstTrack, first);
  readTable(image, kind.secondTrack, second);
  return begins(first, kind.firstBegins) && begins(second, kind.secondBegins);
}

void extractFixedFile(const FixedFile& file) {
  // The kind is settled by the tables; a missing fixed file changes nothing.
  (void)extractFile(file.name, file.track, file.track / 2, file.track % 2, kFirstSector, kSizeCode,
                    0, file.size);
}

void extractTableFile(DiskKind kind, const TableFile& file) {
  const TableFileName name = tableFileName(kind, file.number);
  const std::int32_t track = file.start.trackIndex();
  (void)extractFile(name.data(), track, track / 2, track % 2, file.start.sectorNumber(), kSizeCode,
                    file.start.offset, file.size);
}

}  // namespace

FileTableEntry entryAt(const TableBuffer& table, std::int32_t index) {
  const auto at = static_cast<std::size_t>(index) * kEntrySize;
  return FileTableEntry{table.at(at), table.at(at + 1), table.at(at + 2)};
}

std::int32_t sectorAddress(const FileTableEntry& entry) {
  return entry.trackIndex() * kTableSize + (entry.sectorNumber() - 1) * kSectorSize + entry.offset;
}

DiskKind recogniseDisk(d88::D88Image& image, TableBuffer& first, TableBuffer& second) {
  first.fill(0);
  second.fill(0);
  if (probe(image, kSystemProbe, first, second)) {
    return DiskKind::System;
  }
  if (probe(image, kDataProbe, first, second)) {
    return DiskKind::Data;
  }
  return DiskKind::Unknown;
}

bool isSelected(DiskKind kind, std::int32_t number, bool extractAll) {
  return extractAll ||
         (kind == DiskKind::System && number >= kSelectedFirst && number <= kSelectedLast);
}

TableFileName tableFileName(DiskKind kind, std::int32_t number) {
  TableFileName name{};
  std::snprintf(name.data(), name.size(), "%c%03X", static_cast<char>(kind),
                static_cast<unsigned>(number));
  return name;
}

void extractDisk(bool extractAll) {
  const DiskKind kind = recogniseDisk(diskImage, firstTable, secondTable);
  if (kind == DiskKind::System) {
    std::fputs(messages::kSystemDiskRecognised, stdout);
    extractFixedFile(kBios);
    extractFixedFile(kDriver);
  } else if (kind == DiskKind::Data) {
    std::fputs(messages::kDataDiskRecognised, stdout);
  }
  walkFileTables(firstTable, secondTable, [&](const TableFile& file) {
    if (isSelected(kind, file.number, extractAll)) {
      extractTableFile(kind, file);
    }
  });
}
