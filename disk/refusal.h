// Why a put-back refuses or ignores something, as a code and the fields its
// words name; format/put_words.h words them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace disk {

// What ends a table's room, or keeps a table file from moving or changing
// size, as a code and the fields its words name; format/room_words.h words
// them. A `name` left empty is the table's last entry, which names no file.
enum class RoomReasonCode : std::uint8_t {
  None,
  DiskEnds,          // the linear order ends after the last track an entry names
  NoSector,          // `track` has no sector `r`
  NotPlainSector,    // `track` sector `r` is not a plain 256-byte sector
  HoldsBytes,        // `track` sector `r` holds bytes of `user`
  NotBlank,          // `track` sector `r` holds more than one value
  PastBuffer,        // `name` would reach past the extract buffer, its offset included
  ZeroAppears,       // `name`, of 0 bytes, would move off offset 0 of its sector
  ZeroVanishes,      // `name`, of 0 bytes, would move to offset 0 of its sector
  BecomesZero,       // `name` would be of 0 bytes at offset 0 of its sector
  TrackUnwhole,      // the table's track `track` does not read all its bytes
  DamagedEntry,      // `name`'s entry names `track` sector `r`, outside the linear order
  DamagedLaying,     // `name` is not laid end to end: its size is negative or too large
  UnfitLaying,       // `name` is not laid end to end: `cause` at `track` sector `r`
  SharesBytes,       // `name` shares bytes with `user`
  FirstEntry,        // where the second file starts is part of what recognises the disk
  ZeroAtOffsetZero,  // `name` is of 0 bytes at offset 0: d88extract writes no such file
  NamedTwice,        // two table files are named `name`
  EntryRewritten,    // `table`'s entry of `name` would be rewritten, in bytes of `user`
  EntryInFile,       // `table`'s entry of `name` lies wholly in bytes of `user`
  TableGrows,        // the file grows `table` by `growth` bytes, but `cause` ends the room
};

// What occupies bytes of the selected disk in the D88 file.
enum class ByteUserKind : std::uint8_t {
  DiskHeader,
  RecordHeader,
  FixedFile,
  TableFile,
  TableEntries
};

struct RoomReason {
  RoomReasonCode code = RoomReasonCode::None;
  // What lies within: the sector of UnfitLaying, what ends the room of
  // TableGrows (with `track`, `r` and `user`).
  RoomReasonCode cause = RoomReasonCode::None;
  std::string name;  // a table file's name ("S101")
  // What uses the bytes in the way: a file (`user` its name), a disk's
  // header (`userOf` the disk), a sector record header, or a table's entries
  // (`userOf` the table).
  ByteUserKind userKind = ByteUserKind::FixedFile;
  std::string user;
  std::int32_t userOf = 0;
  std::int32_t track = 0;
  std::int32_t r = 0;
  std::int32_t table = -1;
  std::int32_t growth = 0;
  // No reason: nothing is in the way.
  [[nodiscard]] bool empty() const { return code == RoomReasonCode::None; }
};

[[nodiscard]] inline bool operator==(const RoomReason& a, const RoomReason& b) {
  return a.code == b.code && a.cause == b.cause && a.name == b.name && a.userKind == b.userKind &&
         a.user == b.user && a.userOf == b.userOf && a.track == b.track && a.r == b.r &&
         a.table == b.table && a.growth == b.growth;
}
[[nodiscard]] inline bool operator!=(const RoomReason& a, const RoomReason& b) {
  return !(a == b);
}

enum class RefusalCode : std::uint8_t {
  None,                  // no refusal: the diagnostic's own text says it
  NoSuchFile,            // (notice) no file of the edit's name on `disk`
  NoSuchDisk,            // (notice) the edits of folder `file` name no disk of the file
  CannotRead,            // the edit cannot be read
  OtherSize,             // of `size` bytes, the disk's file `was`; resizing would take it or not
  UnknownDisk,           // cannot change size: the disk is not recognised
  FixedFile,             // cannot change size: a fixed file
  FirstEntry,            // cannot change size: the next entry is part of recognition
  NamedTwice,            // cannot change size: two table files are named `name`
  PastExtractBuffer,     // of `size` bytes, more than `was` (the buffer)
  ChainBreaks,           // cannot be changed: its chain breaks at `track`, `r`
  NotRelaid,             // cannot change size: `why` (of `table`'s track when table >= 0)
  TableGrows,            // grows `table` by `growth` bytes, but `why`
  HeaderChanged,         // would change the header of `disk` (`file` empty: not known whose)
  NotReadBack,           // would not read back as put: shares bytes with `files`
  WouldChange,           // another file would change: shares bytes with `files`
  EditChanged,           // the edit changed since it was compared
  EditChangedUnwritten,  // the same, found while writing: nothing written
  FilesChanged,          // `disk` would change its kind or files; `files` were put back there
};

struct Refusal {
  RefusalCode code = RefusalCode::None;
  std::string file;  // the edit, as the edit source shows it ("000/S101")
  std::string name;  // a table file's name ("S101")
  std::int32_t disk = 0;
  std::uint64_t size = 0;  // the edit's size
  std::int32_t was = 0;    // the disk's file's size, or the largest reach
  std::int32_t table = -1;
  std::int32_t track = 0;
  std::int32_t r = 0;
  std::int32_t growth = 0;
  bool resizeWouldTake = false;    // a size change that moving later files would take
  RoomReason why;                  // what is in the way
  std::vector<std::string> files;  // the files sharing bytes, or put back on the disk
};

[[nodiscard]] inline bool operator==(const Refusal& a, const Refusal& b) {
  return a.code == b.code && a.file == b.file && a.name == b.name && a.disk == b.disk &&
         a.size == b.size && a.was == b.was && a.table == b.table && a.track == b.track &&
         a.r == b.r && a.growth == b.growth && a.resizeWouldTake == b.resizeWouldTake &&
         a.why == b.why && a.files == b.files;
}
[[nodiscard]] inline bool operator!=(const Refusal& a, const Refusal& b) {
  return !(a == b);
}

}  // namespace disk
