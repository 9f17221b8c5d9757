// The layouts of fixed-table disk the tools know, recognising them, and
// walking their file tables into the files of a disk.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "d88/d88_image.h"

namespace disk {

// The kind of a disk is also the first letter of its table files' names.
enum class DiskKind : char { System = 'S', Data = 'D', Unknown = '_' };

// The sectors of a track that reads walk, and the size code of each: a
// chain goes from the last sector on to the first of the next track.
struct TrackGeometry {
  std::int32_t firstSector;
  std::int32_t lastSector;
  std::int32_t sizeCode;  // N: sectors of 128 << N bytes

  [[nodiscard]] constexpr std::int32_t sectorSize() const {
    return d88::kBaseSectorSize << sizeCode;
  }
  [[nodiscard]] constexpr std::int32_t sectorsPerTrack() const {
    return lastSector - firstSector + 1;
  }
  [[nodiscard]] constexpr std::int32_t trackSize() const {
    return sectorSize() * sectorsPerTrack();
  }
};

// Sectors 1 to 16 of 256 bytes: the geometry of every layout of kLayouts.
inline constexpr TrackGeometry kStandardGeometry{1, 16, 1};

// A file table is one track of the standard geometry.
constexpr std::int32_t kSectorSize = kStandardGeometry.sectorSize();
constexpr std::int32_t kSizeCode = kStandardGeometry.sizeCode;
static_assert(kSectorSize == 256, "the size code gives 256-byte sectors");
constexpr std::int32_t kSectorsPerTrack = kStandardGeometry.sectorsPerTrack();
constexpr std::int32_t kTableSize = kStandardGeometry.trackSize();
constexpr std::int32_t kEntrySize = 3;
// Whole entries in a table; the last byte of the track belongs to none.
constexpr std::int32_t kEntriesPerTable = kTableSize / kEntrySize;
static_assert(kEntriesPerTable * kEntrySize <= kTableSize, "every counted entry lies in the table");
constexpr std::int32_t kFirstTableNumber = 0x000;
constexpr std::int32_t kSecondTableNumber = 0x100;
// A disk's two tables, 0 and 1, and the number of their first file.
constexpr std::int32_t kTableCount = 2;
inline constexpr std::array<std::int32_t, kTableCount> kTableFirstNumbers{kFirstTableNumber,
                                                                          kSecondTableNumber};
// The number of entry `index` of table `table` ("S101" is entry 1 of table 1).
[[nodiscard]] constexpr std::int32_t tableNumber(std::int32_t table, std::int32_t index) {
  return kTableFirstNumbers[static_cast<std::size_t>(table)] + index;
}
// How the listings and messages name table `table`: "first" or "second".
[[nodiscard]] constexpr const char* tableWord(std::int32_t table) {
  return table == 0 ? "first" : "second";
}

using TableBuffer = std::array<std::uint8_t, kTableSize>;

// Bits 0-4 of an entry's sector byte hold R; bits 5-7 are unused.
constexpr std::uint8_t kSectorNumberMask = 0x1F;

// A 3-byte table entry: where a file's first byte lies.
struct FileTableEntry {
  std::uint8_t position = 0;  // bit 7 head, bits 0-6 cylinder
  std::uint8_t sector = 0;    // bits 0-4 sector number; bits 5-7 unused
  std::uint8_t offset = 0;    // byte offset inside the sector

