// Composes D88 files in memory for tests, fuzz seeds and the sample image.
//
//   Track t;
//   t.sector(0, 0, 1, 1, Bytes(256, 0xAA)).sector(0, 0, 2, 1, Bytes(100, 0xBB));
//   Disk disk;
//   disk.name("WORK").mediaType(0x00).track(0, t);
//   Bytes file = concat({disk.build(), Disk().build()});
//
// Every field can be given a wrong value on purpose (sector counts, data
// lengths, the size field, raw track offsets), and files can be cut short.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace d88test {

using Bytes = std::vector<std::uint8_t>;

// One sector record: a 16-byte header and its stored data.
struct SectorRecord {
  std::uint8_t c = 0;
  std::uint8_t h = 0;
  std::uint8_t r = 1;
  std::uint8_t n = 1;
  Bytes data;
  std::optional<std::uint16_t> sectorCount;  // default: the records of its track
  std::optional<std::uint16_t> dataLength;   // default: data.size()
  std::uint8_t density = 0x00;               // 0x40: single density (FM)
  std::uint8_t deletedMark = 0x00;           // 0x10: a deleted data mark
  std::uint8_t status = 0x00;                // the controller's status
};

// The sector records of one track, in stored order.
class Track {
 public:
  Track& sector(std::uint8_t c, std::uint8_t h, std::uint8_t r, std::uint8_t n, Bytes data);
  Track& sector(SectorRecord record);
  // Gives every record of the track this sector count instead of the real one.
  Track& sectorCount(std::uint16_t count);
  [[nodiscard]] std::size_t recordCount() const { return records_.size(); }
  [[nodiscard]] Bytes bytes() const;

  // Sectors first..last of cylinder c, side h, size code n, cut from data in
  // order (128 << n bytes each, zero-padded).
  static Track formatted(std::uint8_t c, std::uint8_t h, std::uint8_t n, int first, int last,
                         const Bytes& data);

 private:
  std::vector<SectorRecord> records_;
  std::optional<std::uint16_t> countForAll_;
};

// One disk image: header and tracks, laid out in track index order.
class Disk {
 public:
  Disk& name(const std::string& name);
  Disk& mediaType(std::uint8_t type);
  Disk& track(int index, const Track& track);
  // Overrides the stored track offset (any value, 0 = absent) of a slot.
  Disk& trackOffset(int index, std::uint32_t rawOffset);
  // Overrides the stored image size (default: the real size).
  Disk& sizeField(std::uint32_t rawSize);
  // Bytes appended after the last track, counted in the image size.
  Disk& trailer(const Bytes& bytes);
  [[nodiscard]] Bytes build() const;

 private:
  std::string name_;
  std::uint8_t mediaType_ = 0;
  std::map<int, Bytes> tracks_;
  std::map<int, std::uint32_t> offsetOverrides_;
  std::optional<std::uint32_t> sizeField_;
  Bytes trailer_;
};

// Images laid end to end, as in a multi-disk D88 file.
[[nodiscard]] Bytes concat(const std::vector<Bytes>& images);
// The first `length` bytes of a file, as a truncated copy would hold.
[[nodiscard]] Bytes truncated(const Bytes& file, std::size_t length);
// Writes bytes to a host file; returns false when that fails.
[[nodiscard]] bool writeFile(const std::string& path, const Bytes& bytes);
void putLe32(Bytes& bytes, std::size_t at, std::uint32_t value);
void putLe16(Bytes& bytes, std::size_t at, std::uint16_t value);

// ---------------------------------------------------------------------------
// Disks of the fixed-table layout: 16 sectors of 256 bytes per track, files placed
// by their byte address track * 4096 + (R - 1) * 256 + offset.

constexpr int kFixedTableSectorSize = 256;
constexpr int kFixedTableSectorsPerTrack = 16;
constexpr int kFixedTableTrackSize = kFixedTableSectorSize * kFixedTableSectorsPerTrack;
constexpr int kFixedTableTracks = 160;  // 80 cylinders, two sides

// The byte address of (track index, sector number, offset).
[[nodiscard]] constexpr std::int32_t address(int track, int r, int offset) {
  return track * kFixedTableTrackSize + (r - 1) * kFixedTableSectorSize + offset;
}

// The 3-byte file table entry that points at an address.
[[nodiscard]] Bytes tableEntry(std::int32_t address);

