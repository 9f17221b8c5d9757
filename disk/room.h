// The room a file table has to grow: where its last file ends in the disk's
// linear order (track index, then sectors 1 to 16 of 256 bytes), and how
// many blank bytes follow that nothing else uses. One model for what
// d88info lists and for whether a put-back that changes sizes fits.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "d88/d88_image.h"
#include "disk/chain.h"
#include "disk/file_tables.h"
#include "disk/refusal.h"

namespace disk {

// Every linear address of a disk: the track table's 164 tracks.
constexpr std::int32_t kLinearDiskSize = d88::kTrackCount * kTableSize;
static_assert(kLinearDiskSize == (kLastEntryTrack + 1) * kTableSize,
              "an entry can name every track of the linear order");

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

// What is wrong with a sector that is not plain: it lies past the last
// track, is missing, or is not a plain 256-byte sector.
[[nodiscard]] RoomReason unfitSector(const LinearSector& sector);

// The file positions of linear addresses [address, address + length), in
// order; none when a sector on the way is not plain (`failed` then holds it).
[[nodiscard]] std::optional<std::vector<FileSpan>> linearSpans(d88::D88Image& image,
                                                               std::int32_t address,
                                                               std::int32_t length,
                                                               LinearSector* failed = nullptr);

// The sectors of the selected disk's linear order, each looked up once:
// for a disk whose files are walked sector by sector several times over.
class LinearSectors {
 public:
  // Forgets every sector, for another disk.
  void reset() { positions_.clear(); }
  // linearSector of `address`.
  [[nodiscard]] LinearSector at(d88::D88Image& image, std::int32_t address);
  // linearSpans of the range.
  [[nodiscard]] std::optional<std::vector<FileSpan>> spans(d88::D88Image& image,
                                                           std::int32_t address,
                                                           std::int32_t length,
                                                           LinearSector* failed = nullptr);

 private:
  // By address / kSectorSize, the data's position of a plain sector, or
  // what else it is (8 bytes a sector: a disk's take 21 KiB).
  std::vector<std::int64_t> positions_;
};

// A disk has thousands of users (a record header and a file span per
// sector): each takes 16 bytes.
struct ByteUser {
  std::int64_t position = 0;
  std::int32_t length = 0;  // a disk header, a record header or a chain step
  std::uint16_t name = 0;   // index of a file's name; a disk header's disk
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
  // Collects the users of the selected disk of `kind`, whose tables are
  // read, walking every track's records.
  void collect(d88::D88Image& image, DiskKind kind, const TableBuffers& tables);
  // The same in three steps, for a caller that has walked the records: the
  // disk headers, then the records of each track a walk reaches, then the
  // files and the tables' entries.
  void begin(d88::D88Image& image);
  void addRecords(const std::vector<d88::SectorRecordInfo>& records);
  // The same, by the headers' file positions.
  void addRecordHeaders(const std::vector<std::int64_t>& positions);
  void finish(d88::D88Image& image, DiskKind kind, const TableBuffers& tables);
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
  // `reason` naming `user` as what is in the way.
  [[nodiscard]] RoomReason naming(RoomReason reason, const ByteUser& user) const;
  // The sectors of the disk collected, looked up once.
  [[nodiscard]] LinearSectors& linear() const { return linear_; }

 private:
  void add(const std::vector<FileSpan>& spans, ByteUserKind kind, std::int32_t table,
           const std::string& name);

  std::vector<ByteUser> users_;  // by position
  std::int64_t longest_ = 0;
  std::vector<std::string> names_;
  std::vector<d88::ChainStep> steps_;
  mutable LinearSectors linear_;
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
  std::int32_t room = 0;   // the most bytes one file of the table can grow by
  std::uint8_t blank = 0;  // the value of the blank bytes after the end (0x00 when none)
  // What ends the room: a sector that holds bytes of something else, is
  // not blank or not plain, or a growth no file can take; or, when no file
  // of the table may change size (`fixed`), why.
  RoomReason stop;
  bool fixed = false;
  std::int32_t grows = -1;  // the table index of the file that can grow by `room`
};
// Bytes from `end` on, sector by sector, while each sector is plain, none of
// its bytes from `end` on is used, and all hold one value: `room` is then
// the blank bytes, whoever may take them.
// With `enough`, the measure stops once the room holds that many bytes and
// its blank value is known: `stop` is then empty.
[[nodiscard]] TableRoom measureRoom(d88::D88Image& image, const DiskUsage& usage, std::int32_t end,
                                    std::int32_t enough = kLinearDiskSize);

// Why a table file re-laid from `oldAt` (`oldSize` bytes) to `newAt`
// (`newSize` bytes) would not be the same file to d88extract, which skips a
// file that reaches past its buffer and one of 0 bytes at offset 0 of its
// sector; empty when it would be.
[[nodiscard]] RoomReason relaidFileFault(const std::string& name, std::int32_t oldAt,
                                         std::int32_t oldSize, std::int32_t newAt,
                                         std::int32_t newSize);

// A table of a recognised disk as a re-laying sees it: the checks that do not
// depend on the new sizes, entry by entry, and the room one file of it can
// grow by. One model for what the planner accepts and what d88info lists.
class TableFit {
 public:
  TableFit(d88::D88Image& image, const DiskUsage& usage, DiskKind kind, std::int32_t table,
           const TableBuffers& tables);

