#include "disk/file_tables.h"

#include <algorithm>
#include <cstdio>

namespace disk {

namespace {

// Reads a whole side-0 track into a table buffer. A short read leaves the
// bytes it did not reach as they were.
void readTable(d88::D88Image& image, const TrackGeometry& geometry, std::int32_t track,
               TableBuffer& table) {
  image.readSectors(track, d88::cylinderOfSlot(track), 0, geometry.firstSector, geometry.sizeCode,
                    table.data(), geometry.trackSize());
}

bool begins(const TableBuffer& table, const ProbeValue& value) {
  return std::equal(value.begin(), value.end(), table.begin());
}

void useGeometry(d88::D88Image& image, const TrackGeometry& geometry) {
  image.setSectorRange(geometry.firstSector, geometry.lastSector);
}

bool probe(d88::D88Image& image, const DiskLayout& layout, TableBuffer& first,
           TableBuffer& second) {
  useGeometry(image, layout.geometry);
  readTable(image, layout.geometry, layout.tables[0].track, first);
  readTable(image, layout.geometry, layout.tables[1].track, second);
  return begins(first, layout.tables[0].begins) && begins(second, layout.tables[1].begins);
}

}  // namespace

FileTableEntry entryAt(const TableBuffer& table, std::int32_t index) {
  const auto at = static_cast<std::size_t>(index) * kEntrySize;
  return FileTableEntry{table.at(at), table.at(at + 1), table.at(at + 2)};
}

std::int32_t sectorAddress(const FileTableEntry& entry, const TrackGeometry& geometry) {
  return entry.trackIndex() * geometry.trackSize() +
         (entry.sectorNumber() - geometry.firstSector) * geometry.sectorSize() + entry.offset;
}

FileTableEntry entryForAddress(std::int32_t address, const FileTableEntry& previous) {
  const AddressPlace place = placeOfAddress(address);
  const std::int32_t track = place.track;
  const std::int32_t r = place.r;
  // Byte 0 holds C in bits 0-6 and H in bit 7: rotated left by one bit, the
  // track index 2C + H.
  const auto position =
      static_cast<std::uint8_t>(d88::cylinderOfSlot(track) | (d88::headOfSlot(track) << 7));
  const auto sector = static_cast<std::uint8_t>((previous.sector & ~kSectorNumberMask) | r);
  return FileTableEntry{position, sector, static_cast<std::uint8_t>(place.offset)};
}

DiskKind recogniseDisk(d88::D88Image& image, TableBuffer& first, TableBuffer& second) {
  first.fill(0);
  second.fill(0);
  for (const DiskLayout& layout : kLayouts) {
    if (probe(image, layout, first, second)) {
      return layout.kind;
    }
  }
  useGeometry(image, kUnknownLayout.geometry);
  return DiskKind::Unknown;
}

bool selectDisk(d88::D88Image& image, std::int32_t index, DiskKind kind) {
  const bool selected = image.selectDisk(index);
  useGeometry(image, layoutOf(kind).geometry);
  return selected;
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
  return extractAll || layoutOf(kind).written.holds(number);
}

TableFileName tableFileName(DiskKind kind, std::int32_t number) {
  TableFileName name{};
  std::snprintf(name.data(), name.size(), "%c%03X", static_cast<char>(kind),
                static_cast<unsigned>(number));
  return name;
}

DiskFolderName diskFolderName(std::int32_t index) {
  DiskFolderName name{};
  std::snprintf(name.data(), name.size(), "%03d", static_cast<int>(index));
  return name;
}

bool isDiskFolderName(const std::string& name) {
  return name.size() == 3 &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

DiskFile fixedDiskFile(const DiskLayout& layout, const FixedFile& fixed) {
  DiskFile file;
  std::snprintf(file.name.data(), file.name.size(), "%s", fixed.name);
  file.track = fixed.track;
  file.r = layout.geometry.firstSector;
  file.n = layout.geometry.sizeCode;
  file.size = fixed.size;
  file.writtenWithoutAll = true;
  return file;
}

DiskFile tableDiskFile(const DiskLayout& layout, const TableFile& table) {
  DiskFile file;
  file.name = tableFileName(layout.kind, table.number);
  file.track = table.start.trackIndex();
  file.r = table.start.sectorNumber();
  file.n = layout.geometry.sizeCode;
  file.offset = table.start.offset;
  file.size = table.size;
  file.writtenWithoutAll = isSelected(layout.kind, table.number, false);
  file.table = table.table;
  file.entry = table.index;
  return file;
}

const char* recognitionMessage(DiskKind kind) {
  return layoutOf(kind).announcement.message;
}

}  // namespace disk
