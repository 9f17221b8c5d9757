// The room a file table has to grow: where its last file ends in the disk's
// linear order (track index, then sectors 1 to 16 of 256 bytes), and how
// many blank bytes follow that nothing else uses. One model for what
// d88info lists and for whether a put-back that changes sizes fits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chain.h"
#include "d88_image.h"
#include "file_tables.h"

// Every linear address of a disk: the track table's 164 tracks.
constexpr std::int32_t kLinearDiskSize = d88::kTrackCount * kTableSize;
static_assert(kLinearDiskSize == (kLastEntryTrack + 1) * kTableSize,
              "an entry can name every track of the linear order");
// d88extract skips a file whose offset and size reach past its buffer.
constexpr std::int32_t kLargestFileReach = kExtractBufferSize;
static_assert(kLargestFileReach == 327680, "offset + size at most 327,680 bytes");

// A byte range of the D88 file.
struct FileSpan {
  std::int64_t position = 0;
  std::int64_t length = 0;
};

// What a sector of the linear order is to a put-back that writes it: plain
// when the lookup of a read finds it with N = 1, 256 bytes of data, status
// 0x00 and no deleted mark (a sector with an error status reads here, but
// fails on the machine that runs the disk).
enum class SectorFitness { Plain, Missing, NotPlain };
struct LinearSector {
  SectorFitness fitness = SectorFitness::Missing;
  std::int32_t track = 0;
  std::int32_t r = 0;
  std::int64_t position = 0;  // of its data, when plain
};
[[nodiscard]] LinearSector linearSector(d88::D88Image& image, std::int32_t address);

// What is wrong with a sector that is not plain: "track 0A has no sector
// 07", "track 0A sector 07 is not a plain 256-byte sector".
[[nodiscard]] std::string unfitSector(const LinearSector& sector);

// The file positions of linear addresses [address, address + length), in
// order; none when a sector on the way is not plain (`failed` then holds it).
[[nodiscard]] std::optional<std::vector<FileSpan>> linearSpans(d88::D88Image& image,
                                                               std::int32_t address,
                                                               std::int32_t length,
                                                               LinearSector* failed = nullptr);

// What occupies bytes of the selected disk in the D88 file.
enum class ByteUserKind : std::uint8_t {
  DiskHeader,
  RecordHeader,
  FixedFile,
  TableFile,
  TableEntries
};
// A disk has thousands of users (a record header and a file span per
// sector): each takes 16 bytes.
struct ByteUser {
  std::int64_t position = 0;
  std::int32_t length = 0;  // a disk header, a record header or a chain step
  std::uint16_t name = 0;   // index of its name
  ByteUserKind kind = ByteUserKind::FixedFile;
  std::int8_t table = -1;  // 0 first, 1 second: of a table file or entries
};
static_assert(sizeof(ByteUser) == 16, "a user takes 16 bytes");
// The names of a disk's users: every disk header's, one for the record
// headers, the fixed files', both tables' files' and both tables' entries'.
constexpr std::int64_t kMostUserNames =
    d88::kMaxDisks + 1 + static_cast<std::int64_t>(kMaxFixedFiles) + 2 * kEntriesPerTable + 2;
static_assert(kMostUserNames <= UINT16_MAX + 1, "a user's name index fits 16 bits");

// Every user of a disk's bytes: every disk header of the file, the disk's
// sector record headers, its fixed files, both tables' files and both
// tables' entries up to their end marks.
class DiskUsage {
 public:
  // Collects the users of the selected disk of `kind`, whose tables are read.
  void collect(d88::D88Image& image, DiskKind kind, const TableBuffers& tables);
  // The first user (by position) among those `accepted` takes that meets
  // [position, position + length); none when no such user does.
  template <typename Accept>
  [[nodiscard]] const ByteUser* userOf(std::int64_t position, std::int64_t length,
                                       Accept&& accepted) const {
    // No user starting before position - longest_ reaches the range.
    auto it =
        std::lower_bound(users_.begin(), users_.end(), position - longest_,
                         [](const ByteUser& user, std::int64_t at) { return user.position < at; });
    for (; it != users_.end() && it->position < position + length; ++it) {
      if (it->position + it->length > position && accepted(*it)) {
        return &*it;
      }
    }
    return nullptr;
  }
  [[nodiscard]] const std::string& nameOf(const ByteUser& user) const {
    return names_.at(static_cast<std::size_t>(user.name));
  }

 private:
  void add(const std::vector<FileSpan>& spans, ByteUserKind kind, std::int32_t table,
           const std::string& name);

  std::vector<ByteUser> users_;  // by position
  std::int64_t longest_ = 0;
  std::vector<std::string> names_;
  std::vector<d88::ChainStep> steps_;
};

// One table of a disk as a put-back that re-lays it sees it.
struct TableShape {
  std::int32_t track = 0;
  std::int32_t firstNumber = 0;
  // The table track's sectors read all 4096 bytes: every entry has a place.
  bool whole = false;
  std::vector<d88::ChainStep> steps;
  // Files of the table, and the entry that marks where the last one ends
  // (the one before the end mark, or the last whole entry of a full track).
  std::int32_t fileCount = 0;
  [[nodiscard]] std::int32_t lastEntry() const { return fileCount; }
  // Bytes of the table track the entries take, end mark included.
  std::int32_t entryBytes = 0;
};
[[nodiscard]] TableShape shapeOfTable(d88::D88Image& image, const DiskLayout& layout,
                                      std::int32_t table, const TableBuffer& bytes);

// The room after a table's last file.
struct TableRoom {
  bool measured = false;   // a recognised disk's table with files
  std::int32_t end = 0;    // linear address where the last file ends
  std::int32_t room = 0;   // blank bytes from there, up to a whole sector's end
  std::uint8_t blank = 0;  // their value (0x00 when there are none)
  // What ends the room: "track 10 sector 01 holds bytes of DRIVER", "track
  // 0A sector 03 is not blank", "track 0A has no sector 07".
  std::string stop;
};
// Bytes from `end` on, sector by sector, while each sector is plain, none of
// its bytes from `end` on is used, and all hold one value.
[[nodiscard]] TableRoom measureRoom(d88::D88Image& image, const DiskUsage& usage, std::int32_t end);
// The room of a recognised disk's two tables, the selected disk's tables read.
[[nodiscard]] std::vector<TableRoom> measureTableRooms(d88::D88Image& image, DiskKind kind,
                                                       const TableBuffers& tables);
