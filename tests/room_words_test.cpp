// The words of each reason a table's room ends or its files stay, byte for
// byte as d88info lists them and d88put says them.
#include "format/room_words.h"

#include <gtest/gtest.h>

#include <string>

using namespace disk;
using namespace format;

namespace {

RoomReason reasonOf(RoomReasonCode code, const char* name = "S101") {
  RoomReason reason;
  reason.code = code;
  reason.name = name;
  reason.track = 0x0A;
  reason.r = 0x07;
  reason.table = 1;
  return reason;
}

RoomReason usedBy(RoomReason reason, ByteUserKind kind, const char* user, std::int32_t of = 0) {
  reason.userKind = kind;
  reason.user = user;
  reason.userOf = of;
  return reason;
}

RoomReason within(RoomReasonCode code, RoomReason inner) {
  inner.cause = inner.code;
  inner.code = code;
  return inner;
}

TEST(RoomWords, EachReasonInTheToolsWords) {
  struct Case {
    RoomReason reason;
    const char* text;
  };
  RoomReason edge = reasonOf(RoomReasonCode::DiskEnds);
  edge.track = 0xA4;
  edge.r = 0x01;
  RoomReason first = reasonOf(RoomReasonCode::FirstEntry, "");
  RoomReason grows =
      within(RoomReasonCode::TableGrows,
             usedBy(reasonOf(RoomReasonCode::HoldsBytes, ""), ByteUserKind::FixedFile, "DRIVER"));
  grows.table = 0;
  grows.growth = 0x33ED;
  RoomReason growsPastEnd = within(RoomReasonCode::TableGrows, edge);
  growsPastEnd.growth = 0x100;
  RoomReason unwhole = reasonOf(RoomReasonCode::TrackUnwhole);
  unwhole.track = 0x00;
  const Case cases[] = {
      {RoomReason(), ""},
      {edge, "the disk ends after track A3"},
      {reasonOf(RoomReasonCode::NoSector), "track 0A has no sector 07"},
      {reasonOf(RoomReasonCode::NotPlainSector),
       "track 0A sector 07 is not a plain 256-byte sector"},
      {reasonOf(RoomReasonCode::NotBlank), "track 0A sector 07 is not blank"},
      {usedBy(reasonOf(RoomReasonCode::HoldsBytes), ByteUserKind::FixedFile, "DRIVER"),
       "track 0A sector 07 holds bytes of DRIVER"},
      {usedBy(reasonOf(RoomReasonCode::HoldsBytes), ByteUserKind::TableFile, "D101", 1),
       "track 0A sector 07 holds bytes of D101"},
      {usedBy(reasonOf(RoomReasonCode::HoldsBytes), ByteUserKind::DiskHeader, "", 63),
       "track 0A sector 07 holds bytes of the header of disk 63"},
      {usedBy(reasonOf(RoomReasonCode::HoldsBytes), ByteUserKind::RecordHeader, ""),
       "track 0A sector 07 holds bytes of a sector record header"},
      {usedBy(reasonOf(RoomReasonCode::HoldsBytes), ByteUserKind::TableEntries, "", 0),
       "track 0A sector 07 holds bytes of the first table's entries"},
      {usedBy(reasonOf(RoomReasonCode::HoldsBytes), ByteUserKind::TableEntries, "", 1),
       "track 0A sector 07 holds bytes of the second table's entries"},
      {reasonOf(RoomReasonCode::PastBuffer, "D101"),
       "D101 would reach past 327680 bytes, its offset included"},
      {reasonOf(RoomReasonCode::ZeroAppears),
       "S101, of 0 bytes, would move off offset 0 of its sector and appear: d88extract skips a "
       "file of 0 bytes there"},
      {reasonOf(RoomReasonCode::ZeroVanishes),
       "S101, of 0 bytes, would move to offset 0 of its sector and vanish: d88extract skips a "
       "file of 0 bytes there"},
      {reasonOf(RoomReasonCode::BecomesZero),
       "S101 would be of 0 bytes at offset 0 of its sector and vanish: d88extract skips a file "
       "of 0 bytes there"},
      {unwhole, "track 00 does not read all 4096 bytes"},
      {reasonOf(RoomReasonCode::DamagedEntry, "D003"),
       "D003 names track 0A sector 07: a damaged table is not re-laid"},
      {reasonOf(RoomReasonCode::DamagedEntry, ""),
       "the table's last entry names track 0A sector 07: a damaged table is not re-laid"},
      {reasonOf(RoomReasonCode::DamagedLaying),
       "S101 is not laid end to end: a damaged table is not re-laid"},
      {within(RoomReasonCode::UnfitLaying, reasonOf(RoomReasonCode::NoSector)),
       "S101 is not laid end to end: track 0A has no sector 07"},
      {within(RoomReasonCode::UnfitLaying, reasonOf(RoomReasonCode::NotPlainSector)),
       "S101 is not laid end to end: track 0A sector 07 is not a plain 256-byte sector"},
      {within(RoomReasonCode::UnfitLaying, edge),
       "S101 is not laid end to end: the disk ends "
       "after track A3"},
      {usedBy(reasonOf(RoomReasonCode::SharesBytes, "S105"), ByteUserKind::FixedFile, "DRIVER"),
       "S105 shares bytes with DRIVER"},
      {usedBy(reasonOf(RoomReasonCode::SharesBytes), ByteUserKind::TableEntries, "", 1),
       "S101 shares bytes with the second table's entries"},
      {first, "where the next file starts is part of what recognises the disk"},
      {reasonOf(RoomReasonCode::ZeroAtOffsetZero),
       "S101 is of 0 bytes at offset 0 of its sector: d88extract writes no such file"},
      {reasonOf(RoomReasonCode::NamedTwice, "S100"), "two table files are named S100"},
      {usedBy(reasonOf(RoomReasonCode::EntryRewritten, "D005"), ByteUserKind::TableFile, "D002"),
       "the second table's entry of D005 would be rewritten, and it lies in bytes of D002"},
      {usedBy(reasonOf(RoomReasonCode::EntryRewritten, ""), ByteUserKind::FixedFile, "BIOS"),
       "the second table's last entry would be rewritten, and it lies in bytes of BIOS"},
      {usedBy(reasonOf(RoomReasonCode::EntryInFile, "D005"), ByteUserKind::TableFile, "D002"),
       "the second table's entry of D005 lies in bytes of D002"},
      {usedBy(reasonOf(RoomReasonCode::EntryInFile, ""), ByteUserKind::TableFile, "S1FF"),
       "the second table's last entry lies in bytes of S1FF"},
      {grows,
       "it grows the first table by 0x33ED bytes, but track 0A sector 07 holds bytes of "
       "DRIVER"},
      {growsPastEnd, "it grows the second table by 0x100 bytes, but the disk ends after track A3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(roomReasonText(c.reason), c.text) << static_cast<int>(c.reason.code);
  }
}

// Every code but None has words, so no reason is listed as nothing.
TEST(RoomWords, NoCodeIsWordless) {
  for (auto code = static_cast<int>(RoomReasonCode::DiskEnds);
       code <= static_cast<int>(RoomReasonCode::TableGrows); ++code) {
    RoomReason reason = reasonOf(static_cast<RoomReasonCode>(code));
    reason.cause = RoomReasonCode::NotBlank;
    EXPECT_FALSE(roomReasonText(reason).empty()) << code;
  }
}

// Two reasons differing in any field are not the same refusal.
TEST(RoomWords, ReasonsCompareEveryField) {
  const RoomReason base =
      usedBy(reasonOf(RoomReasonCode::HoldsBytes), ByteUserKind::TableFile, "D101", 1);
  RoomReason changed[9] = {base, base, base, base, base, base, base, base, base};
  changed[0].code = RoomReasonCode::NotBlank;
  changed[1].cause = RoomReasonCode::NoSector;
  changed[2].name = "S102";
  changed[3].userKind = ByteUserKind::FixedFile;
  changed[4].user = "D102";
  changed[5].userOf = 0;
  changed[6].track = 0x0B;
  changed[7].r = 0x08;
  changed[8].growth = 1;
  EXPECT_EQ(base, base);
  for (const RoomReason& other : changed) {
    EXPECT_NE(base, other);
  }
  RoomReason table = base;
  table.table = 0;
  EXPECT_NE(base, table);
}

}  // namespace
