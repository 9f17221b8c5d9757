#include "format/room_words.h"

#include "disk/chain.h"
#include "disk/file_tables.h"
#include "text/string_format.h"

namespace format {

using namespace disk;

using d88text::format;

namespace {

std::string trackAndSector(const RoomReason& reason) {
  return format("track %02X sector %02X", static_cast<unsigned>(reason.track),
                static_cast<unsigned>(reason.r));
}

// What uses the bytes in the way.
std::string userText(const RoomReason& reason) {
  switch (reason.userKind) {
    case ByteUserKind::DiskHeader:
      return format("the header of disk %d", static_cast<int>(reason.userOf));
    case ByteUserKind::RecordHeader:
      return "a sector record header";
    case ByteUserKind::TableEntries:
      return format("the %s table's entries", tableWord(reason.userOf));
    case ByteUserKind::FixedFile:
    case ByteUserKind::TableFile:
      break;
  }
  return reason.user;
}

// A table's entry: of a file, or the last entry, after the last file.
std::string entryText(const RoomReason& reason) {
  return format("the %s table's ", tableWord(reason.table)) +
         (reason.name.empty() ? std::string("last entry") : "entry of " + reason.name);
}

// The reason within: what ends the room, or the sector of a laying.
RoomReason inner(const RoomReason& reason) {
  RoomReason within = reason;
  within.code = reason.cause;
  within.cause = RoomReasonCode::None;
  return within;
}

const char* const kSkipped = "d88extract skips a file of 0 bytes there";

}  // namespace

std::string roomReasonText(const RoomReason& reason) {
  // The last entry names no file.
  const std::string name = reason.name.empty() ? "the table's last entry" : reason.name;
  switch (reason.code) {
    case RoomReasonCode::None:
      return std::string();
    case RoomReasonCode::DiskEnds:
      return format("the disk ends after track %02X", static_cast<unsigned>(kLastEntryTrack));
    case RoomReasonCode::NoSector:
      return format("track %02X has no sector %02X", static_cast<unsigned>(reason.track),
                    static_cast<unsigned>(reason.r));
    case RoomReasonCode::NotPlainSector:
      return trackAndSector(reason) + " is not a plain 256-byte sector";
    case RoomReasonCode::HoldsBytes:
      return trackAndSector(reason) + " holds bytes of " + userText(reason);
    case RoomReasonCode::NotBlank:
      return trackAndSector(reason) + " is not blank";
    case RoomReasonCode::PastBuffer:
      return name + format(" would reach past %d bytes, its offset included",
                           static_cast<int>(kExtractBufferSize));
    case RoomReasonCode::ZeroAppears:
      return name + ", of 0 bytes, would move off offset 0 of its sector and appear: " + kSkipped;
    case RoomReasonCode::ZeroVanishes:
      return name + ", of 0 bytes, would move to offset 0 of its sector and vanish: " + kSkipped;
    case RoomReasonCode::BecomesZero:
      return name + " would be of 0 bytes at offset 0 of its sector and vanish: " + kSkipped;
    case RoomReasonCode::TrackUnwhole:
      return format("track %02X does not read all %d bytes", static_cast<unsigned>(reason.track),
                    static_cast<int>(kTableSize));
    case RoomReasonCode::DamagedEntry:
      return name + " names " + trackAndSector(reason) + ": a damaged table is not re-laid";
    case RoomReasonCode::DamagedLaying:
      return name + " is not laid end to end: a damaged table is not re-laid";
    case RoomReasonCode::UnfitLaying:
      return name + " is not laid end to end: " + roomReasonText(inner(reason));
    case RoomReasonCode::SharesBytes:
      return name + " shares bytes with " + userText(reason);
    case RoomReasonCode::FirstEntry:
      return "where the next file starts is part of what recognises the disk";
    case RoomReasonCode::ZeroAtOffsetZero:
      return name + " is of 0 bytes at offset 0 of its sector: d88extract writes no such file";
    case RoomReasonCode::NamedTwice:
      return "two table files are named " + name;
    case RoomReasonCode::EntryRewritten:
      return entryText(reason) + " would be rewritten, and it lies in bytes of " + userText(reason);
    case RoomReasonCode::EntryInFile:
      return entryText(reason) + " lies in bytes of " + userText(reason);
    case RoomReasonCode::TableGrows:
      return format("it grows the %s table by 0x%X bytes, but ", tableWord(reason.table),
                    static_cast<unsigned>(reason.growth)) +
             roomReasonText(inner(reason));
  }
  return std::string();
}

}  // namespace format
