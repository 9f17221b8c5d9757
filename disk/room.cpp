#include "room.h"

#include <algorithm>
#include <array>

#include "string_format.h"

using d88text::format;

namespace {

constexpr std::int32_t kPlainSizeCode = kSizeCode;
constexpr std::uint8_t kPlainStatus = 0x00;
constexpr std::uint8_t kNoDeletedMark = 0x00;
static_assert(kSectorSize == d88::kBaseSectorSize << kPlainSizeCode, "N = 1 holds 256 bytes");

// Records a walk can reach: sector counts are 16-bit.
constexpr std::size_t kMostRecords = 0x10000;

const char* tableWord(std::int32_t table) {
  return table == 0 ? "first" : "second";
}

}  // namespace

LinearSector linearSector(d88::D88Image& image, std::int32_t address) {
  LinearSector sector;
  const AddressPlace place = placeOfAddress(address);
  sector.track = place.track;
  sector.r = place.r;
  // Past the track table there is no track to find.
  if (address < 0 || address >= kLinearDiskSize) {
    return sector;
  }
  const std::optional<d88::SectorRecordInfo> record = image.locateRecord(
      sector.track, sector.track / 2, sector.track % 2, sector.r, kPlainSizeCode);
  if (!record) {
    return sector;
  }
  sector.position = record->position + d88::kSectorHeaderSize;
  // A record cut short by the end of the file holds fewer bytes than it says.
  const bool whole = sector.position + kSectorSize <= image.fileSize();
  sector.fitness = whole && record->dataLength == kSectorSize && record->status == kPlainStatus &&
                           record->deletedMark == kNoDeletedMark
                       ? SectorFitness::Plain
                       : SectorFitness::NotPlain;
  return sector;
}

std::string unfitSector(const LinearSector& sector) {
  if (sector.track > kLastEntryTrack) {
    return format("the disk ends after track %02X", static_cast<unsigned>(kLastEntryTrack));
  }
  if (sector.fitness == SectorFitness::Missing) {
    return format("track %02X has no sector %02X", static_cast<unsigned>(sector.track),
                  static_cast<unsigned>(sector.r));
  }
  return format("track %02X sector %02X is not a plain 256-byte sector",
                static_cast<unsigned>(sector.track), static_cast<unsigned>(sector.r));
}

std::optional<std::vector<FileSpan>> linearSpans(d88::D88Image& image, std::int32_t address,
                                                 std::int32_t length, LinearSector* failed) {
  std::vector<FileSpan> spans;
  const std::int32_t end = address + length;
  // Sector by sector: each step ends at a sector's end or the range's.
  for (std::int32_t at = address; at < end;) {
    const LinearSector sector = linearSector(image, at);
    if (sector.fitness != SectorFitness::Plain) {
      if (failed != nullptr) {
        *failed = sector;
      }
      return std::nullopt;
    }
    const std::int32_t inSector = at % kSectorSize;
    const std::int32_t count = std::min(kSectorSize - inSector, end - at);
    spans.push_back({sector.position + inSector, count});
    at += count;
  }
  return spans;
}

void DiskUsage::add(const std::vector<FileSpan>& spans, ByteUserKind kind, std::int32_t table,
                    const std::string& name) {
  if (names_.empty() || names_.back() != name) {
    names_.push_back(name);
  }
  const auto index = static_cast<std::uint16_t>(names_.size() - 1);
  for (const FileSpan& span : spans) {
    users_.push_back({span.position, static_cast<std::int32_t>(span.length), index, kind,
                      static_cast<std::int8_t>(table)});
    longest_ = std::max(longest_, span.length);
  }
}

