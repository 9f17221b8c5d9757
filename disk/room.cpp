#include "disk/room.h"

#include <algorithm>
#include <array>

namespace disk {

namespace {

constexpr std::int32_t kPlainSizeCode = kSizeCode;
constexpr std::uint8_t kPlainStatus = 0x00;
constexpr std::uint8_t kNoDeletedMark = 0x00;
static_assert(kSectorSize == d88::kBaseSectorSize << kPlainSizeCode, "N = 1 holds 256 bytes");

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
  const std::optional<d88::LocatedRecord> record =
      image.locateRecord(sector.track, d88::cylinderOfSlot(sector.track),
                         d88::headOfSlot(sector.track), sector.r, kPlainSizeCode);
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

RoomReason unfitSector(const LinearSector& sector) {
  RoomReason reason;
  reason.code = sector.track > kLastEntryTrack             ? RoomReasonCode::DiskEnds
                : sector.fitness == SectorFitness::Missing ? RoomReasonCode::NoSector
                                                           : RoomReasonCode::NotPlainSector;
  reason.track = sector.track;
  reason.r = sector.r;
  return reason;
}

namespace {

// The spans of a range, its sectors looked up by `lookup`.
template <typename Lookup>
std::optional<std::vector<FileSpan>> spansOf(std::int32_t address, std::int32_t length,
                                             LinearSector* failed, Lookup&& lookup) {
  std::vector<FileSpan> spans;
  const std::int32_t end = address + length;
  // Sector by sector: each step ends at a sector's end or the range's.
  for (std::int32_t at = address; at < end;) {
    const LinearSector sector = lookup(at);
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

}  // namespace

std::optional<std::vector<FileSpan>> linearSpans(d88::D88Image& image, std::int32_t address,
                                                 std::int32_t length, LinearSector* failed) {
  return spansOf(address, length, failed, [&](std::int32_t at) { return linearSector(image, at); });
}

namespace {

// What a position of LinearSectors stands for when it is none.
constexpr std::int64_t kUnknown = -1;
constexpr std::int64_t kMissing = -2;
// A sector that is not plain, of data at position p, is kNotPlain - p.
constexpr std::int64_t kNotPlain = -3;

}  // namespace

LinearSector LinearSectors::at(d88::D88Image& image, std::int32_t address) {
  if (address < 0 || address >= kLinearDiskSize) {
    return linearSector(image, address);
  }
  const auto index = static_cast<std::size_t>(address / kSectorSize);
  if (positions_.empty()) {
    positions_.assign(static_cast<std::size_t>(kLinearDiskSize / kSectorSize), kUnknown);
  }
  std::int64_t& known = positions_[index];
  if (known == kUnknown) {
    const LinearSector sector = linearSector(image, address);
    known = sector.fitness == SectorFitness::Plain     ? sector.position
            : sector.fitness == SectorFitness::Missing ? kMissing
                                                       : kNotPlain - sector.position;
    return sector;
  }
  const AddressPlace place = placeOfAddress(address);
  LinearSector sector;
  sector.track = place.track;
  sector.r = place.r;
  if (known >= 0) {
    sector.fitness = SectorFitness::Plain;
    sector.position = known;
  } else if (known <= kNotPlain) {
    sector.fitness = SectorFitness::NotPlain;
    sector.position = kNotPlain - known;
  }
  return sector;
}

std::optional<std::vector<FileSpan>> LinearSectors::spans(d88::D88Image& image,
                                                          std::int32_t address, std::int32_t length,
                                                          LinearSector* failed) {
  return spansOf(address, length, failed, [&](std::int32_t at) { return this->at(image, at); });
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
  begin(image);
  std::vector<std::int64_t> positions;
  for (std::int32_t track = 0; track < d88::kTrackCount; ++track) {
    image.readRecordPositions(track, positions);
    addRecordHeaders(positions);
  }
  finish(image, kind, tables);
}

void DiskUsage::begin(d88::D88Image& image) {
  linear_.reset();
  users_.clear();
  names_.clear();
  longest_ = 0;
  // A disk header's user names its disk, not a name.
  for (std::int32_t disk = 0; disk < image.diskCount(); ++disk) {
    users_.push_back({image.diskOffset(disk), d88::kHeaderSize, static_cast<std::uint16_t>(disk),
                      ByteUserKind::DiskHeader, -1});
    longest_ = std::max<std::int64_t>(longest_, d88::kHeaderSize);
  }
}

void DiskUsage::addRecords(const std::vector<d88::SectorRecordInfo>& records) {
  std::vector<std::int64_t> positions;
  positions.reserve(records.size());
  for (const d88::SectorRecordInfo& record : records) {
    positions.push_back(record.position);
  }
  addRecordHeaders(positions);
}

void DiskUsage::addRecordHeaders(const std::vector<std::int64_t>& positions) {
  std::vector<FileSpan> spans;
  spans.reserve(positions.size());
  for (const std::int64_t position : positions) {
    spans.push_back({position, d88::kSectorHeaderSize});
  }
  add(spans, ByteUserKind::RecordHeader, -1, std::string());
}

void DiskUsage::finish(d88::D88Image& image, DiskKind kind, const TableBuffers& tables) {
  std::vector<FileSpan> spans;
  const DiskLayout& layout = layoutOf(kind);
  for (std::size_t i = 0; i < layout.fixed.count; ++i) {
    const DiskFile file = fixedDiskFile(layout, layout.fixed.files[i]);
    add(fileSpansOf(image, file, steps_), ByteUserKind::FixedFile, -1, file.name.data());
  }
  // Each table's files, then its entries.
  for (std::int32_t table = 0; table < kTableCount; ++table) {
    const TableBuffer& bytes = tables[static_cast<std::size_t>(table)];
    walkTable(
        bytes, table,
        [&](const TableFile& entry) {
          const DiskFile file = tableDiskFile(layout, entry);
          add(fileSpansOf(image, file, steps_), ByteUserKind::TableFile, table, file.name.data());
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
    add(spans, ByteUserKind::TableEntries, table, std::string());
  }
  std::stable_sort(users_.begin(), users_.end(),
                   [](const ByteUser& a, const ByteUser& b) { return a.position < b.position; });
}

RoomReason DiskUsage::naming(RoomReason reason, const ByteUser& user) const {
  reason.userKind = user.kind;
  if (user.kind == ByteUserKind::FixedFile || user.kind == ByteUserKind::TableFile) {
    reason.user = names_.at(static_cast<std::size_t>(user.name));
  }
  reason.userOf = user.kind == ByteUserKind::DiskHeader ? std::int32_t{user.name} : user.table;
  return reason;
}

TableShape shapeOfTable(d88::D88Image& image, const DiskLayout& layout, std::int32_t table,
                        const TableBuffer& bytes) {
  TableShape shape;
  const TablePlace& place = layout.tables[static_cast<std::size_t>(table)];
  shape.track = place.track;
  shape.firstNumber = tableNumber(table, 0);
  const TrackGeometry& geometry = layout.geometry;
  shape.whole = image.locateSectors(place.track, d88::cylinderOfSlot(place.track), 0,
                                    geometry.firstSector, geometry.sizeCode, geometry.trackSize(),
                                    shape.steps) == geometry.trackSize();
  walkTable(
      bytes, table, [&](const TableFile&) { ++shape.fileCount; }, geometry);
  // The entries and the end mark after them; a full track has no end mark.
  shape.entryBytes = std::min((shape.fileCount + 2) * kEntrySize, kEntriesPerTable * kEntrySize);
  return shape;
}

TableRoom measureRoom(d88::D88Image& image, const DiskUsage& usage, std::int32_t end,
                      std::int32_t enough) {
  TableRoom room;
  room.measured = true;
  room.end = end;
  std::array<std::uint8_t, kSectorSize> bytes{};
  bool valueKnown = false;
  // A table whose end lies outside the linear order has no room at all.
  for (std::int32_t at = std::max(end, 0);
       room.stop.empty() && (!valueKnown || room.room < enough);) {
    const LinearSector sector = usage.linear().at(image, at);
    if (sector.fitness != SectorFitness::Plain) {
      room.stop = unfitSector(sector);
      break;
    }
    const std::int32_t inSector = at % kSectorSize;
    const std::int32_t count = kSectorSize - inSector;
    RoomReason where;
    where.track = sector.track;
    where.r = sector.r;
    const ByteUser* user =
        usage.userOf(sector.position + inSector, count, [](const ByteUser&) { return true; });
    if (user != nullptr) {
      where.code = RoomReasonCode::HoldsBytes;
      room.stop = usage.naming(where, *user);
      break;
    }
    if (image.readFileBytes(sector.position + inSector, bytes.data(), count) != count) {
      room.stop = unfitSector({SectorFitness::NotPlain, sector.track, sector.r, 0});
      break;
    }
    const std::uint8_t value = valueKnown ? room.blank : bytes[0];
    if (!std::all_of(bytes.begin(), bytes.begin() + count,
                     [&](std::uint8_t b) { return b == value; })) {
      where.code = RoomReasonCode::NotBlank;
      room.stop = where;
      break;
    }
    room.blank = value;
    valueKnown = true;
    room.room += count;
    at += count;
  }
  return room;
}

RoomReason relaidFileFault(const std::string& name, std::int32_t oldAt, std::int32_t oldSize,
                           std::int32_t newAt, std::int32_t newSize) {
  RoomReason reason;
  reason.name = name;
  // d88extract skips a file that reaches past its buffer.
  if (newAt % kSectorSize + newSize > kExtractBufferSize) {
    reason.code = RoomReasonCode::PastBuffer;
    return reason;
  }
  // ... and one of 0 bytes at offset 0 of its sector, which has nothing to read.
  const auto skipped = [](std::int32_t at, std::int32_t size) {
    return size == 0 && at % kSectorSize == 0;
  };
  const bool was = skipped(oldAt, oldSize);
  if (was == skipped(newAt, newSize)) {
    return RoomReason();
  }
  reason.code = was            ? RoomReasonCode::ZeroAppears
                : oldSize == 0 ? RoomReasonCode::ZeroVanishes
                               : RoomReasonCode::BecomesZero;
  return reason;
}

TableFit::TableFit(d88::D88Image& image, const DiskUsage& usage, DiskKind kind, std::int32_t table,
                   const TableBuffers& tables)
    : image_(image), usage_(usage), kind_(kind), table_(table), otherFiles_(0) {
  const DiskLayout& layout = layoutOf(kind);
  const TableBuffer& bytes = tables[static_cast<std::size_t>(table)];
  shape_ = shapeOfTable(image, layout, table, bytes);
  otherFiles_ =
      shapeOfTable(image, layout, 1 - table, tables[static_cast<std::size_t>(1 - table)]).fileCount;
  // An entry without a place of its own on the track cannot be rewritten.
  if (!shape_.whole) {
    unwhole_.code = RoomReasonCode::TrackUnwhole;
    unwhole_.track = shape_.track;
  }
  // Bounded by the entries the walk counted, end mark's follower included.
  for (std::int32_t index = 0; index <= shape_.lastEntry(); ++index) {
    const FileTableEntry entry = entryAt(bytes, index);
    // An entry outside sectors 1 to 16 of a track is read where no linear
    // address lies.
    const bool inOrder = entry.sectorNumber() >= kStandardGeometry.firstSector &&
                         entry.sectorNumber() <= kStandardGeometry.lastSector &&
                         entry.trackIndex() <= kLastEntryTrack;
    entries_.push_back(entry);
    at_.push_back(inOrder ? sectorAddress(entry) : -1);
  }
  // Entries whose bytes on the table track lie in a file's bytes: rewriting
  // them would change that file.
  for (std::int32_t index = 1; index <= shape_.lastEntry(); ++index) {
    if (fileUnder(index, {true, true, true}) != nullptr) {
      inFiles_.push_back(index);
    }
  }
  for (std::int32_t index = 0; index + 1 <= shape_.lastEntry(); ++index) {
    const std::int32_t size =
        at_[static_cast<std::size_t>(index) + 1] - at_[static_cast<std::size_t>(index)];
    // A size change moves these out of what d88extract reads, or into it.
    if (at_[static_cast<std::size_t>(index)] >= 0 &&
        at_[static_cast<std::size_t>(index) + 1] >= 0 &&
        (size == 0 || size > kExtractBufferSize - kSectorSize)) {
      special_.push_back(index);
    }
  }
}

std::string TableFit::nameOf(std::int32_t index) const {
  return index == shape_.lastEntry()
             ? std::string()
             : std::string(tableFileName(kind_, shape_.firstNumber + index).data());
}

std::int32_t TableFit::addressOf(std::int32_t index) const {
  return at_.at(static_cast<std::size_t>(index));
}

RoomReason TableFit::damagedEntry(std::int32_t index) const {
  RoomReason reason;
  if (addressOf(index) >= 0) {
    return reason;
  }
  const FileTableEntry& entry = entries_.at(static_cast<std::size_t>(index));
  reason.code = RoomReasonCode::DamagedEntry;
  reason.name = nameOf(index);
  reason.track = entry.trackIndex();
  reason.r = entry.sectorNumber();
  return reason;
}

RoomReason TableFit::unfitFile(std::int32_t index) const {
  const std::int32_t at = addressOf(index);
  const std::int32_t size = addressOf(index + 1) - at;
  RoomReason reason;
  reason.name = nameOf(index);
  // A negative size, or one d88extract skips, comes from a damaged table.
  if (size < 0 || at % kSectorSize + size > kExtractBufferSize) {
    reason.code = RoomReasonCode::DamagedLaying;
    return reason;
  }
  LinearSector failed;
  const auto spans = usage_.linear().spans(image_, at, size, &failed);
  if (!spans) {
    const RoomReason sector = unfitSector(failed);
    reason.code = RoomReasonCode::UnfitLaying;
    reason.cause = sector.code;
    reason.track = sector.track;
    reason.r = sector.r;
    return reason;
  }
  for (const FileSpan& span : *spans) {
    const ByteUser* user = usage_.userOf(span.position, span.length, [&](const ByteUser& u) {
      return u.kind == ByteUserKind::FixedFile || u.kind == ByteUserKind::TableEntries ||
             (u.kind == ByteUserKind::TableFile && u.table != table_);
    });
    if (user != nullptr) {
      reason.code = RoomReasonCode::SharesBytes;
      return usage_.naming(reason, *user);
    }
  }
  return RoomReason();
}

RoomReason TableFit::fixedSize(std::int32_t index) const {
  RoomReason reason;
  if (index == 0) {
    reason.code = RoomReasonCode::FirstEntry;
    return reason;
  }
  reason.name = nameOf(index);
  // A file of 0 bytes at offset 0 is not written, so nothing can be put back.
  const std::int32_t at = addressOf(index);
  if (at >= 0 && addressOf(index + 1) == at && at % kSectorSize == 0) {
    reason.code = RoomReasonCode::ZeroAtOffsetZero;
    return reason;
  }
  // The first table's numbers from 0x100 on are the second table's too.
  const std::int32_t shared = table_ == 0 ? index - (kSecondTableNumber - kFirstTableNumber)
                                          : index + (kSecondTableNumber - kFirstTableNumber);
  const bool twice = table_ == 0 ? shared >= 0 && shared < otherFiles_ : shared < otherFiles_;
  return twice ? (reason.code = RoomReasonCode::NamedTwice, reason) : RoomReason();
}

const ByteUser* TableFit::fileUnder(std::int32_t index,
                                    const std::array<bool, kEntrySize>& bytes) const {
  for (std::int32_t byte = 0; byte < kEntrySize; ++byte) {
    if (!bytes[static_cast<std::size_t>(byte)]) {
      continue;
    }
    const std::int32_t inTable = index * kEntrySize + byte;
    for (const d88::ChainStep& step : shape_.steps) {
      if (step.position < 0 || inTable < step.chainOffset ||
          inTable >= step.chainOffset + step.length) {
        continue;
      }
      const ByteUser* user =
          usage_.userOf(step.position + (inTable - step.chainOffset), 1, [](const ByteUser& u) {
            return u.kind == ByteUserKind::FixedFile || u.kind == ByteUserKind::TableFile;
          });
      if (user != nullptr) {
        return user;
      }
    }
  }
  return nullptr;
}

RoomReason TableFit::rewrittenEntryFault(std::int32_t index, std::int32_t newAt) const {
  const FileTableEntry& old = entries_.at(static_cast<std::size_t>(index));
  const FileTableEntry entry = entryForAddress(newAt, old);
  const ByteUser* user = fileUnder(index, {entry.position != old.position,
                                           entry.sector != old.sector, entry.offset != old.offset});
  if (user == nullptr) {
    return RoomReason();
  }
  RoomReason reason;
  reason.code = RoomReasonCode::EntryRewritten;
  reason.table = table_;
  reason.name = nameOf(index);
  return usage_.naming(reason, *user);
}

RoomReason TableFit::entriesFault(std::int32_t index, std::int32_t by) const {
  for (const std::int32_t entry : inFiles_) {
    if (entry > index) {
      if (RoomReason fault = rewrittenEntryFault(entry, addressOf(entry) + by); !fault.empty()) {
        return fault;
      }
    }
  }
  return RoomReason();
}

RoomReason TableFit::unfitFrom(std::int32_t first) const {
  if (!unwhole_.empty()) {
    return unwhole_;
  }
  const std::int32_t last = shape_.lastEntry();
  for (std::int32_t index = first; index <= last; ++index) {
    if (RoomReason why = damagedEntry(index); !why.empty()) {
      return why;
    }
  }
  for (std::int32_t index = first; index < last; ++index) {
    if (RoomReason why = unfitFile(index); !why.empty()) {
      return why;
    }
  }
  return RoomReason();
}

RoomReason TableFit::refusedChange(std::int32_t index, std::int32_t by,
                                   const TableRoom& blank) const {
  const std::int32_t at = addressOf(index);
  const std::int32_t size = addressOf(index + 1) - at;
  if (RoomReason fault = relaidFileFault(nameOf(index), at, size, at, size + by); !fault.empty()) {
    return fault;
  }
  if (by > blank.room) {
    RoomReason grows = blank.stop;
    grows.cause = grows.code;
    grows.code = RoomReasonCode::TableGrows;
    grows.table = table_;
    grows.growth = by;
    return grows;
  }
  // Only files of 0 bytes or of nearly the largest size can be moved out of
  // what d88extract reads.
  for (const std::int32_t later : special_) {
    if (later > index) {
      const std::int32_t from = addressOf(later);
      const std::int32_t length = addressOf(later + 1) - from;
      if (RoomReason fault = relaidFileFault(nameOf(later), from, length, from + by, length);
          !fault.empty()) {
        return fault;
      }
    }
  }
  return entriesFault(index, by);
}

std::int32_t TableFit::laidFrom(RoomReason& why) const {
  const std::int32_t last = shape_.lastEntry();
  std::int32_t from = last;
  why = unwhole_;
  for (std::int32_t index = last; why.empty() && index >= 0; --index) {
    why = damagedEntry(index);
    if (why.empty() && index < last) {
      why = unfitFile(index);
    }
    if (!why.empty()) {
      break;
    }
    from = index;
    // An entry wholly in a file's bytes changes that file at any move.
    if (index > 0 && fileUnder(index, {true, false, false}) != nullptr &&
        fileUnder(index, {false, true, false}) != nullptr &&
        fileUnder(index, {false, false, true}) != nullptr) {
      why.code = RoomReasonCode::EntryInFile;
      why.table = table_;
      why.name = nameOf(index);
      why = usage_.naming(why, *fileUnder(index, {true, true, true}));
      break;
    }
  }
  return from;
}

std::array<std::int32_t, kSectorSize> TableFit::lastMovedOut() const {
  std::array<std::int32_t, kSectorSize> last{};
  last.fill(-1);
  for (const std::int32_t index : special_) {
    const std::int32_t at = addressOf(index);
    const std::int32_t size = addressOf(index + 1) - at;
    for (std::int32_t by = 0; by < kSectorSize; ++by) {
      if (!relaidFileFault(std::string(), at, size, at + by, size).empty()) {
        last[static_cast<std::size_t>(by)] = index;
      }
    }
  }
  return last;
}

TableRoom TableFit::room() const {
  const std::int32_t last = shape_.lastEntry();
  TableRoom room = measureRoom(image_, usage_, sectorAddress(entries_.back()));
  const TableRoom blank = room;
  // The files from `from` on are laid end to end where they lie.
  RoomReason laidWhy;
  const std::int32_t from = laidFrom(laidWhy);
  const std::array<std::int32_t, kSectorSize> movedOut = lastMovedOut();
  std::int32_t best = -1;
  std::int32_t growth = 0;
  for (std::int32_t index = unwhole_.empty() ? from : last; index < last; ++index) {
    if (!fixedSize(index).empty()) {
      continue;
    }
    const std::int32_t at = addressOf(index);
    const std::int32_t size = addressOf(index + 1) - at;
    std::int32_t can =
        std::max(0, std::min(blank.room, kExtractBufferSize - at % kSectorSize - size));
    // What a growth moves out of reach repeats with its offset in a sector.
    for (std::int32_t tries = 0;
         can > 0 && (movedOut[static_cast<std::size_t>(can % kSectorSize)] > index ||
                     !entriesFault(index, can).empty());
         ++tries) {
      can = tries < kSectorSize ? can - 1 : 0;
    }
    if (best < 0 || can > growth) {
      best = index;
      growth = can;
    }
  }
  if (best < 0) {
    room.fixed = true;
    room.room = 0;
    // Why the last file may not change size, whose checks are the fewest.
    room.stop = !unwhole_.empty() ? unwhole_
                : last == 1       ? fixedSize(0)
                : from >= last    ? laidWhy
                                  : fixedSize(last - 1);
    return room;
  }
  room.grows = best;
  room.room = growth;
  if (growth < blank.room) {
    room.stop = refusedChange(best, growth + 1, blank);
  }
  return room;
}

std::vector<TableRoom> measureTableRooms(d88::D88Image& image, DiskKind kind,
                                         const TableBuffers& tables, const DiskUsage& usage) {
  std::vector<TableRoom> rooms;
  if (kind == DiskKind::Unknown) {
    return rooms;
  }
  for (std::int32_t table = 0; table < kTableCount; ++table) {
    const TableFit fit(image, usage, kind, table, tables);
    rooms.push_back(fit.shape().fileCount == 0 ? TableRoom{} : fit.room());
  }
  return rooms;
}

}  // namespace disk
