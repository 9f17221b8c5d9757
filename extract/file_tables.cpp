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

constexpr std::int32_t kFirstSector = 1;
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

DiskFile fixedDiskFile(const FixedFile& fixed) {
  DiskFile file;
  std::snprintf(file.name.data(), file.name.size(), "%s", fixed.name);
  file.track = fixed.track;
  file.r = kFirstSector;
  file.size = fixed.size;
  file.writtenWithoutAll = true;
  return file;
}

DiskFile tableDiskFile(DiskKind kind, const TableFile& table) {
  DiskFile file;
  file.name = tableFileName(kind, table.number);
  file.track = table.start.trackIndex();
  file.r = table.start.sectorNumber();
  file.offset = table.start.offset;
  file.size = table.size;
  file.writtenWithoutAll = isSelected(kind, table.number, false);
  return file;
}

const char* recognitionMessage(DiskKind kind) {
  switch (kind) {
    case DiskKind::System:
      return messages::kSystemDiskRecognised;
    case DiskKind::Data:
      return messages::kDataDiskRecognised;
    case DiskKind::Unknown:
      break;
  }
  return nullptr;
}

void extractDisk(bool extractAll) {
  const DiskKind kind = recogniseDisk(diskImage, firstTable, secondTable);
  if (const char* message = recognitionMessage(kind)) {
    std::fputs(message, stdout);
  }
  // The kind is settled by the tables: a fixed file that cannot be read
  // changes nothing for the rest.
  forEachDiskFile(kind, firstTable, secondTable, [&](const DiskFile& file) {
    if (extractAll || file.writtenWithoutAll) {
      (void)extractFile(file.name.data(), file.track, file.cylinder(), file.head(), file.r,
                        kSizeCode, file.offset, file.size);
    }
  });
}