class FixedTableDisk {
 public:
  explicit FixedTableDisk(int tracks = kFixedTableTracks);
  // Places bytes at a byte address.
  FixedTableDisk& put(std::int32_t address, const Bytes& bytes);
  // Writes a file table at the start of a track: one entry per address,
  // then the end mark.
  FixedTableDisk& table(int track, const std::vector<std::int32_t>& entryAddresses);
  // Leaves a track out of the image (absent in the track table); replace()
  // brings it back with other records.
  FixedTableDisk& drop(int track);
  // Replaces a track's records with hand-made ones.
  FixedTableDisk& replace(int track, const Track& records);
  [[nodiscard]] Bytes contents(std::int32_t address, std::int32_t size) const;
  [[nodiscard]] Disk disk() const;
  [[nodiscard]] Bytes build() const { return disk().build(); }

 private:
  int tracks_;
  Bytes bytes_;
  std::map<int, bool> dropped_;
  std::map<int, Track> replaced_;
};

// Recognisable contents for a file: its name and offsets as text.
[[nodiscard]] Bytes textContents(const std::string& name, std::int32_t size);

// The first two entries of each table, as the two kinds of disk carry them.
constexpr std::int32_t kSystemFirstTable0 = address(12, 2, 0xA4);
constexpr std::int32_t kSystemFirstTable1 = address(12, 11, 0xE7);
constexpr std::int32_t kSystemSecondTable0 = address(30, 2, 0xA4);
constexpr std::int32_t kSystemSecondTable1 = address(33, 14, 0x77);
constexpr std::int32_t kDataFirstTable0 = address(0, 2, 0xA4);
constexpr std::int32_t kDataFirstTable1 = address(0, 11, 0xA9);
constexpr std::int32_t kDataSecondTable0 = address(66, 2, 0xA4);
constexpr std::int32_t kDataSecondTable1 = address(66, 3, 0x00);

// The fixed files of a system disk.
constexpr std::int32_t kBiosAddress = address(5, 1, 0);
constexpr std::int32_t kBiosSize = 0x2500;
constexpr std::int32_t kDriverAddress = address(16, 1, 0);
constexpr std::int32_t kDriverSize = 0x2823;

// A file of a fixed-table disk as a test expects to find it.
struct FixedTableFile {
  std::string name;
  std::int32_t address = 0;
  std::int32_t size = 0;
};

// A system or data disk whose tables list files laid one after another from
// the fixed first entries, each filled with textContents. `firstSizes` and
// `secondSizes` give the sizes of the files after the fixed ones.
struct FixedTableLayout {
  FixedTableDisk disk;
  std::vector<FixedTableFile> files;  // every table file, in walk order; system: BIOS, DRIVER first
  [[nodiscard]] Bytes build() const { return disk.build(); }
};
[[nodiscard]] FixedTableLayout systemDisk(const std::vector<std::int32_t>& firstSizes,
                                          const std::vector<std::int32_t>& secondSizes,
                                          int tracks = kFixedTableTracks);
[[nodiscard]] FixedTableLayout dataDisk(const std::vector<std::int32_t>& firstSizes,
                                        const std::vector<std::int32_t>& secondSizes);

// A data disk made to slow down sector lookups that walk a track from its
// start: tracks 2 and 3 each begin with `junkPerTrack` empty records that no
// lookup asks for, followed by their 16 real sectors, and the file tables
// (256 entries in the first, a full 1,365 in the second) send every file's
// chain into those tracks, across sectors and from side 0 to side 1.
struct CraftedLayout {
  FixedTableDisk disk;                // the real sectors' contents, by address
  std::vector<FixedTableFile> files;  // every file "-a" writes, in walk order
  [[nodiscard]] Bytes build() const { return disk.build(); }
};
[[nodiscard]] CraftedLayout craftedDisk(int junkPerTrack);

// A data disk whose first table lists one file of each fate: D002's chain
// breaks after its first sector (track 10 holds only sector 1), D003 has a
// negative size, D004 reaches past the extraction buffer, D005's first sector
// is absent, D006 has a negative size again, D007 is empty at offset 0, so
// that there is nothing to read, D008 reaches past the buffer again and D009
// is empty at offset 0x10 of an absent sector, which cannot be read.
[[nodiscard]] FixedTableLayout damagedFilesDisk();
// Junk records per track that make the crafted image about 1 MB.
constexpr int kCraftedJunkPerTrack = 31000;

}  // namespace d88test
