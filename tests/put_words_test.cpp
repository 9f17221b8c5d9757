// The words of each refusal, byte for byte as d88put prints them.
#include "format/put_words.h"

#include <gtest/gtest.h>

#include <string>

using namespace disk;
using namespace format;

namespace {

Refusal refusalOf(RefusalCode code) {
  Refusal refusal;
  refusal.code = code;
  refusal.file = "000/S101";
  return refusal;
}

TEST(PutWords, EachRefusalInD88putsWords) {
  struct Case {
    Refusal refusal;
    const char* line;
  };
  Refusal otherSize = refusalOf(RefusalCode::OtherSize);
  otherSize.size = 18446744073709551615u;
  otherSize.was = 60;
  Refusal takes = otherSize;
  takes.size = 61;
  takes.resizeWouldTake = true;
  Refusal notRelaid = refusalOf(RefusalCode::NotRelaid);
  notRelaid.why.code = RoomReasonCode::SharesBytes;
  notRelaid.why.name = "S105";
  notRelaid.why.user = "DRIVER";
  Refusal unwhole = notRelaid;
  unwhole.table = 1;
  unwhole.why = RoomReason();
  unwhole.why.code = RoomReasonCode::TrackUnwhole;
  unwhole.why.track = 0x42;
  Refusal grows = refusalOf(RefusalCode::TableGrows);
  grows.table = 0;
  grows.growth = 0x33ED;
  grows.why.code = RoomReasonCode::HoldsBytes;
  grows.why.track = 0x10;
  grows.why.r = 0x01;
  grows.why.user = "DRIVER";
  Refusal header = refusalOf(RefusalCode::HeaderChanged);
  header.disk = 63;
  Refusal nobodysHeader = header;
  nobodysHeader.file.clear();
  Refusal shared = refusalOf(RefusalCode::NotReadBack);
  shared.files = {"000/S102", "000/S103"};
  Refusal filesChanged = refusalOf(RefusalCode::FilesChanged);
  filesChanged.disk = 2;
  Refusal putHere = filesChanged;
  putHere.files = {"002/D001", "002/D002"};
  Refusal breaks = refusalOf(RefusalCode::ChainBreaks);
  breaks.track = 0xA3;
  breaks.r = 0x10;
  Refusal past = refusalOf(RefusalCode::PastExtractBuffer);
  past.size = 327681;
  past.was = 327680;
  Refusal twice = refusalOf(RefusalCode::NamedTwice);
  twice.name = "S101";
  Refusal missing = refusalOf(RefusalCode::NoSuchFile);
  missing.disk = 0;
  Refusal noDisk = refusalOf(RefusalCode::NoSuchDisk);
  noDisk.file = "005";
  const Case cases[] = {
      {otherSize,
       "000/S101 is 18446744073709551615 bytes, the disk's file 60: files cannot change size"},
      {takes,
       "000/S101 is 61 bytes, the disk's file 60: files cannot change size (--resize lets later "
       "files move)"},
      {refusalOf(RefusalCode::FixedFile),
       "000/S101 cannot change size: BIOS and DRIVER have fixed sizes"},
      {refusalOf(RefusalCode::FirstEntry),
       "000/S101 cannot change size: where the next file starts is part of what recognises the "
       "disk"},
      {refusalOf(RefusalCode::UnknownDisk),
       "000/S101 cannot change size: the disk is not recognised, and its tables mix what both "
       "probes read"},
      {twice, "000/S101 cannot change size: two table files are named S101"},
      {past, "000/S101 is 327681 bytes: no file of a table reaches past 327680 bytes"},
      {breaks, "000/S101 cannot be changed: its chain breaks at track A3 sector 10"},
      {notRelaid, "000/S101 cannot change size: S105 shares bytes with DRIVER"},
      {unwhole,
       "000/S101 cannot change size: the second table's track 42 does not read all 4096 bytes"},
      {grows,
       "000/S101 grows the first table by 0x33ED bytes, but track 10 sector 01 holds bytes of "
       "DRIVER"},
      {header, "000/S101 would change the header of disk 63"},
      {nobodysHeader, "a file put back would change the header of disk 63"},
      {shared, "000/S101 would not read back as put: it shares bytes with 000/S102, 000/S103"},
      {refusalOf(RefusalCode::WouldChange),
       "000/S101 would change: it shares bytes with another file put back"},
      {refusalOf(RefusalCode::EditChanged), "000/S101 changed while d88put ran"},
      {refusalOf(RefusalCode::EditChangedUnwritten),
       "000/S101 changed while d88put ran; nothing written"},
      {filesChanged, "disk 2 would change its kind or its list of files (by files of other disks)"},
      {putHere,
       "disk 2 would change its kind or its list of files (putting back 002/D001, 002/D002)"},
      {refusalOf(RefusalCode::CannotRead), "cannot read 000/S101"},
      {missing, "ignored: 000/S101: no file of that name on disk 0"},
      {noDisk, "ignored: folder 005: no such disk in the file"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(diagnosticLine({Severity::Error, c.refusal}), std::string("error: ") + c.line);
  }
  // A notice has no prefix, and a source's own words are written as they are.
  EXPECT_EQ(diagnosticLine({Severity::Notice, missing}),
            "ignored: 000/S101: no file of that name on disk 0");
  EXPECT_EQ(diagnosticLine({Severity::Error, "cannot write it"}), "error: cannot write it");
}

}  // namespace
