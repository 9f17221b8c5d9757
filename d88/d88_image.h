// Reader for D88 floppy-disk image files: the container of disk images laid
// end to end, each with its header and track table, and sector reads by ID.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "d88/buffered_file.h"
#include "d88/sector_index.h"

namespace d88 {

// Disk header layout.
constexpr std::int32_t kHeaderSize = 0x2B0;
constexpr std::int32_t kNameOffset = 0x00;
constexpr std::int32_t kNameSize = 16;
constexpr std::int32_t kNameFieldSize = kNameSize + 1;  // the name and its closing NUL
constexpr std::int32_t kWriteProtectOffset = 0x1A;
constexpr std::int32_t kMediaTypeOffset = 0x1B;
constexpr std::int32_t kDiskSizeOffset = 0x1C;
constexpr std::int32_t kTrackTableOffset = 0x20;
constexpr std::int32_t kTrackCount = 164;
constexpr std::int32_t kTrackEntrySize = 4;
static_assert(kTrackTableOffset + kTrackCount * kTrackEntrySize <= kHeaderSize,
              "the track table lies inside the disk header");
static_assert(kNameOffset + kNameFieldSize <= kWriteProtectOffset &&
                  kWriteProtectOffset + 1 == kMediaTypeOffset,
              "the name field, the write-protect byte and the media type follow each other");

// Sector record layout: a 16-byte header followed by the stored data.
constexpr std::int32_t kSectorHeaderSize = 16;
constexpr std::int32_t kIdCylinderOffset = 0x00;
constexpr std::int32_t kIdHeadOffset = 0x01;
constexpr std::int32_t kIdRecordOffset = 0x02;
constexpr std::int32_t kIdSizeCodeOffset = 0x03;
constexpr std::int32_t kSectorCountOffset = 0x04;
constexpr std::int32_t kDensityOffset = 0x06;      // 0x00 double density (MFM), 0x40 single (FM)
constexpr std::int32_t kDeletedMarkOffset = 0x07;  // 0x10 for a sector with a deleted data mark
constexpr std::int32_t kStatusOffset = 0x08;       // the controller's status when it was read
constexpr std::int32_t kDataLengthOffset = 0x0E;
static_assert(kDataLengthOffset + 2 == kSectorHeaderSize, "the data length closes the header");
static_assert(kSectorCountOffset + 2 == kDensityOffset && kStatusOffset < kDataLengthOffset,
              "the flag bytes lie between the sector count and the data length");

// A two-sided disk's tracks lie side by side in the track table: slot 2C + H
// holds cylinder C's head H.
[[nodiscard]] constexpr std::int32_t cylinderOfSlot(std::int32_t slot) {
  return slot / 2;
}
[[nodiscard]] constexpr std::int32_t headOfSlot(std::int32_t slot) {
  return slot % 2;
}

constexpr std::int32_t kMaxDisks = 64;
constexpr std::int32_t kSectorIdSize = 4;      // bytes per ID in a readSectorIds list
constexpr std::int32_t kBaseSectorSize = 128;  // sector size is kBaseSectorSize << N
constexpr std::int32_t kMaxSizeCode = 23;      // largest N whose sector size fits in 32 bits
static_assert((std::int64_t{kBaseSectorSize} << kMaxSizeCode) <= INT32_MAX &&
                  (std::int64_t{kBaseSectorSize} << (kMaxSizeCode + 1)) > INT32_MAX,
              "kMaxSizeCode is the last size code whose sector size fits in int32");

// The four ID bytes of a sector: cylinder, head, sector number and size code.
struct SectorId {
  std::uint8_t c = 0;
  std::uint8_t h = 0;
  std::uint8_t r = 0;
  std::uint8_t n = 0;
};

[[nodiscard]] std::uint32_t readLe32(const std::uint8_t* bytes);
[[nodiscard]] std::uint16_t readLe16(const std::uint8_t* bytes);

// The header fields of one sector record, and where the record lies.
struct SectorRecordInfo {
  SectorId id;
  std::int32_t sectorCount = 0;  // as this record's header gives it
  std::uint8_t density = 0;
  std::uint8_t deletedMark = 0;
  std::uint8_t status = 0;
  std::int32_t dataLength = 0;  // bytes stored after the header
  std::int64_t position = 0;    // file position of the record's header
};

// A found sector's record: where its header lies, and what the header says
// of the data after it.
struct LocatedRecord {
  std::int64_t position = 0;  // file position of the record's header
  std::int32_t dataLength = 0;
  std::uint8_t status = 0;
  std::uint8_t deletedMark = 0;
};

// Where a found sector's stored data lies in the file, and how many of its
// bytes the file holds.
struct SectorData {
  std::int64_t position = 0;
  std::int32_t length = 0;
};

// One step of a sector chain: the sector it asks for, where its bytes go in
// the chain's buffer, and where they lie in the file (-1 when the sector is
// missing; `length` short of the step when the chain breaks there).
struct ChainStep {
  struct Sector {
    std::int32_t track = 0;
    std::int32_t c = 0;
    std::int32_t h = 0;
    std::int32_t r = 0;
  } sector;
  std::int32_t chainOffset = 0;
  std::int64_t position = -1;
  std::int32_t length = 0;
};

// Where a list of a chain's steps ends: at the step that breaks the chain,
// where readSectors stops, or at the chain's end as if nothing broke it.
enum class StepsTo { Break, ChainEnd };

// Why the walk of a track's records ended.
enum class WalkEnd {
  CountReached,  // the record the sector counts name as the last
  ZeroCount,     // a record with a sector count of 0: an unformatted track
  CutShort,      // a record header cut short by the end of the file
  Stopped,       // the caller had what it wanted, or no room for more
  NoTrack,       // the track is absent, or not part of the image
};

// One open D88 file with one selected disk image.
class D88Image {
 public:
  D88Image() = default;
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;
  ~D88Image() = default;  // the file closes itself

