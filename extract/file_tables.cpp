#include "file_tables.h"

#include <algorithm>
#include <cstdio>

#include "extract_file.h"
#include "messages.h"

TableBuffer firstTable{};
TableBuffer secondTable{};

namespace {

constexpr std::int32_t kFirstSector = 1;

// Reads a whole side-0 track into a table buffer. A short read leaves the
// bytes it did not reach as they were.
void readTable(d88::D88Image& image, std::int32_t track, TableBuffer& table) {
  image.readSectors(track, track / 2, 0, kFirstSector, kSizeCode, table.data(), kTableSize);
}

bool begins(const TableBuffer& table, const ProbeValue& value) {
  return std::equal(value.begin(), value.end(), table.begin());
}

bool probe(d88::D88Image& image, const DiskLayout& layout, TableBuffer& first,
           TableBuffer& second) {
  readTable(image, layout.firstTableTrack, first);
  readTable(image, layout.secondTableTrack, second);
  return begins(first, layout.firstBegins) && begins(second, layout.secondBegins);
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
  for (const DiskLayout& layout : kLayouts) {
    if (probe(image, layout, first, second)) {
      return layout.kind;
    }
  }
  return DiskKind::Unknown;
}

const DiskLayout& layoutOf(DiskKind kind) {
  for (const DiskLayout& layout : kLayouts) {
    if (layout.kind == kind) {
      return layout;
    }
  }
  return kUnknownLayout;
}

bool isSelected(DiskKind kind, std::int32_t number, bool extractAll) {
  const DiskLayout& layout = layoutOf(kind);
  return extractAll || (number >= layout.writtenFirst && number <= layout.writtenLast);
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
  return layoutOf(kind).message;
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
