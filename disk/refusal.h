// Why a put-back refuses or ignores something, as a code and the fields its
// words name; format/put_words.h words them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace disk {

enum class RefusalCode : std::uint8_t {
  None,                  // no refusal: the diagnostic's own text says it
  NoSuchFile,            // (notice) no file of the edit's name on `disk`
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
  std::string why;                 // what is in the way, as the room words it
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