  // Opens a D88 file and finds its disk images; a null path closes the file.
  [[nodiscard]] bool open(const char* path);
  // The same for a file the caller opened for binary reading (a null file
  // fails); the image closes it.
  [[nodiscard]] bool openFile(std::FILE* file);
  [[nodiscard]] std::int32_t diskCount() const { return diskCount_; }
  [[nodiscard]] bool selectDisk(std::int32_t index);
  void setSectorRange(std::int32_t first, std::int32_t last);
  [[nodiscard]] const char* diskName() const { return diskName_.data(); }
  [[nodiscard]] std::int32_t mediaType() const { return mediaType_; }
  // The selected image's name field as stored, NULs included.
  [[nodiscard]] const std::array<std::uint8_t, kNameFieldSize>& nameField() const {
    return nameField_;
  }
  // The selected image's write-protect byte (0x10 when protected).
  [[nodiscard]] std::int32_t writeProtect() const { return writeProtect_; }

  // Lays bytes over the file's own for every read after the next selection
  // (null: none); the overlay must outlive the reads.
  void setOverlay(const ByteOverlay* overlay) { file_.setOverlay(overlay); }
  // Reads bytes of the file itself, the overlay laid over them.
  std::int64_t readFileBytes(std::int64_t position, std::uint8_t* dest, std::int64_t count) {
    return file_.readAt(position, dest, count);
  }
  [[nodiscard]] std::int64_t fileSize() const { return file_.size(); }
  // Whether the file changed under the reads since it was opened: a read
  // came back short of the size it had then, or a disk's selection found
  // another size.
  [[nodiscard]] bool fileChanged() const { return file_.changedSinceOpened(); }
  // The size the file had when it was opened, as the reads take it.
  [[nodiscard]] std::int64_t openedSize() const { return file_.openedSize(); }
  // The bytes read from the host file since it was opened.
  [[nodiscard]] std::int64_t hostBytesRead() const { return file_.hostBytesRead(); }
  // How many reads so far met bytes of the overlay.
  [[nodiscard]] std::uint64_t overlaidReads() const { return file_.overlaidReads(); }

  // Size field and file offset of the selected image (0 and -1 when none).
  [[nodiscard]] std::int32_t diskSize() const { return diskSize_; }
  [[nodiscard]] std::int32_t diskBase() const { return diskBase_; }
  [[nodiscard]] std::int32_t diskOffset(std::int32_t index) const;

