// Recognising the two kinds of fixed-table disk and walking their file tables.
#pragma once

#include <array>
#include <cstdint>

#include "d88_image.h"
#include "messages.h"

// The kind of a disk is also the first letter of its table files' names.
enum class DiskKind : char { System = 'S', Data = 'D', Unknown = '_' };

// A file table is one track: 16 sectors of 256 bytes.
constexpr std::int32_t kSectorSize = 256;
constexpr std::int32_t kSizeCode = 1;  // N of every sector the tool reads: 128 << 1 = 256
static_assert((128 << kSizeCode) == kSectorSize, "the size code gives the sector size");
constexpr std::int32_t kSectorsPerTrack = 16;
constexpr std::int32_t kTableSize = kSectorSize * kSectorsPerTrack;
constexpr std::int32_t kEntrySize = 3;
// Whole entries in a table; the last byte of the track belongs to none.
constexpr std::int32_t kEntriesPerTable = kTableSize / kEntrySize;
static_assert(kEntriesPerTable * kEntrySize <= kTableSize, "every counted entry lies in the table");
constexpr std::int32_t kFirstTableNumber = 0x000;
constexpr std::int32_t kSecondTableNumber = 0x100;

using TableBuffer = std::array<std::uint8_t, kTableSize>;

// The process-wide buffers that hold the two tables of the current disk.
extern TableBuffer firstTable;
extern TableBuffer secondTable;

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
  [[nodiscard]] std::int32_t sectorNumber() const { return sector & 0x1F; }
  [[nodiscard]] bool isEndMark() const {
    return trackIndex() == 0 && sectorNumber() == 0 && offset == 0;
  }
};

[[nodiscard]] FileTableEntry entryAt(const TableBuffer& table, std::int32_t index);

// The entry's byte position on a disk of 16 sectors of 256 bytes per track.
[[nodiscard]] std::int32_t sectorAddress(const FileTableEntry& entry);

// One file of a table: its number, where it starts and its size (which a
// damaged table can make negative).
struct TableFile {
  std::int32_t number = 0;
  FileTableEntry start;
  std::int32_t size = 0;
};

// Calls visit(const TableFile&) for each file of one table, numbered from
// firstNumber. An entry followed by the end mark starts no file; an entry
// whose follower would reach past the table counts as followed by the end mark.
template <typename Visit>
void walkTable(const TableBuffer& table, std::int32_t firstNumber, Visit&& visit) {
  for (std::int32_t index = 0; index + 1 < kEntriesPerTable; ++index) {
    const FileTableEntry following = entryAt(table, index + 1);
    if (following.isEndMark()) {
      return;
    }
    const FileTableEntry current = entryAt(table, index);
    visit(
        TableFile{firstNumber + index, current, sectorAddress(following) - sectorAddress(current)});
  }
}

// Walks the first table, then the second.
template <typename Visit>
void walkFileTables(const TableBuffer& first, const TableBuffer& second, Visit&& visit) {
  walkTable(first, kFirstTableNumber, visit);
  walkTable(second, kSecondTableNumber, visit);
}

// Reads the tables of the selected disk into the buffers and tells its kind.
// The data probe reads over what the system probe left in the buffers.
[[nodiscard]] DiskKind recogniseDisk(d88::D88Image& image, TableBuffer& first, TableBuffer& second);

// Whether a table file is written: on a system disk files 0x117 to 0x11D,
// and every file with extract-all.
[[nodiscard]] bool isSelected(DiskKind kind, std::int32_t number, bool extractAll);

// The host file name of a table file: kind letter and number, "S117".
constexpr std::size_t kTableFileNameSize = 16;
using TableFileName = std::array<char, kTableFileNameSize>;
[[nodiscard]] TableFileName tableFileName(DiskKind kind, std::int32_t number);

// A fixed file of a disk: sector 1 of its track, offset 0.
struct FixedFile {
  const char* name;
  std::int32_t track;
  std::int32_t size;
};

// The first two entries of a table, which tell the kind of a disk.
constexpr std::size_t kProbeSize = 2 * kEntrySize;
using ProbeValue = std::array<std::uint8_t, kProbeSize>;

constexpr std::size_t kMaxFixedFiles = 2;

// One layout of disk: where its two tables lie (side 0, sectors 1 to 16) and
// how each begins, its fixed files, the table files written without
// extract-all, and how it is announced and listed.
struct DiskLayout {
  DiskKind kind;  // also the first letter of its table files' names
  std::int32_t firstTableTrack;
  std::int32_t secondTableTrack;
  ProbeValue firstBegins;
  ProbeValue secondBegins;
  std::array<FixedFile, kMaxFixedFiles> fixedFiles;
  std::size_t fixedFileCount;
  std::int32_t writtenFirst;  // table files writtenFirst..writtenLast are
  std::int32_t writtenLast;   // written without extract-all (none: first > last)
  const char* message;        // printed when recognised
  const char* listingName;
};

// Every layout the tool knows, in the order recognition tries them.
inline constexpr std::array<DiskLayout, 2> kLayouts{{
    {DiskKind::System,
     12,
     30,
     {0x06, 0x02, 0xA4, 0x06, 0x0B, 0xE7},
     {0x0F, 0x02, 0xA4, 0x90, 0x0E, 0x77},
     {{{"BIOS", 5, 0x2500}, {"DRIVER", 16, 0x2823}}},
     2,
     0x117,
     0x11D,
     messages::kSystemDiskRecognised,
     "system disk"},
    {DiskKind::Data,
     0,
     66,
     {0x00, 0x02, 0xA4, 0x00, 0x0B, 0xA9},
     {0x21, 0x02, 0xA4, 0x21, 0x03, 0x00},
     {},
     0,
     1,
     0,
     messages::kDataDiskRecognised,
     "data disk"},
}};

// A disk no layout recognises: its tables are what the last probe read, and
// nothing of it is written without extract-all.
inline constexpr DiskLayout kUnknownLayout{DiskKind::Unknown, 0, 0, {}, {}, {}, 0, 1, 0, nullptr,
                                           "not recognised"};

[[nodiscard]] const DiskLayout& layoutOf(DiskKind kind);

// A file the tool writes for a disk: name, first sector and byte range.
struct DiskFile {
  TableFileName name{};
  std::int32_t track = 0;
  std::int32_t r = 0;
  std::int32_t offset = 0;
  std::int32_t size = 0;
  bool writtenWithoutAll = false;  // written even without extract-all

  [[nodiscard]] std::int32_t cylinder() const { return track / 2; }
  [[nodiscard]] std::int32_t head() const { return track % 2; }
};

[[nodiscard]] DiskFile fixedDiskFile(const FixedFile& fixed);
[[nodiscard]] DiskFile tableDiskFile(DiskKind kind, const TableFile& file);

// Calls visit(const DiskFile&) for every file that extract-all writes, in
// extraction order: a system disk's fixed files, then the table files.
template <typename Visit>
void forEachDiskFile(DiskKind kind, const TableBuffer& first, const TableBuffer& second,
                     Visit&& visit) {
  const DiskLayout& layout = layoutOf(kind);
  for (std::size_t i = 0; i < layout.fixedFileCount; ++i) {
    visit(fixedDiskFile(layout.fixedFiles[i]));
  }
  walkFileTables(first, second, [&](const TableFile& file) { visit(tableDiskFile(kind, file)); });
}

// The message that announces a kind of disk; none for an unrecognised one.
[[nodiscard]] const char* recognitionMessage(DiskKind kind);

// Recognises the selected disk of diskImage and extracts its files into the
// current directory.
void extractDisk(bool extractAll);
