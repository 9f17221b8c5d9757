// What a D88 file holds, disk by disk, and what d88extract -a would do with
// each disk: the one description that every listing formats.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "d88/d88_image.h"
#include "disk/chain.h"
#include "disk/file_tables.h"
#include "disk/room.h"

namespace disk {

// A slot of the track table with a stored offset, and the records its walk
// reaches: the records d88extract reads sectors from.
struct TrackListing {
  std::int32_t slot = 0;
  std::int32_t storedOffset = 0;
  // Some writers store only 160 track offsets and start the first track right
  // after them: the last four slots then hold sector bytes, which may make an
  // offset into the disk header. Reads still walk the header's bytes from
  // there as records, and the listing lists what that walk finds.
  bool insideHeader = false;
  // The offset lies past the disk's size field (or is negative): reads never
  // reach it, there is no walk and no record (insideHeader is false).
  bool pastSize = false;
  std::vector<d88::SectorRecordInfo> records;
  d88::WalkEnd walkEnd = d88::WalkEnd::NoTrack;  // NoTrack exactly when pastSize
};

struct FileListing {
  DiskFile file;
  FileVerdict verdict = FileVerdict::Complete;
  std::int32_t bytesRead = 0;  // of an incomplete file: the bytes before the break
};

struct DiskListing {
  std::int32_t index = 0;
  std::int32_t offset = 0;
  // A header cut short by the end of the file: nothing below is known.
  bool headerComplete = false;
  std::array<std::uint8_t, d88::kNameFieldSize> nameField{};
  std::int32_t writeProtect = 0;
  std::int32_t mediaType = 0;
  std::int32_t sizeField = 0;
  std::vector<TrackListing> tracks;  // the slots with an offset, in slot order
  DiskKind kind = DiskKind::Unknown;
  std::vector<FileListing> files;  // every file "-a" writes, in extraction order
  // Of a recognised disk, its first and second table: where the last file
  // ends and the blank bytes after it, the room the table has to grow.
  std::vector<TableRoom> rooms;
};

// The room a description reads into, owned by the caller (one for each disk
// read at a time): the two file tables, and a chain buffer of
// kExtractBufferSize bytes.
struct DiskBuffers {
  TableBuffers& tables;
  std::uint8_t* chain;
};

// Describes each disk image of the open file in file order, handing each to
// `visit` before the next is read, so that memory holds one disk at a time.
// It selects each disk in turn.
void describeImage(d88::D88Image& image, const DiskBuffers& buffers,
                   const std::function<void(const DiskListing&)>& visit);
// What describeDisk fills in: a caller that only needs the files can leave
// out the tracks, and one that reads each file with listFile itself can leave
// out the chains (every file's verdict is then Complete). `chainBytes`
// false finds each chain's sectors without reading their bytes: the same
// verdicts, the chain buffer left as it was.
struct DescribeParts {
  bool tracks = true;
  bool chains = true;
  bool chainBytes = true;
  bool rooms = true;
};
// The files and nothing else: no track records, no chain reads, no rooms.
inline constexpr DescribeParts kFileListOnly{false, false, false, false};
// The files and their verdicts: no track records, no byte of a file read,
// no rooms.
inline constexpr DescribeParts kVerdictsOnly{false, true, false, false};

// Selects and describes one disk of the open file into `disk` (whose room
// is reused), reading into `buffers`.
void describeDisk(d88::D88Image& image, std::int32_t index, const DiskBuffers& buffers,
                  DiskListing& disk, DescribeParts parts = {});
// Whether the open file changed while `disk` (its last disk described) was
// read: a header the scan found that no longer reads whole, or what the
// reader saw of it (D88Image::fileChanged: a read that came back short of
// the size the file had when it was opened, or another size at a disk's
// selection). A listing of a file that changed is not the file's listing.
[[nodiscard]] bool changedWhileRead(const d88::D88Image& image, const DiskListing& disk);
// Describes each disk of the open file in file order into `disk`, handing
// it to `visit`, until a disk shows the file changed (changedWhileRead):
// that disk is not visited, and the result is false.
[[nodiscard]] bool describeUnchanged(d88::D88Image& image, const DiskBuffers& buffers,
                                     DiskListing& disk, DescribeParts parts,
                                     const std::function<void(const DiskListing&)>& visit);
// What extraction does with one file of the selected disk; its chain is left
// in `buffer` (from the file's offset on).
[[nodiscard]] FileListing listFile(d88::D88Image& image, std::uint8_t* buffer,
                                   const DiskFile& file);

// Of several written files of one name, d88extract leaves the one written
// last. Walking a disk's files from the last, claim() is true for the first
// met of each name: the file that name ends up holding.
class LastOfName {
 public:
  [[nodiscard]] bool claim(const std::string& name) { return met_.insert(name).second; }
  [[nodiscard]] bool claimed(const std::string& name) const { return met_.count(name) != 0; }

 private:
  std::set<std::string> met_;
};

// By file: whether it is written and the last written of its name.
[[nodiscard]] std::vector<bool> lastOfTheirName(const std::vector<FileListing>& files);

// The name of a media type byte ("2D", "2HD", ...; "unknown" for others).
[[nodiscard]] const char* mediaName(std::int32_t mediaType);

}  // namespace disk