  [[nodiscard]] std::int32_t trackIndex() const {
    return ((position << 1) | (position >> 7)) & 0xFF;
  }
  [[nodiscard]] std::int32_t cylinder() const { return position & 0x7F; }
  [[nodiscard]] std::int32_t head() const { return position >> 7; }
  [[nodiscard]] std::int32_t sectorNumber() const { return sector & kSectorNumberMask; }
  [[nodiscard]] bool isEndMark() const {
    return trackIndex() == 0 && sectorNumber() == 0 && offset == 0;
  }
};

[[nodiscard]] FileTableEntry entryAt(const TableBuffer& table, std::int32_t index);

// The entry's byte position on a disk of the given geometry, counted from
// the first sector of track 0.
[[nodiscard]] std::int32_t sectorAddress(const FileTableEntry& entry,
                                         const TrackGeometry& geometry = kStandardGeometry);

// Where a byte address of the standard geometry lies: its track index,
// sector number and offset in the sector (sectorAddress's inverse).
struct AddressPlace {
  std::int32_t track = 0;
  std::int32_t r = 0;
  std::int32_t offset = 0;
};
[[nodiscard]] constexpr AddressPlace placeOfAddress(std::int32_t address) {
  return {address / kTableSize, address % kTableSize / kSectorSize + kStandardGeometry.firstSector,
          address % kSectorSize};
}

// The last track index an entry is written for: the track table's last slot.
constexpr std::int32_t kLastEntryTrack = d88::kTrackCount - 1;
static_assert(kLastEntryTrack / 2 <= 0x7F, "every written track's cylinder fits bits 0-6");

// The entry that points at a byte address of the standard geometry (at most
// kLastEntryTrack), keeping the unused bits of `previous`'s sector byte:
// sectorAddress of it gives the address back.
[[nodiscard]] FileTableEntry entryForAddress(std::int32_t address, const FileTableEntry& previous);

// One file of a table: its number, which table and entry it is, where it
// starts and its size (which a damaged table can make negative).
struct TableFile {
  std::int32_t number = 0;
  FileTableEntry start;
  std::int32_t size = 0;
  std::int32_t table = 0;
  std::int32_t index = 0;
};

// Calls visit(const TableFile&) for each file of table `table` (0 or 1).
// An entry followed by the end mark starts no file; an entry whose follower
// would reach past the table counts as followed by the end mark.
template <typename Visit>
void walkTable(const TableBuffer& bytes, std::int32_t table, Visit&& visit,
               const TrackGeometry& geometry = kStandardGeometry) {
  for (std::int32_t index = 0; index + 1 < kEntriesPerTable; ++index) {
    const FileTableEntry following = entryAt(bytes, index + 1);
    if (following.isEndMark()) {
      return;
    }
    const FileTableEntry current = entryAt(bytes, index);
    visit(TableFile{tableNumber(table, index), current,
                    sectorAddress(following, geometry) - sectorAddress(current, geometry), table,
                    index});
  }
}

// Walks the first table, then the second.
template <typename Visit>
void walkFileTables(const TableBuffer& first, const TableBuffer& second, Visit&& visit,
                    const TrackGeometry& geometry = kStandardGeometry) {
  walkTable(first, 0, visit, geometry);
  walkTable(second, 1, visit, geometry);
}

// The two tables of the disk being read, by table: the caller's room, one
// pair for each disk read at a time.
using TableBuffers = std::array<TableBuffer, kTableCount>;

// Reads the tables of the selected disk into the buffers and tells its kind,
// leaving the image's sector range at that layout's geometry. The data probe
// reads over what the system probe left in the buffers.
[[nodiscard]] DiskKind recogniseDisk(d88::D88Image& image, TableBuffer& first, TableBuffer& second);
[[nodiscard]] inline DiskKind recogniseDisk(d88::D88Image& image, TableBuffers& tables) {
  return recogniseDisk(image, tables[0], tables[1]);
}

// Selects disk `index` with the sector range of the layout of `kind` (for
// an unknown kind, the range recognition starts from); false for a disk
// whose header the file does not hold whole (it then reads as empty).
[[nodiscard]] bool selectDisk(d88::D88Image& image, std::int32_t index,
                              DiskKind kind = DiskKind::Unknown);

// Whether a table file is written: on a system disk files 0x117 to 0x11D,
// and every file with extract-all.
[[nodiscard]] bool isSelected(DiskKind kind, std::int32_t number, bool extractAll);

// The host file name of a table file: kind letter and number, "S117".
constexpr std::size_t kTableFileNameSize = 16;
using TableFileName = std::array<char, kTableFileNameSize>;
[[nodiscard]] TableFileName tableFileName(DiskKind kind, std::int32_t number);

// The folder d88extract gives disk `index` ("000" to "063"), and whether a
// name is one it could give (three digits).
constexpr std::size_t kDiskFolderNameSize = 16;
using DiskFolderName = std::array<char, kDiskFolderNameSize>;
[[nodiscard]] DiskFolderName diskFolderName(std::int32_t index);
[[nodiscard]] bool isDiskFolderName(const std::string& name);

// A fixed file of a disk: the first sector of its track, offset 0.
struct FixedFile {
  const char* name;
  std::int32_t track;
  std::int32_t size;
};

// The first two entries of a table, which tell the kind of a disk.
constexpr std::size_t kProbeSize = 2 * kEntrySize;
using ProbeValue = std::array<std::uint8_t, kProbeSize>;

// Where a table lies (side 0 of the track, its sectors in the layout's
// geometry) and how it begins.
struct TablePlace {
  std::int32_t track;
  ProbeValue begins;
};

constexpr std::size_t kMaxFixedFiles = 2;
struct FixedFiles {
  std::array<FixedFile, kMaxFixedFiles> files;
  std::size_t count;
};
inline constexpr FixedFiles kNoFixedFiles{{}, 0};

// The table files written without extract-all: numbers first to last.
struct WrittenRange {
  std::int32_t first;
  std::int32_t last;