  // Reads one sector found by its ID; returns the bytes placed in dest.
  std::int32_t readSector(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                          std::int32_t n, std::uint8_t* dest, std::int32_t len);
  // Reads consecutive sectors, moving on across sides and cylinders; returns
  // the bytes of the whole steps that succeeded.
  std::int32_t readSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                           std::int32_t n, std::uint8_t* dest, std::int32_t len);
  // Finds a sector by its ID with the same lookup as readSector.
  [[nodiscard]] std::optional<SectorData> locateSector(std::int32_t track, std::int32_t c,
                                                       std::int32_t h, std::int32_t r,
                                                       std::int32_t n);
  // The record of the sector that locateSector finds, from the track's
  // index: no header is read again.
  [[nodiscard]] std::optional<LocatedRecord> locateRecord(std::int32_t track, std::int32_t c,
                                                          std::int32_t h, std::int32_t r,
                                                          std::int32_t n);
  // The steps readSectors takes for the same arguments, up to `to`. To the
  // break, the one that breaks the chain included, it returns the bytes
  // readSectors would read; to the chain's end, the sectors past a break are
  // listed too, each found or missing as it is (a step's length short of its
  // part when it is), and it returns the bytes the chain asks for.
  std::int32_t chainSteps(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                          std::int32_t n, std::int32_t len, StepsTo to,
                          std::vector<ChainStep>& steps);
  std::int32_t locateSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                             std::int32_t n, std::int32_t len, std::vector<ChainStep>& steps) {
    return chainSteps(track, c, h, r, n, len, StepsTo::Break, steps);
  }
  std::int32_t planSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                           std::int32_t n, std::int32_t len, std::vector<ChainStep>& steps) {
    return chainSteps(track, c, h, r, n, len, StepsTo::ChainEnd, steps);
  }
  // The bytes readSectors would read for the same arguments, found without
  // reading a byte of sector data.
  [[nodiscard]] std::int32_t chainLength(std::int32_t track, std::int32_t c, std::int32_t h,
                                         std::int32_t r, std::int32_t n, std::int32_t len);
  // Lists a track's sector IDs, 4 bytes each, in stored order.
  std::int32_t readSectorIds(std::int32_t track, std::uint8_t* out, std::int32_t len);
  // Lists the same records as readSectorIds with all their header fields;
  // returns how many were stored, at most maxRecords, and tells why the walk
  // ended when `end` is given.
  std::int32_t readSectorRecords(std::int32_t track, SectorRecordInfo* out, std::int32_t maxRecords,
                                 WalkEnd* end = nullptr);
  // The file positions of a track's record headers, in stored order: the
  // records readSectorRecords lists, taken from the track's map when it
  // holds them all.
  void readRecordPositions(std::int32_t track, std::vector<std::int64_t>& positions);
  // The selected disk's stored offset of a track (0 for an index out of range).
  [[nodiscard]] std::int32_t trackOffset(std::int32_t track) const {
    return track >= 0 && track < kTrackCount ? trackOffsets_[static_cast<std::size_t>(track)] : 0;
  }
  // Whether reads can reach a track of the selected disk at all.
  [[nodiscard]] bool hasTrack(std::int32_t track) const { return trackStart(track).has_value(); }

 private:
  using RecordHeader = SectorRecordInfo;

  void scanDisks();
  void forgetIndexes();
  [[nodiscard]] bool isOpen() const { return file_.isOpen(); }
  // The file position of a present track of the selected disk.
  [[nodiscard]] std::optional<std::int64_t> trackStart(std::int32_t track) const;
  [[nodiscard]] bool readRecordHeader(std::int64_t position, RecordHeader& header);
  template <typename Visit>
  WalkEnd walkTrack(std::int64_t start, Visit&& visit);
  const SectorIdIndex& sectorIndexFor(std::int32_t track, std::int64_t start);
  const SectorMap& sectorMapFor(std::int32_t track, std::int64_t start, const SectorId& id);
  // A record found by its ID: its header's position and marks.
  struct FoundRecord {
    std::int64_t position = 0;
    RecordMarks marks;
  };
  [[nodiscard]] std::optional<FoundRecord> walkToSector(std::int64_t start, std::uint32_t key);
  [[nodiscard]] std::optional<FoundRecord> findRecord(std::int32_t track, std::int32_t c,
                                                      std::int32_t h, std::int32_t r,
                                                      std::int32_t n);
  // Steps through a chain: step(track, c, h, r, chainOffset, size) returns
  // the bytes it got, and fewer than size ends the chain.
  template <typename Step>
  std::int32_t walkChain(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                         std::int32_t n, std::int32_t len, Step&& step);

  BufferedFile file_;
  // Built on a track's first lookup, dropped when another disk is selected:
  // the map holds the C, H and N of that first lookup, which on a normal disk
  // are those of every later one; the full index is built only for others.
  std::array<SectorMap, kTrackCount> sectorMaps_{};
  std::array<SectorIdIndex, kTrackCount> sectorIndexes_{};
  std::int32_t diskCount_ = 0;
  std::int32_t firstSector_ = 1;
  std::int32_t lastSector_ = 16;
  std::array<std::int32_t, kMaxDisks> diskOffsets_{};
  std::int32_t diskSize_ = 0;
  std::int32_t diskBase_ = 0;
  std::array<std::int32_t, kTrackCount> trackOffsets_{};
  std::int32_t mediaType_ = -1;
  std::array<char, kNameFieldSize> diskName_{};
  std::array<std::uint8_t, kNameFieldSize> nameField_{};
  std::int32_t writeProtect_ = -1;
};

}  // namespace d88
