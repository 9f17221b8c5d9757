#include "format/listing_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "format/listing_words.h"
#include "format/room_words.h"
#include "text/string_format.h"
#include "text/tool_messages.h"

namespace format {

using namespace disk;

namespace {

constexpr std::uint8_t kSingleDensity = 0x40;
constexpr std::uint8_t kDeletedData = 0x10;

using d88text::appendFormat;

// After an ID: [LLLL] when the stored data length is not 128 << N, then the
// record's marks in braces: "fm" single density, "del" a deleted data mark,
// "st=XX" a non-zero controller status (other values of the two flag bytes
// are shown as "den=XX" and "del=XX").
void appendRecord(std::string& out, const d88::SectorRecordInfo& record) {
  appendFormat(out, " %02X-%02X-%02X-%02X", record.id.c, record.id.h, record.id.r, record.id.n);
  // A size code past the largest names no length a record can have.
  const bool nominal = record.id.n <= d88::kMaxSizeCode &&
                       record.dataLength == (std::int64_t{d88::kBaseSectorSize} << record.id.n);
  if (!nominal) {
    appendFormat(out, "[%04X]", static_cast<unsigned>(record.dataLength));
  }
  std::string marks;
  if (record.density == kSingleDensity) {
    marks += ",fm";
  } else if (record.density != 0) {
    appendFormat(marks, ",den=%02X", record.density);
  }
  if (record.deletedMark == kDeletedData) {
    marks += ",del";
  } else if (record.deletedMark != 0) {
    appendFormat(marks, ",del=%02X", record.deletedMark);
  }
  if (record.status != 0) {
    appendFormat(marks, ",st=%02X", record.status);
  }
  if (!marks.empty()) {
    out += "{" + marks.substr(1) + "}";
  }
}

void appendTrack(std::string& out, const TrackListing& track) {
  appendFormat(out, "  track %3d (C %2d H %d): ", track.slot, d88::cylinderOfSlot(track.slot),
               d88::headOfSlot(track.slot));
  const auto offset = static_cast<std::uint32_t>(track.storedOffset);
  if (track.pastSize) {
    appendFormat(out, "past the disk's size (offset 0x%08X)\n", static_cast<unsigned>(offset));
    return;
  }
  if (track.insideHeader) {
    appendFormat(out, "inside the disk header (offset 0x%08X): ", static_cast<unsigned>(offset));
  }
  if (track.records.empty()) {
    out += "no sectors";
  } else {
    appendFormat(out, "%d sectors:", track.records.front().sectorCount);
  }
  for (const d88::SectorRecordInfo& record : track.records) {
    appendRecord(out, record);
  }
  // The walk ends early on damage, before the first record too (a track of a
  // truncated file): say where the records stopped.
  if (track.walkEnd == d88::WalkEnd::CutShort) {
    out += "  (cut short by the end of the file)";
  } else if (track.walkEnd == d88::WalkEnd::ZeroCount) {
    out += "  (ends at a record with sector count 0)";
  }
  out += "\n";
}

void appendFile(std::string& out, const FileListing& listing) {
  const DiskFile& file = listing.file;
  std::string line =
      d88text::format(messages::kReportLine, file.name.data(), static_cast<unsigned>(file.track),
                      static_cast<unsigned>(file.r), static_cast<unsigned>(file.offset),
                      static_cast<unsigned>(file.size));
  line.erase(std::min(line.find('\n'), line.size()));
  out += "  " + line;
  if (file.writtenWithoutAll) {
    out += "  (written without -a)";
  }
  if (listing.verdict == FileVerdict::Incomplete) {
    appendFormat(out, "  (chain breaks: read %04X of %04X bytes)",
                 static_cast<unsigned>(listing.bytesRead), static_cast<unsigned>(file.size));
  } else if (const char* reason = verdictWords(listing.verdict).reasonText) {
    appendFormat(out, "  (skipped: %s)", reason);
  }
  out += "\n";
}

}  // namespace

std::string formatDiskText(const DiskListing& disk) {
  std::string out;
  if (!disk.headerComplete) {
    appendFormat(out, "disk %d: offset 0x%08X  header cut short\n", disk.index,
                 static_cast<unsigned>(disk.offset));
    return out;
  }
  appendFormat(out, "disk %d: offset 0x%08X  name \"", disk.index,
               static_cast<unsigned>(disk.offset));
  out += decodedDiskName(disk, true);
  appendFormat(out, "\"  media 0x%02X (%s)  size 0x%08X", static_cast<unsigned>(disk.mediaType),
               mediaName(disk.mediaType), static_cast<unsigned>(disk.sizeField));
  if (disk.writeProtect != 0) {
    appendFormat(out, "  write-protected 0x%02X", static_cast<unsigned>(disk.writeProtect));
  }
  out += "\n";
  for (const TrackListing& track : disk.tracks) {
    appendTrack(out, track);
  }
  appendFormat(out, "  kind: %s\n", layoutOf(disk.kind).announcement.listingName);
  for (const FileListing& file : disk.files) {
    appendFile(out, file);
  }
  for (std::size_t table = 0; table < disk.rooms.size(); ++table) {
    const TableRoom& room = disk.rooms[table];
    appendFormat(out, "  %s table: ", tableWord(static_cast<std::int32_t>(table)));
    if (!room.measured) {
      out += "no files\n";
      continue;
    }
    const AddressPlace end = placeOfAddress(room.end);
    appendFormat(out, "ends at trk: %02X  sec: %02X  ofs: %02X, room to grow: ",
                 static_cast<unsigned>(end.track), static_cast<unsigned>(end.r),
                 static_cast<unsigned>(end.offset));
    if (room.fixed) {
      out += "none: " + roomReasonText(room.stop) + "\n";
      continue;
    }
    appendFormat(out, "%04X bytes of %02X (", static_cast<unsigned>(room.room),
                 static_cast<unsigned>(room.blank));
    out += roomReasonText(room.stop) + ")\n";
  }
  return out;
}

}  // namespace format