  [[nodiscard]] constexpr bool holds(std::int32_t number) const {
    return number >= first && number <= last;
  }
};
inline constexpr WrittenRange kNoneWritten{1, 0};

// How a recognised disk is announced (a Shift_JIS line that d88extract
// prints; none for an unrecognised disk) and named in the listings.
struct Announcement {
  const char* message;
  const char* listingName;
};

// One layout of disk: its geometry, where its two tables lie and how each
// begins, its fixed files, the table files written without extract-all,
// and how it is announced and listed.
struct DiskLayout {
  DiskKind kind;  // also the first letter of its table files' names
  TrackGeometry geometry;
  std::array<TablePlace, kTableCount> tables;
  FixedFiles fixed;
  WrittenRange written;
  Announcement announcement;
};

// システムディスクを認識しました. (system disk recognised)
inline constexpr char kSystemDiskRecognised[] =
    "\x83\x56\x83\x58\x83\x65\x83\x80\x83\x66\x83\x42\x83\x58\x83\x4E\x82\xF0\x94\x46\x8E\xAF"
    "\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";
// データディスクを認識しました. (data disk recognised)
inline constexpr char kDataDiskRecognised[] =
    "\x83\x66\x81\x5B\x83\x5E\x83\x66\x83\x42\x83\x58\x83\x4E\x82\xF0\x94\x46\x8E\xAF\x82\xB5"
    "\x82\xDC\x82\xB5\x82\xBD.\n";

// Every layout the tools know, in the order recognition tries them.
inline constexpr std::array<DiskLayout, 2> kLayouts{{
    {DiskKind::System,
     kStandardGeometry,
     {{{12, {0x06, 0x02, 0xA4, 0x06, 0x0B, 0xE7}}, {30, {0x0F, 0x02, 0xA4, 0x90, 0x0E, 0x77}}}},
     {{{{"BIOS", 5, 0x2500}, {"DRIVER", 16, 0x2823}}}, 2},
     {0x117, 0x11D},
     {kSystemDiskRecognised, "system disk"}},
    {DiskKind::Data,
     kStandardGeometry,
     {{{0, {0x00, 0x02, 0xA4, 0x00, 0x0B, 0xA9}}, {66, {0x21, 0x02, 0xA4, 0x21, 0x03, 0x00}}}},
     kNoFixedFiles,
     kNoneWritten,
     {kDataDiskRecognised, "data disk"}},
}};

// A disk no layout recognises: its tables are what the last probe read, and
// nothing of it is written without extract-all.
inline constexpr DiskLayout kUnknownLayout{DiskKind::Unknown,    kStandardGeometry,
                                           {{{0, {}}, {0, {}}}}, kNoFixedFiles,
                                           kNoneWritten,         {nullptr, "not recognised"}};

// A table is read whole into its buffer: a layout with longer tracks needs
// a larger kTableSize.
constexpr bool everyTableFitsItsBuffer() {
  for (const DiskLayout& layout : kLayouts) {
    if (layout.geometry.trackSize() > kTableSize) {
      return false;
    }
  }
  return true;
}
static_assert(everyTableFitsItsBuffer(), "every layout's table track fits a table buffer");

[[nodiscard]] const DiskLayout& layoutOf(DiskKind kind);

// A file the tools write for a disk: name, first sector and byte range.
struct DiskFile {
  TableFileName name{};
  std::int32_t track = 0;
  std::int32_t r = 0;
  std::int32_t n = kSizeCode;  // the size code of its chain's sectors
  std::int32_t offset = 0;
  std::int32_t size = 0;
  bool writtenWithoutAll = false;  // written even without extract-all
  // Which table entry starts it: table 0 or 1 and the entry's index there;
  // table -1 for a fixed file.
  std::int32_t table = -1;
  std::int32_t entry = 0;

  // Puts it at linear address `address` of the standard geometry, of `bytes` bytes.
  void place(std::int32_t address, std::int32_t bytes) {
    const AddressPlace at = placeOfAddress(address);
    track = at.track;
    r = at.r;
    offset = at.offset;
    size = bytes;
  }

  // Two sides: track 2C + H.
  [[nodiscard]] std::int32_t cylinder() const { return d88::cylinderOfSlot(track); }
  [[nodiscard]] std::int32_t head() const { return d88::headOfSlot(track); }
};

[[nodiscard]] DiskFile fixedDiskFile(const DiskLayout& layout, const FixedFile& fixed);
[[nodiscard]] DiskFile tableDiskFile(const DiskLayout& layout, const TableFile& file);

// Calls visit(const DiskFile&) for every file that extract-all writes, in
// extraction order: a system disk's fixed files, then the table files.
template <typename Visit>
void forEachDiskFile(DiskKind kind, const TableBuffer& first, const TableBuffer& second,
                     Visit&& visit) {
  const DiskLayout& layout = layoutOf(kind);
  for (std::size_t i = 0; i < layout.fixed.count; ++i) {
    visit(fixedDiskFile(layout, layout.fixed.files[i]));
  }
  walkFileTables(
      first, second, [&](const TableFile& file) { visit(tableDiskFile(layout, file)); },
      layout.geometry);
}
template <typename Visit>
void forEachDiskFile(DiskKind kind, const TableBuffers& tables, Visit&& visit) {
  forEachDiskFile(kind, tables[0], tables[1], std::forward<Visit>(visit));
}

// The message that announces a kind of disk; none for an unrecognised one.
[[nodiscard]] const char* recognitionMessage(DiskKind kind);

}  // namespace disk