void DiskUsage::collect(d88::D88Image& image, DiskKind kind, const TableBuffers& tables) {
  users_.clear();
  names_.clear();
  longest_ = 0;
  for (std::int32_t disk = 0; disk < image.diskCount(); ++disk) {
    add({{image.diskOffset(disk), d88::kHeaderSize}}, ByteUserKind::DiskHeader, -1,
        format("the header of disk %d", static_cast<int>(disk)));
  }
  std::vector<d88::SectorRecordInfo> records(kSectorsPerTrack);
  std::vector<FileSpan> spans;
  for (std::int32_t track = 0; track < d88::kTrackCount; ++track) {
    if (!image.hasTrack(track)) {
      continue;
    }
    // A walk stopped for want of room is read again with room for all.
    d88::WalkEnd end = d88::WalkEnd::Stopped;
    auto room = static_cast<std::int32_t>(records.size());
    std::int32_t count = image.readSectorRecords(track, records.data(), room, &end);
    if (end == d88::WalkEnd::Stopped && count == room) {
      records.resize(kMostRecords);
      room = static_cast<std::int32_t>(records.size());
      count = image.readSectorRecords(track, records.data(), room, &end);
    }
    spans.clear();
    for (std::int32_t i = 0; i < count; ++i) {
      spans.push_back({records[static_cast<std::size_t>(i)].position, d88::kSectorHeaderSize});
    }
    add(spans, ByteUserKind::RecordHeader, -1, "a sector record header");
    // The room for a long walk is given back at once.
    if (records.size() > static_cast<std::size_t>(kSectorsPerTrack)) {
      records.resize(kSectorsPerTrack);
      records.shrink_to_fit();
    }
  }
  const DiskLayout& layout = layoutOf(kind);
  const auto chainSpans = [&](const DiskFile& file) {
    spans.clear();
    (void)locateFileChain(image, file, steps_);
    for (const d88::ChainStep& step : steps_) {
      const std::int64_t from = std::max(step.chainOffset, file.offset);
      const std::int64_t to = std::int64_t{step.chainOffset} + step.length;
      if (step.position >= 0 && from < to) {
        spans.push_back({step.position + (from - step.chainOffset), to - from});
      }
    }
    return spans;
  };
  for (std::size_t i = 0; i < layout.fixed.count; ++i) {
    const DiskFile file = fixedDiskFile(layout, layout.fixed.files[i]);
    add(chainSpans(file), ByteUserKind::FixedFile, -1, file.name.data());
  }
  for (std::int32_t table = 0; table < 2; ++table) {
    const TableBuffer& bytes = table == 0 ? tables.first : tables.second;
    walkTable(
        bytes, table == 0 ? kFirstTableNumber : kSecondTableNumber,
        [&](const TableFile& file) {
          const DiskFile disk = tableDiskFile(layout, file);
          add(chainSpans(disk), ByteUserKind::TableFile, table, disk.name.data());
        },
        layout.geometry);
    const TableShape shape = shapeOfTable(image, layout, table, bytes);
    spans.clear();
    for (const d88::ChainStep& step : shape.steps) {
      const std::int32_t length = std::min(step.length, shape.entryBytes - step.chainOffset);
      if (step.position >= 0 && length > 0) {
        spans.push_back({step.position, length});
      }
    }
    add(spans, ByteUserKind::TableEntries, table,
        format("the %s table's entries", tableWord(table)));
  }
  std::stable_sort(users_.begin(), users_.end(),
                   [](const ByteUser& a, const ByteUser& b) { return a.position < b.position; });
}

TableShape shapeOfTable(d88::D88Image& image, const DiskLayout& layout, std::int32_t table,
                        const TableBuffer& bytes) {
  TableShape shape;
  const TablePlace& place = table == 0 ? layout.firstTable : layout.secondTable;
  shape.track = place.track;
  shape.firstNumber = table == 0 ? kFirstTableNumber : kSecondTableNumber;
  const TrackGeometry& geometry = layout.geometry;
  shape.whole =
      image.locateSectors(place.track, place.track / 2, 0, geometry.firstSector, geometry.sizeCode,
                          geometry.trackSize(), shape.steps) == geometry.trackSize();
  walkTable(
      bytes, shape.firstNumber, [&](const TableFile&) { ++shape.fileCount; }, geometry);
  // The entries and the end mark after them; a full track has no end mark.
  shape.entryBytes = std::min((shape.fileCount + 2) * kEntrySize, kEntriesPerTable * kEntrySize);
  return shape;
}

TableRoom measureRoom(d88::D88Image& image, const DiskUsage& usage, std::int32_t end) {
  TableRoom room;
  room.measured = true;
  room.end = end;
  std::array<std::uint8_t, kSectorSize> bytes{};
  bool valueKnown = false;
  // A table whose end lies outside the linear order has no room at all.
  for (std::int32_t at = std::max(end, 0); room.stop.empty();) {
    const LinearSector sector = linearSector(image, at);
    if (sector.fitness != SectorFitness::Plain) {
      room.stop = unfitSector(sector);
      break;
    }
    const std::int32_t inSector = at % kSectorSize;
    const std::int32_t count = kSectorSize - inSector;
    const std::string where = format("track %02X sector %02X ", static_cast<unsigned>(sector.track),
                                     static_cast<unsigned>(sector.r));
    const ByteUser* user =
        usage.userOf(sector.position + inSector, count, [](const ByteUser&) { return true; });
    if (user != nullptr) {
      room.stop = where + "holds bytes of " + usage.nameOf(*user);
      break;
    }
    if (image.readFileBytes(sector.position + inSector, bytes.data(), count) != count) {
      room.stop = unfitSector({SectorFitness::NotPlain, sector.track, sector.r, 0});
      break;
    }
    const std::uint8_t value = valueKnown ? room.blank : bytes[0];
    if (!std::all_of(bytes.begin(), bytes.begin() + count,
                     [&](std::uint8_t b) { return b == value; })) {
      room.stop = where + "is not blank";
      break;
    }
    room.blank = value;
    valueKnown = true;
    room.room += count;
    at += count;
  }
  return room;
}

std::vector<TableRoom> measureTableRooms(d88::D88Image& image, DiskKind kind,
                                         const TableBuffers& tables) {
  std::vector<TableRoom> rooms;
  if (kind == DiskKind::Unknown) {
    return rooms;
  }
  const DiskLayout& layout = layoutOf(kind);
  DiskUsage usage;
  usage.collect(image, kind, tables);
  for (std::int32_t table = 0; table < 2; ++table) {
    const TableBuffer& bytes = table == 0 ? tables.first : tables.second;
    const TableShape shape = shapeOfTable(image, layout, table, bytes);
    if (shape.fileCount == 0) {
      rooms.emplace_back();
      continue;
    }
    rooms.push_back(measureRoom(image, usage,
                                sectorAddress(entryAt(bytes, shape.lastEntry()), layout.geometry)));
  }
  return rooms;
}