  [[nodiscard]] const TableShape& shape() const { return shape_; }
  // Why no entry of the table can be rewritten (its track does not read
  // whole); empty when every entry has a place.
  [[nodiscard]] const RoomReason& unwhole() const { return unwhole_; }
  // Why entry `index` (up to the last entry) gives no linear address.
  [[nodiscard]] RoomReason damagedEntry(std::int32_t index) const;
  // Why file `index` (below the last entry) cannot move or change size
  // where it lies: not laid end to end, or sharing bytes with what stays.
  [[nodiscard]] RoomReason unfitFile(std::int32_t index) const;
  // Why file `index` has a fixed size of its own: the first entry's, or a
  // name that two table files have.
  [[nodiscard]] RoomReason fixedSize(std::int32_t index) const;
  // The linear address of entry `index`, where damagedEntry is empty.
  [[nodiscard]] std::int32_t addressOf(std::int32_t index) const;
  // "D003", or empty for the table's last entry, after the last file.
  [[nodiscard]] std::string nameOf(std::int32_t index) const;
  // The first reason, entry by entry from `first` on, why the files from
  // `first` on cannot be re-laid; empty when they can.
  [[nodiscard]] RoomReason unfitFrom(std::int32_t first) const;
  // Why file `index` cannot change size by `by` bytes alone, the room after
  // the table given; empty when it can.
  [[nodiscard]] RoomReason refusedChange(std::int32_t index, std::int32_t by,
                                         const TableRoom& blank) const;
  // The entries whose bytes lie in a file's bytes, in order: the only ones
  // whose rewriting can change another file.
  [[nodiscard]] const std::vector<std::int32_t>& entriesInFiles() const { return inFiles_; }
  // Why rewriting entry `index` for a file at `newAt` would change another
  // file, whose bytes hold the entry's bytes that change; empty when none.
  [[nodiscard]] RoomReason rewrittenEntryFault(std::int32_t index, std::int32_t newAt) const;
  // The room the table lists: the largest growth of one of its files.
  [[nodiscard]] TableRoom room() const;

 private:
  d88::D88Image& image_;
  const DiskUsage& usage_;
  DiskKind kind_;
  std::int32_t table_;
  std::int32_t otherFiles_;  // the files of the disk's other table
  TableShape shape_;
  RoomReason unwhole_;
  std::vector<FileTableEntry> entries_;
  std::vector<std::int32_t> at_;  // of each entry, -1 where damaged
  // Files of 0 bytes, or so large that a move can take them out of reach.
  std::vector<std::int32_t> special_;
  std::vector<std::int32_t> inFiles_;  // entries that lie in a file's bytes
  // The first file whose bytes hold one of the marked bytes of entry `index`.
  [[nodiscard]] const ByteUser* fileUnder(std::int32_t index,
                                          const std::array<bool, kEntrySize>& bytes) const;
  // The first entry from which on the files are laid end to end where they
  // lie and may move, and why the one before may not (in `why`).
  [[nodiscard]] std::int32_t laidFrom(RoomReason& why) const;
  // By a growth's offset in a sector, the last file that a growth of that
  // offset moves out of what d88extract reads, or into it; -1 for none.
  [[nodiscard]] std::array<std::int32_t, kSectorSize> lastMovedOut() const;
  // Why the entries after file `index` cannot move by `by` bytes.
  [[nodiscard]] RoomReason entriesFault(std::int32_t index, std::int32_t by) const;
};

// The room of a recognised disk's two tables, the selected disk's tables
// read and its byte users collected.
[[nodiscard]] std::vector<TableRoom> measureTableRooms(d88::D88Image& image, DiskKind kind,
                                                       const TableBuffers& tables,
                                                       const DiskUsage& usage);

}  // namespace disk
