// End-to-end tests of d88info on builder images and, where present, on the
// real images kept beside the project.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "builder/image_builder.h"
#include "tests/test_support.h"
#include "tests/tool_runner.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#endif

namespace {

namespace fs = std::filesystem;
using d88test::address;
using d88test::Bytes;

using d88test::text;

// ファイルをオープンできません, in UTF-8 like all of d88info's texts
constexpr const char* kOpenError =
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83\xBC"
    "\xE3\x83\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93\n";
// The JSON document's first line and its end.
constexpr const char* kJsonStart =
    "{\"schema\":6,\"recordFields\":[\"c\",\"h\",\"r\",\"n\",\"sectorCount\",\"density\","
    "\"deletedMark\",\"status\",\"dataLength\",\"position\"],\"disks\":[\n";
constexpr const char* kJsonEnd = "\n]}\n";
constexpr std::size_t kWriteProtectOffset = 0x1A;

std::vector<std::string> lines(const std::string& output) {
  std::vector<std::string> out;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    out.push_back(line);
  }
  return out;
}

Bytes brokenChains() {
  return d88test::damagedFilesDisk().build();
}

class InfoTest : public ::testing::Test {
 protected:
  // The help compared below is the English one.
  void SetUp() override { d88test::setLocale("C"); }
  d88test::RunResult info(const Bytes& file) { return info({scratch_.write("disk.d88", file)}); }
  d88test::RunResult info(const std::vector<std::string>& args) {
    return d88test::runIn(scratch_.path(), tool(), args, scratch_.path());
  }
  static const std::string& tool() {
    static const std::string path = fs::absolute(D88INFO_PATH).make_preferred().string();
    return path;
  }
  d88test::ScratchDir scratch_;
};

TEST_F(InfoTest, ListsHeadersAndTracksAsStored) {
  d88test::Track first;
  first.sector(0, 0, 1, 1, Bytes(256, 0)).sector(0, 0, 2, 1, Bytes(100, 0));
  d88test::Track odd;
  d88test::SectorRecord record;
  record.c = 1;
  record.h = 1;
  record.r = 1;
  record.n = 0;
  record.data = Bytes(128, 0);
  record.sectorCount = 5;
  odd.sector(record);
  Bytes test = d88test::Disk().name("TEST").mediaType(0x20).track(0, first).track(3, odd).build();
  test[kWriteProtectOffset] = 0x01;
  // A Shift_JIS name, an unknown media type, and track offsets inside the
  // header: slots 156 to 159 hold a record header (C 0 H 0 R 1 N 1, 1 sector,
  // FM, 256 bytes), which slot 162 points at; as offsets, three of them lie
  // past the disk's size.
  const Bytes named = d88test::Disk()
                          .name("\x83\x66\x81\x5B\x83\x5E")
                          .mediaType(0x99)
                          .trackOffset(156, 0x01010000)
                          .trackOffset(157, 0x00400001)
                          .trackOffset(159, 0x01000000)
                          .trackOffset(161, 8)
                          .trackOffset(162, 0x290)
                          .build();
  // TEST comes last: the walk of its track 3 ends at the end of the file.
  const auto result = info(d88test::concat({named, test}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(
      result.out,
      // データ, decoded to UTF-8
      text("disk 0: offset 0x00000000  name \"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\"  media 0x99 "
           "(unknown)  size 0x000002B0\n"
           "  track 156 (C 78 H 0): past the disk's size (offset 0x01010000)\n"
           "  track 157 (C 78 H 1): past the disk's size (offset 0x00400001)\n"
           "  track 159 (C 79 H 1): past the disk's size (offset 0x01000000)\n"
           "  track 161 (C 80 H 1): inside the disk header (offset 0x00000008): no sectors  (ends "
           "at a record with sector count 0)\n"
           "  track 162 (C 81 H 0): inside the disk header (offset 0x00000290): 1 sectors: "
           "00-00-01-01{fm}\n"
           "  kind: not recognised\n"
           "disk 1: offset 0x000002B0  name \"TEST\"  media 0x20 (2HD)  size 0x000004C4  "
           "write-protected 0x01\n"
           "  track   0 (C  0 H 0): 2 sectors: 00-00-01-01 00-00-02-01[0064]\n"
           "  track   3 (C  1 H 1): 5 sectors: 01-01-01-00  (cut short by the end of the file)\n"
           "  kind: not recognised\n"));
}

// Each table's end and the blank bytes after it, up to what stops them.
TEST_F(InfoTest, ListsTheRoomEachTableHasToGrow) {
  using d88test::address;
  // The data disk's D002 is followed by blank bytes, then a byte that is not
  // blank (track 2 sector 3); D102 by blank bytes, then no track 68.
  d88test::FixedTableLayout holes = d88test::dataDisk({700, 5000}, {400, 4106});
  holes.disk.put(address(2, 3, 10), Bytes{'A'});
  holes.disk.drop(68);
  // Track 3's sector 2 has an error status; the bytes up to it hold E5.
  d88test::FixedTableLayout status = d88test::dataDisk({700, 5000}, {400, 4106});
  status.disk.put(8429, Bytes(address(3, 2, 0) - 8429, 0xE5));
  d88test::Track track3;
  for (int r = 1; r <= 16; ++r) {
    d88test::SectorRecord record;
    record.c = 1;
    record.h = 1;
    record.r = static_cast<std::uint8_t>(r);
    record.data = status.disk.contents(address(3, r, 0), 256);
    record.status = r == 2 ? 0xB0 : 0x00;
    track3.sector(record);
  }
  status.disk.replace(3, track3);
  d88test::FixedTableLayout noSector5 = d88test::dataDisk({700, 5000}, {});
  d88test::Track track0;
  for (std::uint8_t r = 1; r <= 16; ++r) {
    if (r != 5) {
      track0.sector(0, 0, r, 1, noSector5.disk.contents(address(0, r, 0), 256));
    }
  }
  noSector5.disk.replace(0, track0);
  struct Case {
    const char* what;
    Bytes image;
    std::vector<std::string> rooms;
  };
  const Case cases[] = {
      {"system disk",
       d88test::systemDisk({300, 1}, {60, 73}).build(),
       {"  first table: ends at trk: 0C  sec: 0D  ofs: 14, room to grow: 33EC bytes of 00 (track "
        "10 sector 01 holds bytes of DRIVER)",
        // Past 327,680 bytes d88extract reads no file.
        "  second table: ends at trk: 21  sec: 0E  ofs: FC, room to grow: 4FF4D bytes of 00 "
        "(S101 would reach past 327680 bytes, its offset included)"}},
      {"data disk",
       holes.build(),
       {"  first table: ends at trk: 02  sec: 01  ofs: ED, room to grow: 0113 bytes of 00 (track "
        "02 sector 03 is not blank)",
        "  second table: ends at trk: 43  sec: 04  ofs: 9A, room to grow: 0C66 bytes of 00 "
        "(track 44 has no sector 01)"}},
      {"a sector with an error status",
       status.build(),
       {"  first table: ends at trk: 02  sec: 01  ofs: ED, room to grow: 1013 bytes of E5 (track "
        "03 sector 02 is not a plain 256-byte sector)",
        "  second table: ends at trk: 43  sec: 04  ofs: 9A, room to grow: 4FE70 bytes of 00 "
        "(D101 would reach past 327680 bytes, its offset included)"}},
      // No entry of the first table can be rewritten; the second lists only
      // its first file, whose end recognises the disk.
      {"a first table's track without sector 5, a second table of one file",
       noSector5.build(),
       {"  first table: ends at trk: 02  sec: 01  ofs: ED, room to grow: none: track 00 does not "
        "read all 4096 bytes",
        "  second table: ends at trk: 42  sec: 03  ofs: 00, room to grow: none: where the next "
        "file starts is part of what recognises the disk"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> rooms;
    const auto result = info(c.image);
    for (const std::string& line : lines(result.out)) {
      if (line.find(" table: ") != std::string::npos) {
        rooms.push_back(line);
      }
    }
    EXPECT_EQ(rooms, c.rooms) << c.what;
  }
}

TEST_F(InfoTest, TellsWhatExtractionWouldDoWithEachFile) {
  const auto result = info(brokenChains());
  std::vector<std::string> files;
  for (const std::string& line : lines(result.out)) {
    if (line.rfind("  kind:", 0) == 0 || line.rfind("  D", 0) == 0) {
      files.push_back(line);
    }
  }
  EXPECT_EQ(files,
            (std::vector<std::string>{
                "  kind: data disk",
                "  D000    trk: 00  sec: 02  ofs: A4  size: 0905",
                "  D001    trk: 00  sec: 0B  ofs: A9  size: 9567",
                "  D002    trk: 0A  sec: 01  ofs: 10  size: 076C  (chain breaks: read 00F0 "
                "of 076C bytes)",
                "  D003    trk: 0A  sec: 08  ofs: 7C  size: FFFF7884  (skipped: size "
                "negative)",
                "  D004    trk: 02  sec: 01  ofs: 00  size: C6000  (skipped: size past the "
                "extraction buffer)",
                "  D005    trk: C8  sec: 01  ofs: 00  size: 0010  (skipped: first sector "
                "unreadable)",
                "  D006    trk: C8  sec: 01  ofs: 10  size: FFF3BFF0  (skipped: size "
                "negative)",
                "  D007    trk: 04  sec: 01  ofs: 00  size: 0000  (skipped: nothing to read)",
                "  D008    trk: 04  sec: 01  ofs: 00  size: C4010  (skipped: size past the "
                "extraction buffer)",
                "  D009    trk: C8  sec: 01  ofs: 10  size: 0000  (skipped: first sector "
                "unreadable)",
                "  D100    trk: 42  sec: 02  ofs: A4  size: 005C",
            }));
}

TEST_F(InfoTest, MarksWhatASystemDiskWritesWithoutExtractAll) {
  const auto result = info(d88test::systemDisk({100}, std::vector<std::int32_t>(30, 50)).build());
  std::vector<std::string> marked;
  for (const std::string& line : lines(result.out)) {
    if (line.find("(written without -a)") != std::string::npos) {
      marked.push_back(line.substr(2, 6));
    }
  }
  EXPECT_EQ(marked, (std::vector<std::string>{"BIOS  ", "DRIVER", "S117  ", "S118  ", "S119  ",
                                              "S11A  ", "S11B  ", "S11C  ", "S11D  "}));
}

// Two tracks of two records: every field of the document once.
TEST_F(InfoTest, JsonOfASmallImage) {
  d88test::Track side0;
  side0.sector(0, 0, 1, 1, Bytes(256, 0)).sector(0, 0, 2, 1, Bytes(256, 0));
  d88test::Track side1;
  side1.sector(0, 1, 1, 1, Bytes(256, 0)).sector(0, 1, 2, 1, Bytes(256, 0));
  const auto result = info(
      {"--json",
       scratch_.write(
           "disk.d88",
           d88test::Disk().name("WORK").mediaType(0x10).track(0, side0).track(1, side1).build())});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            text(std::string(kJsonStart) +
                 R"({"index":0,"offset":0,"headerComplete":true,"name":"WORK",)"
                 R"("nameHex":"574F524B00000000000000000000000000","writeProtect":0,)"
                 R"("mediaType":16,"media":"2DD","sizeField":1776,"tracks":[)"
                 R"({"slot":0,"cylinder":0,"head":0,"offset":688,"insideHeader":false,)"
                 R"("pastSize":false,"walkEnd":"countReached","records":[)"
                 R"([0,0,1,1,2,0,0,0,256,688],[0,0,2,1,2,0,0,0,256,960]]},)"
                 R"({"slot":1,"cylinder":0,"head":1,"offset":1232,"insideHeader":false,)"
                 R"("pastSize":false,"walkEnd":"countReached","records":[)"
                 R"([0,1,1,1,2,0,0,0,256,1232],[0,1,2,1,2,0,0,0,256,1504]]}],)"
                 R"("kind":"not recognised","message":null,"files":[],"tables":[]})" +
                 kJsonEnd));
}

// Two disks, the first write-protected with a Shift_JIS name (half-width
// kana, an undecodable byte, a backslash, a double quote), a flagged record,
// an unformatted track, a slot past the disk's size and one inside the
// header; the second ends in a track cut short and a track that starts at
// the end of the file.
TEST_F(InfoTest, DamagedImageAsTextAndJson) {
  d88test::SectorRecord flagged;
  flagged.r = 2;
  flagged.data = Bytes(128, 0);
  flagged.density = 0x40;
  flagged.deletedMark = 0x10;
  flagged.status = 0xB0;
  d88test::Track first;
  first.sector(0, 0, 1, 1, Bytes(256, 0)).sector(flagged);
  d88test::Track unformatted;
  unformatted.sector(0, 1, 1, 1, Bytes(256, 0)).sectorCount(0);
  Bytes named = d88test::Disk()
                    .name("\xB1\xDD\x80\\\"")
                    .track(0, first)
                    .track(1, unformatted)
                    .trackOffset(12, 0x000B0000)
                    .trackOffset(163, 8)
                    .build();
  named[kWriteProtectOffset] = 0x10;
  d88test::Track cut;
  cut.sector(0, 0, 1, 1, Bytes(256, 0)).sector(0, 0, 2, 1, Bytes(256, 0)).sectorCount(3);
  const Bytes last = d88test::Disk().name("CUT").track(0, cut).trackOffset(1, 1232).build();
  const std::string disk = scratch_.write("disk.d88", d88test::concat({named, last}));

  auto result = info({disk});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  // The name: ｱﾝ, \x80, the backslash written "\\" and the quote "\"".
  EXPECT_EQ(result.out,
            text("disk 0: offset 0x00000000  name \"\xEF\xBD\xB1\xEF\xBE\x9D\\x80\\\\\\\"\"  "
                 "media 0x00 (2D)  size 0x00000560  write-protected 0x10\n"
                 "  track   0 (C  0 H 0): 2 sectors: 00-00-01-01 00-00-02-01[0080]{fm,del,st=B0}\n"
                 "  track   1 (C  0 H 1): no sectors  (ends at a record with sector count 0)\n"
                 "  track  12 (C  6 H 0): past the disk's size (offset 0x000B0000)\n"
                 "  track 163 (C 81 H 1): inside the disk header (offset 0x00000008): no sectors  "
                 "(ends at a record with sector count 0)\n"
                 "  kind: not recognised\n"
                 "disk 1: offset 0x00000560  name \"CUT\"  media 0x00 (2D)  size 0x000004D0\n"
                 "  track   0 (C  0 H 0): 3 sectors: 00-00-01-01 00-00-02-01  (cut short by the "
                 "end of the file)\n"
                 "  track   1 (C  0 H 1): no sectors  (cut short by the end of the file)\n"
                 "  kind: not recognised\n"));

  result = info({"--json", disk});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  // JSON escapes the backslashes of "\x80" and of the name's own backslash,
  // and its quote.
  EXPECT_EQ(result.out,
            text(std::string(kJsonStart) +
                 "{\"index\":0,\"offset\":0,\"headerComplete\":true,"
                 "\"name\":\"\xEF\xBD\xB1\xEF\xBE\x9D\\\\x80\\\\\\\"\","
                 R"("nameHex":"B1DD805C22000000000000000000000000","writeProtect":16,)"
                 R"("mediaType":0,"media":"2D","sizeField":1376,"tracks":[)"
                 R"({"slot":0,"cylinder":0,"head":0,"offset":688,"insideHeader":false,)"
                 R"("pastSize":false,"walkEnd":"countReached","records":[)"
                 R"([0,0,1,1,2,0,0,0,256,688],[0,0,2,1,2,64,16,176,128,960]]},)"
                 R"({"slot":1,"cylinder":0,"head":1,"offset":1104,"insideHeader":false,)"
                 R"("pastSize":false,"walkEnd":"zeroCount","records":[]},)"
                 R"({"slot":12,"cylinder":6,"head":0,"offset":720896,"insideHeader":false,)"
                 R"("pastSize":true,"walkEnd":"noTrack","records":[]},)"
                 R"({"slot":163,"cylinder":81,"head":1,"offset":8,"insideHeader":true,)"
                 R"("pastSize":false,"walkEnd":"zeroCount","records":[]}],)"
                 R"("kind":"not recognised","message":null,"files":[],"tables":[]})"
                 ",\n"
                 R"({"index":1,"offset":1376,"headerComplete":true,"name":"CUT",)"
                 R"("nameHex":"4355540000000000000000000000000000","writeProtect":0,)"
                 R"("mediaType":0,"media":"2D","sizeField":1232,"tracks":[)"
                 R"({"slot":0,"cylinder":0,"head":0,"offset":688,"insideHeader":false,)"
                 R"("pastSize":false,"walkEnd":"cutShort","records":[)"
                 R"([0,0,1,1,3,0,0,0,256,2064],[0,0,2,1,3,0,0,0,256,2336]]},)"
                 R"({"slot":1,"cylinder":0,"head":1,"offset":1232,"insideHeader":false,)"
                 R"("pastSize":false,"walkEnd":"cutShort","records":[]}],)"
                 R"("kind":"not recognised","message":null,"files":[],"tables":[]})" +
                 kJsonEnd));
}

// The marks after a record's ID, one track per case; the JSON gives the
// three bytes as stored.
TEST_F(InfoTest, RecordMarks) {
  struct Case {
    std::uint8_t density, deletedMark, status;
    std::size_t dataLength;
    const char* marks;
    std::uint8_t n = 1;
  };
  const Case cases[] = {
      {0x00, 0x00, 0x00, 256, ""},
      {0x40, 0x00, 0x00, 256, "{fm}"},
      {0x01, 0x00, 0x00, 256, "{den=01}"},
      {0x41, 0x00, 0x00, 256, "{den=41}"},
      {0x80, 0x00, 0x00, 256, "{den=80}"},
      {0x00, 0x10, 0x00, 256, "{del}"},
      {0x00, 0x01, 0x00, 256, "{del=01}"},
      {0x00, 0xFF, 0x00, 256, "{del=FF}"},
      {0x00, 0x00, 0x01, 256, "{st=01}"},
      {0x00, 0x00, 0xFF, 256, "{st=FF}"},
      {0x40, 0x10, 0x00, 256, "{fm,del}"},
      {0x40, 0x00, 0xB0, 256, "{fm,st=B0}"},
      {0x00, 0x11, 0x80, 256, "{del=11,st=80}"},
      {0x40, 0x10, 0xB0, 256, "{fm,del,st=B0}"},
      {0xFF, 0x20, 0x08, 256, "{den=FF,del=20,st=08}"},
      {0x00, 0x00, 0x00, 128, "[0080]"},
      {0x40, 0x10, 0xB0, 0, "[0000]{fm,del,st=B0}"},
      // Size codes whose sector size is past any length: the length is shown.
      {0x00, 0x00, 0x00, 256, "[0100]", 0x17},
      {0x00, 0x00, 0x00, 256, "[0100]", 0x18},
      {0x00, 0x00, 0x00, 256, "[0100]", 0xFF},
  };
  d88test::Disk disk;
  int slot = 0;
  for (const Case& c : cases) {
    d88test::SectorRecord record;
    record.data = Bytes(c.dataLength, 0);
    record.n = c.n;
    record.density = c.density;
    record.deletedMark = c.deletedMark;
    record.status = c.status;
    disk.track(slot++, d88test::Track().sector(record));
  }
  const std::string file = scratch_.write("disk.d88", disk.build());
  const std::vector<std::string> listed = lines(info({file}).out);
  const nlohmann::json json = nlohmann::json::parse(info({"--json", file}).out);
  ASSERT_EQ(listed.size(), std::size(cases) + 2);
  const auto& tracks = json.at("disks").at(0).at("tracks");
  ASSERT_EQ(tracks.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.marks);
    const int slot = static_cast<int>(i);
    char line[80];
    std::snprintf(line, sizeof line, "  track %3d (C %2d H %d): 1 sectors: 00-00-01-%02X", slot,
                  slot / 2, slot % 2, c.n);
    EXPECT_EQ(listed[i + 1], line + std::string(c.marks));
    const auto& record = tracks[i].at("records").at(0);
    EXPECT_EQ(record[5], c.density);
    EXPECT_EQ(record[6], c.deletedMark);
    EXPECT_EQ(record[7], c.status);
    EXPECT_EQ(record[8], c.dataLength);
  }
}

// What extraction does with each file, as JSON: bytesRead only for an
// incomplete file, a reason only for a skipped one.
TEST_F(InfoTest, JsonTellsWhatExtractionWouldDoWithEachFile) {
  const auto result = info({"--json", scratch_.write("disk.d88", brokenChains())});
  const std::size_t kind = result.out.find(R"("kind":)");
  ASSERT_NE(kind, std::string::npos);
  EXPECT_EQ(
      result.out.substr(kind),
      // データディスクを認識しました.
      text("\"kind\":\"data disk\",\"message\":\"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\xE3\x83"
           "\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF\xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81"
           "\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.\",\"files\":["
           R"({"name":"D000","track":0,"sector":2,"offset":164,"size":2309,)"
           R"("writtenWithoutAll":false,"verdict":"complete"},)"
           R"({"name":"D001","track":0,"sector":11,"offset":169,"size":38247,)"
           R"("writtenWithoutAll":false,"verdict":"complete"},)"
           R"({"name":"D002","track":10,"sector":1,"offset":16,"size":1900,)"
           R"("writtenWithoutAll":false,"verdict":"incomplete","bytesRead":240},)"
           R"({"name":"D003","track":10,"sector":8,"offset":124,"size":-34684,)"
           R"("writtenWithoutAll":false,"verdict":"skipped","reason":"negativeSize"},)"
           R"({"name":"D004","track":2,"sector":1,"offset":0,"size":811008,)"
           R"("writtenWithoutAll":false,"verdict":"skipped","reason":"pastExtractionBuffer"},)"
           R"({"name":"D005","track":200,"sector":1,"offset":0,"size":16,)"
           R"("writtenWithoutAll":false,"verdict":"skipped","reason":"firstSectorUnreadable"},)"
           R"({"name":"D006","track":200,"sector":1,"offset":16,"size":-802832,)"
           R"("writtenWithoutAll":false,"verdict":"skipped","reason":"negativeSize"},)"
           R"({"name":"D007","track":4,"sector":1,"offset":0,"size":0,)"
           R"("writtenWithoutAll":false,"verdict":"skipped","reason":"nothingToRead"},)"
           R"({"name":"D008","track":4,"sector":1,"offset":0,"size":802832,)"
           R"("writtenWithoutAll":false,"verdict":"skipped","reason":"pastExtractionBuffer"},)"
           R"({"name":"D009","track":200,"sector":1,"offset":16,"size":0,)"
           R"("writtenWithoutAll":false,"verdict":"skipped","reason":"firstSectorUnreadable"},)"
           R"({"name":"D100","track":66,"sector":2,"offset":164,"size":92,)"
           R"("writtenWithoutAll":false,"verdict":"complete"}],"tables":[)"
           // The first table ends past the last track, in an entry that
           // cannot be re-laid; the second lists only its first file.
           R"({"end":819216,"track":200,"r":1,"offset":16,"room":0,"blank":0,)"
           R"("roomEnds":"the table's last entry names track C8 sector 01: a damaged table is )"
           R"(not re-laid","sizesFixed":true},)"
           R"({"end":270848,"track":66,"r":3,"offset":0,"room":0,"blank":0,)"
           R"("roomEnds":"where the next file starts is part of what recognises the disk",)"
           R"("sizesFixed":true}]})" +
           std::string(kJsonEnd)));
}

// A file shorter than a disk header holds no disk; a header's worth holds
// one, and bytes after it too few for another header are not a second disk.
TEST_F(InfoTest, FilesTooShortForADisk) {
  const Bytes header = d88test::Disk().build();
  const std::string headerText =
      "disk 0: offset 0x00000000  name \"\"  media 0x00 (2D)  size 0x000002B0\n"
      "  kind: not recognised\n";
  const std::string headerJson =
      R"({"index":0,"offset":0,"headerComplete":true,"name":"",)"
      R"("nameHex":"0000000000000000000000000000000000","writeProtect":0,"mediaType":0,)"
      R"("media":"2D","sizeField":688,"tracks":[],"kind":"not recognised","message":null,)"
      R"("files":[],"tables":[]})";
  const std::pair<Bytes, bool> cases[] = {
      {Bytes{}, false},
      {Bytes(header.size() - 1, 0), false},
      {header, true},
      {d88test::concat({header, Bytes(header.size() - 1, 0xFF)}), true},
  };
  for (const auto& [file, hasDisk] : cases) {
    SCOPED_TRACE(file.size());
    const std::string path = scratch_.write("disk.d88", file);
    auto result = info({path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, text(hasDisk ? headerText : "no disk image found\n"));
    result = info({"--json", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, text(kJsonStart + (hasDisk ? headerJson : "") + kJsonEnd));
    EXPECT_EQ(result.err, "");
  }
}

// Options before or after the file, "--" before a name that starts with '-',
// and the command lines and files that are refused.
TEST_F(InfoTest, CommandLine) {
  const std::string disk = scratch_.write("disk.d88", d88test::Disk().name("A").build());
  scratch_.write("-a.d88", d88test::Disk().name("A").build());
  scratch_.write("--json", d88test::Disk().name("A").build());
  const std::string usage =
      "Usage: " + tool() +
      " [OPTIONS] PATH...\n\n"
      "Positionals:\n"
      "  PATH ... REQUIRED   a D88 file, or with -r a folder\n\n"
      "Options:\n"
      "  --help              this text\n"
      "  --version           the version\n"
      "  --json              one JSON document (schema 6) instead of text; one line a file for "
      "several\n"
      "  --summary           one row a file and a total, not the listings\n"
      "  -r                  walk the folders among the PATHs for D88 files\n"
      "  -j N:1 to 256       list N files at once (default: one per core)\n\n";
  const std::string listing =
      "disk 0: offset 0x00000000  name \"A\"  media 0x00 (2D)  size 0x000002B0\n"
      "  kind: not recognised\n";
  const std::string json = kJsonStart +
                           std::string(R"({"index":0,"offset":0,"headerComplete":true,"name":"A",)"
                                       R"("nameHex":"4100000000000000000000000000000000",)"
                                       R"("writeProtect":0,"mediaType":0,"media":"2D",)"
                                       R"("sizeField":688,"tracks":[],"kind":"not recognised",)"
                                       R"("message":null,"files":[],"tables":[]})") +
                           kJsonEnd;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // err: its first line (CLI11's words) before the usage
  };
  const std::string twice = "== " + disk + "\n" + listing + "== " + disk + "\n" + listing;
  const Case cases[] = {
      {{"--help"}, 0, usage, ""},
      {{"--version"}, 0, "d88info " D88_VERSION "\n", ""},
      {{disk}, 0, listing, ""},
      {{disk, "--json"}, 0, json, ""},
      {{"--json", "--", "-a.d88"}, 0, json, ""},
      {{"--", "-a.d88"}, 0, listing, ""},
      {{"--", "--json"}, 0, listing, ""},
      {{"--json", "--", "--json"}, 0, json, ""},
      {{disk, disk}, 0, twice, ""},
      {{"-j", "1", disk}, 0, listing, ""},
      {{}, 1, "", "error: PATH is required\n" + usage},
      {{"--jsn", disk}, 1, "", "error: The following argument was not expected: --jsn\n" + usage},
      {{"-a.d88"}, 1, "", "error: PATH is required\n" + usage},
      {{"-a.d88", disk}, 1, "", "error: The following argument was not expected: -a.d88\n" + usage},
      {{"-j", "0", disk}, 1, "", "error: -j: not a number from 1 to 256: 0\n" + usage},
      {{"-j", "+2", disk}, 1, "", "error: -j: not a number from 1 to 256: +2\n" + usage},
      {{"-j", disk}, 1, "", "error: -j: not a number from 1 to 256: " + disk + "\n" + usage},
      {{"--json=x", disk}, 1, "", "error: Could not convert: --json = x\n" + usage},
      {{"--json", "missing.d88"}, 1, "", kOpenError},
      {{"--json", "."}, 1, "", kOpenError},
  };
  for (const Case& c : cases) {
    std::string command;
    for (const std::string& arg : c.args) {
      command += " " + arg;
    }
    SCOPED_TRACE(command);
    const auto result = info(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, text(c.out));
    EXPECT_EQ(result.err, text(c.err));
  }
}

// A pipe cannot be read at a position: refused before anything is written,
// so that a script never sees half a document.
TEST_F(InfoTest, PipeIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "no /dev/stdin";
#else
  scratch_.write("disk.d88", d88test::Disk().build());
  const auto result = d88test::runShell(
      scratch_.path(), "cat disk.d88 | " + d88test::quoted(tool()) + " --json /dev/stdin",
      scratch_.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kOpenError);
#endif
}
// A listing that cannot be written whole fails, also into a closed pipe
// (not ended by SIGPIPE). The image's text and JSON both outgrow a pipe's
// buffer, so the writer meets the closed end whatever the timing.
TEST_F(InfoTest, UnwritableListingFails) {
#ifdef _WIN32
  GTEST_SKIP() << "no /dev/full";
#else
  d88test::Disk disk;
  for (int slot = 0; slot < 160; ++slot) {
    disk.track(slot, d88test::Track::formatted(0, 0, 0, 1, 64, Bytes{}));
  }
  scratch_.write("disk.d88", disk.build());
  struct Case {
    std::string args, after, err;
  };
  const Case cases[] = {
      {"disk.d88 >/dev/full", "", "No space left on device"},
      {"--json disk.d88 >/dev/full", "", "No space left on device"},
      {"disk.d88", " | true", "Broken pipe"},
      {"--json disk.d88", " | true", "Broken pipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args + c.after);
    // The tool's own status and standard error, past the shell's pipeline.
    (void)d88test::runShell(
        scratch_.path(),
        "(" + d88test::quoted(tool()) + " " + c.args + " 2>err.txt; echo $? >status.txt)" + c.after,
        scratch_.path());
    const Bytes status = d88test::readAll(scratch_.path() / "status.txt");
    const Bytes err = d88test::readAll(scratch_.path() / "err.txt");
    EXPECT_EQ(std::string(status.begin(), status.end()), "1\n");
    EXPECT_EQ(std::string(err.begin(), err.end()),
              "error: cannot write the listing: " + c.err + "\n");
  }
#endif
}

// The real images hold 154 tracks of 8 sectors of 1024 bytes: C = track / 2,
// H = track % 2, R = 1 to 8, N = 3.
TEST_F(InfoTest, RealImagesShowTheirTracks) {
  const fs::path folder = fs::absolute(D88_REAL_IMAGES);
  const std::regex trackLine(R"(  track +(\d+) \(C +(\d+) H (\d)\): 8 sectors:((?: [0-9A-F-]+)+))");
  for (const char* name : {"FPUTEST.D77", "TGDRVTest.D77", "FPUTEST-table160.d77"}) {
    const auto result = info({(folder / name).string()});
    ASSERT_EQ(result.status, 0) << name;
    int tracks = 0;
    for (const std::string& line : lines(result.out)) {
      std::smatch match;
      if (!std::regex_match(line, match, trackLine)) {
        continue;
      }
      const int track = std::stoi(match[1]);
      EXPECT_EQ(track, tracks) << name;
      std::string expected;
      for (int r = 1; r <= 8; ++r) {
        char id[16];
        std::snprintf(id, sizeof id, " %02X-%02X-%02X-03", track / 2, track % 2, r);
        expected += id;
      }
      EXPECT_EQ(match[4].str(), expected) << name << " track " << track;
      ++tracks;
    }
    EXPECT_EQ(tracks, 154) << name;
    EXPECT_NE(result.out.find("kind: not recognised"), std::string::npos) << name;
  }
}

}  // namespace

namespace {

// A tree of D88 files for the collection tests: nested folders, extensions
// in both letter cases, a file of another extension, and (where links can be
// made) a symbolic link to a folder, which the walk does not follow.
class CollectionTest : public InfoTest {
 protected:
  void SetUp() override {
    fs::create_directories(scratch_.path() / "tree" / "sub" / "deeper");
    scratch_.write("tree/a.d88", d88test::Disk().name("A").build());
    scratch_.write("tree/sub/B.D77", d88test::systemDisk({100}, {50, 60}).build());
    scratch_.write("tree/sub/deeper/c.88d", brokenChains());
    scratch_.write("tree/sub/deeper/D.D98",
                   d88test::concat({d88test::Disk().build(), d88test::dataDisk({10}, {}).build()}));
    scratch_.write("tree/sub/notes.txt", d88test::Disk().build());
    std::error_code error;
    fs::create_directory_symlink("sub", scratch_.path() / "tree" / "link.d88", error);
    links_ = !error;
  }
  // A path below the run's folder as the walk writes it.
  static std::string native(std::string path) {
    std::replace(path.begin(), path.end(), '/', static_cast<char>(fs::path::preferred_separator));
    return path;
  }
  bool links_ = false;
};

TEST_F(CollectionTest, SummaryOfAWalk) {
  const auto result = info({"-r", "--summary", "tree"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            text("path                     disks   system     data  not recognised    files  "
                 "incomplete  skipped\n" +
                 native("tree/a.d88") +
                 "                   1        0        0               1        0           0   "
                 "     0\n" +
                 native("tree/sub/B.D77") +
                 "               1        1        0               0        7           0        "
                 "0\n" +
                 native("tree/sub/deeper/D.D98") +
                 "        2        0        1               1        3           0        0\n" +
                 native("tree/sub/deeper/c.88d") +
                 "        1        0        1               0       11           1        7\n"
                 "total                        5        1        2               2       21      "
                 "     1        7  (4 files)\n"));
}

// The order given, a file that cannot be opened in the middle (a folder
// without -r is one too), and each file's listing as a run of its own gives it.
TEST_F(CollectionTest, FilesInTheOrderGiven) {
  const std::vector<std::string> files = {"tree/sub/deeper/c.88d", "tree/a.d88", "missing.d88",
                                          "tree", "tree/sub/B.D77"};
  const auto result = info(files);
  EXPECT_EQ(result.status, 1);
  std::string expected;
  for (const std::string& file : files) {
    expected += text("== " + file + "\n");
    if (file != "missing.d88" && file != "tree") {
      const auto alone = info({file});
      ASSERT_EQ(alone.status, 0) << file;
      expected += alone.out;
    }
  }
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(result.err, text(std::string("missing.d88: ") + kOpenError + "tree: " + kOpenError));

  const auto summary = info({"--summary", "--json", "tree/a.d88", "missing.d88"});
  EXPECT_EQ(summary.status, 1);
  EXPECT_EQ(summary.out,
            text(R"({"schema":6,"path":"tree/a.d88","disks":1,"systemDisks":0,"dataDisks":0,)"
                 R"("notRecognised":1,"files":0,"incomplete":0,"skipped":0})"
                 "\n"
                 R"({"schema":6,"path":"missing.d88","error":"cannotOpen"})"
                 "\n"
                 R"({"schema":6,"total":true,"inputs":2,"failed":1,"disks":1,"systemDisks":0,)"
                 R"("dataDisks":0,"notRecognised":1,"files":0,"incomplete":0,"skipped":0})"
                 "\n"));
}

// The walk: sorted, nested, any letter case of the extensions, nothing but
// them, and no folder reached through a link (link.d88 leads to sub).
TEST_F(CollectionTest, WalkFindsTheD88FilesInOrder) {
  std::vector<std::string> headings;
  const auto result = info(std::vector<std::string>{"-r", "tree"});
  EXPECT_EQ(result.status, 0);
  for (const std::string& line : lines(result.out)) {
    if (line.rfind("== ", 0) == 0) {
      headings.push_back(line.substr(3));
    }
  }
  EXPECT_EQ(headings, (std::vector<std::string>{native("tree/a.d88"), native("tree/sub/B.D77"),
                                                native("tree/sub/deeper/D.D98"),
                                                native("tree/sub/deeper/c.88d")}))
      << (links_ ? "" : "(no symbolic link to a folder could be made)");
}

// Byte for byte the same output whatever the threads, in every format, also
// with more files than threads and a file that fails among them.
TEST_F(CollectionTest, SameOutputForEveryThreadCount) {
  fs::create_directories(scratch_.path() / "tree" / "many");
  for (int i = 0; i < 12; ++i) {
    scratch_.write("tree/many/" + std::to_string(i) + ".d88",
                   i % 3 == 0 ? brokenChains() : d88test::Disk().name(std::to_string(i)).build());
  }
  fs::create_directories(scratch_.path() / "tree" / "many" / "x.d88");
  for (const std::vector<std::string>& format :
       {std::vector<std::string>{}, {"--json"}, {"--summary"}, {"--summary", "--json"}}) {
    std::vector<std::string> args = format;
    args.insert(args.end(), {"-r", "tree", "missing.d88"});
    const auto single = info([&] {
      auto with = args;
      with.insert(with.end(), {"-j", "1"});
      return with;
    }());
    EXPECT_EQ(single.status, 1);
    for (const char* threads : {"2", "4", "16"}) {
      auto with = args;
      with.insert(with.end(), {"-j", threads});
      const auto parallel = info(with);
      EXPECT_EQ(parallel.status, single.status) << threads;
      EXPECT_EQ(parallel.out, single.out) << threads;
      EXPECT_EQ(parallel.err, single.err) << threads;
    }
  }
}

#ifndef _WIN32
// Why no pseudo-terminal can be opened here (as in a chroot without
// /dev/pts), or "" when one can: its two ends opened, then closed.
std::string whyNoPseudoTerminal() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) {
    return std::string("posix_openpt: ") + std::strerror(errno);
  }
  std::string why;
  const char* name = nullptr;
  if (grantpt(master) != 0 || unlockpt(master) != 0 || (name = ptsname(master)) == nullptr) {
    why = std::string("grantpt, unlockpt or ptsname: ") + std::strerror(errno);
  } else {
    const int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
      why = std::string(name) + ": " + std::strerror(errno);
    } else {
      close(slave);
    }
  }
  close(master);
  return why;
}
#endif

// More than 20 inputs: a progress line when standard error is a terminal
// (a pseudo-terminal made by script), none when it is a file.
TEST_F(CollectionTest, ProgressOnlyOnATerminal) {
#ifdef _WIN32
  GTEST_SKIP() << "no pseudo-terminal";
#else
  if (const std::string why = whyNoPseudoTerminal(); !why.empty()) {
    GTEST_SKIP() << "no pseudo-terminal can be opened here: " << why;
  }
  fs::create_directories(scratch_.path() / "tree" / "many");
  for (int i = 0; i < 21; ++i) {
    scratch_.write("tree/many/" + std::to_string(i) + ".d88", d88test::Disk().build());
  }
  const std::string run = d88test::quoted(tool()) + " -r --summary tree";
  const auto toFile = info({"-r", "--summary", "tree"});
  EXPECT_EQ(toFile.status, 0);
  EXPECT_EQ(toFile.err, "");
  // script copies what the terminal shows (here standard error) to its output.
  const auto onTerminal = d88test::runShell(
      scratch_.path(), "script -qec " + d88test::quoted(run + " >table.txt") + " /dev/null",
      scratch_.path());
  EXPECT_EQ(onTerminal.status, 0);
  EXPECT_NE(onTerminal.out.find("\r25/25 files, "), std::string::npos) << onTerminal.out;
  EXPECT_NE(onTerminal.out.find(" MB, "), std::string::npos) << onTerminal.out;
  EXPECT_NE(onTerminal.out.find(" files/s"), std::string::npos) << onTerminal.out;
  const Bytes table = d88test::readAll(scratch_.path() / "table.txt");
  EXPECT_EQ(std::string(table.begin(), table.end()), toFile.out);
#endif
}

}  // namespace

namespace {

// Names outside ASCII given and walked (wide on Windows), the table aligned
// by terminal columns: two for each kana.
TEST_F(CollectionTest, NamesOutsideAscii) {
  // フォルダ holding ディスク.d88
  const std::string folder = "\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80";
  const std::string disk = "\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF.d88";
  fs::create_directories(scratch_.path() / fs::u8path(folder));
  fs::copy_file(scratch_.path() / "tree" / "a.d88",
                scratch_.path() / fs::u8path(folder) / fs::u8path(disk));
  const auto result = info({"--summary", "-r", folder, "tree/a.d88"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, text("path                     disks   system     data  not recognised    "
                             "files  incomplete  skipped\n" +
                             folder + native("/") + disk +
                             "        1        0        0               1        0           0   "
                             "     0\n"
                             "tree/a.d88                   1        0        0               1   "
                             "     0           0        0\n"
                             "total                        2        0        0               2   "
                             "     0           0        0  (2 files)\n"));
}

}  // namespace

namespace {

// Folders and files of one folder come out in one sorted order: a folder's
// files are not all listed before (or after) its subfolders.
TEST_F(CollectionTest, WalkSortsFilesAndSubfoldersTogether) {
  for (const char* name : {"mixed/b.d88", "mixed/a/x.d88", "mixed/d.d88", "mixed/c/y.d88"}) {
    fs::create_directories((scratch_.path() / name).parent_path());
    scratch_.write(name, d88test::Disk().name("M").build());
  }
  const auto result = info(std::vector<std::string>{"-r", "mixed"});
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> headings;
  for (const std::string& line : lines(result.out)) {
    if (line.rfind("== ", 0) == 0) {
      headings.push_back(line.substr(3));
    }
  }
  EXPECT_EQ(headings, (std::vector<std::string>{native("mixed/a/x.d88"), native("mixed/b.d88"),
                                                native("mixed/c/y.d88"), native("mixed/d.d88")}));
}

// The total line counts the inputs and, when any failed, how many: one
// failure too.
TEST_F(CollectionTest, TotalTellsHowManyFailed) {
  struct Case {
    std::vector<std::string> paths;
    std::string out;
    std::string err;
  };
  const std::string missing = std::string("missing.d88: ") + kOpenError;
  const Case cases[] = {
      {{"tree/a.d88"},
       "path          disks   system     data  not recognised    files  incomplete  skipped\n"
       "tree/a.d88        1        0        0               1        0           0        0\n"
       "total             1        0        0               1        0           0        0"
       "  (1 file)\n",
       ""},
      {{"tree/a.d88", "missing.d88"},
       "path           disks   system     data  not recognised    files  incomplete  skipped\n"
       "tree/a.d88         1        0        0               1        0           0        0\n"
       "missing.d88  cannot be opened\n"
       "total              1        0        0               1        0           0        0"
       "  (2 files, 1 failed)\n",
       missing},
      {{"missing.d88", "tree/a.d88", "missing.d88"},
       "path           disks   system     data  not recognised    files  incomplete  skipped\n"
       "missing.d88  cannot be opened\n"
       "tree/a.d88         1        0        0               1        0           0        0\n"
       "missing.d88  cannot be opened\n"
       "total              1        0        0               1        0           0        0"
       "  (3 files, 2 failed)\n",
       missing + missing},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--summary"};
    args.insert(args.end(), c.paths.begin(), c.paths.end());
    const auto result = info(args);
    EXPECT_EQ(result.status, c.err.empty() ? 0 : 1) << c.paths.size();
    EXPECT_EQ(result.out, text(c.out)) << c.paths.size();
    EXPECT_EQ(result.err, text(c.err)) << c.paths.size();
  }
}

#ifndef _WIN32
// A folder of the walk that cannot be listed (read by a user who is not
// root) is a failed input with its error line, its row, and exit status 1:
// the catalogue must not look complete.
TEST_F(CollectionTest, FolderThatCannotBeListedFails) {
  fs::create_directories(scratch_.path() / "tree" / "sub" / "locked");
  scratch_.write("tree/sub/locked/e.d88", d88test::Disk().name("E").build());
  std::string program = d88test::quoted(tool());
  if (geteuid() == 0) {
    // As root, user 65534 running a copy in the scratch folder, which that
    // user is given.
    const fs::path copy = scratch_.path() / "d88info";
    fs::copy_file(tool(), copy, fs::copy_options::overwrite_existing);
    ASSERT_EQ(
        std::system(("chown -R 65534:65534 " + d88test::quoted(scratch_.path().string())).c_str()),
        0);
    program =
        "setpriv --reuid=65534 --regid=65534 --clear-groups " + d88test::quoted(copy.string());
  }
  const std::string locked = (scratch_.path() / "tree" / "sub" / "locked").string();
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  const std::string err = "error: cannot list the folder tree/sub/locked: Permission denied\n";
  struct Case {
    std::string options;
    std::string out;
  };
  const Case cases[] = {
      {"--summary",
       "path                     disks   system     data  not recognised    files  incomplete  "
       "skipped\n"
       "tree/a.d88                   1        0        0               1        0           0   "
       "     0\n"
       "tree/sub/B.D77               1        1        0               0        7           0   "
       "     0\n"
       "tree/sub/deeper/D.D98        2        0        1               1        3           0   "
       "     0\n"
       "tree/sub/deeper/c.88d        1        0        1               0       11           1   "
       "     7\n"
       "tree/sub/locked        folder cannot be listed\n"
       "total                        5        1        2               2       21           1   "
       "     7  (5 files, 1 failed)\n"},
      {"--summary --json",
       R"({"schema":6,"path":"tree/a.d88","disks":1,"systemDisks":0,"dataDisks":0,)"
       R"("notRecognised":1,"files":0,"incomplete":0,"skipped":0})"
       "\n"
       R"({"schema":6,"path":"tree/sub/B.D77","disks":1,"systemDisks":1,"dataDisks":0,)"
       R"("notRecognised":0,"files":7,"incomplete":0,"skipped":0})"
       "\n"
       R"({"schema":6,"path":"tree/sub/deeper/D.D98","disks":2,"systemDisks":0,"dataDisks":1,)"
       R"("notRecognised":1,"files":3,"incomplete":0,"skipped":0})"
       "\n"
       R"({"schema":6,"path":"tree/sub/deeper/c.88d","disks":1,"systemDisks":0,"dataDisks":1,)"
       R"("notRecognised":0,"files":11,"incomplete":1,"skipped":7})"
       "\n"
       R"({"schema":6,"path":"tree/sub/locked","error":"cannotList"})"
       "\n"
       R"({"schema":6,"total":true,"inputs":5,"failed":1,"disks":5,"systemDisks":1,)"
       R"("dataDisks":2,"notRecognised":2,"files":21,"incomplete":1,"skipped":7})"
       "\n"}};
  for (const Case& c : cases) {
    const auto result =
        d88test::runShell(scratch_.path(), program + " -r " + c.options + " tree", scratch_.path());
    EXPECT_EQ(result.status, 1) << c.options;
    EXPECT_EQ(result.out, c.out) << c.options;
    EXPECT_EQ(result.err, err) << c.options;
  }
  // The listing as JSON Lines has the folder's line in its place too.
  const auto json =
      d88test::runShell(scratch_.path(), program + " -r --json tree", scratch_.path());
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.err, err);
  std::vector<std::string> paths;
  for (const std::string& line : lines(json.out)) {
    const auto parsed = nlohmann::json::parse(line);
    paths.push_back(parsed.at("path").get<std::string>() +
                    (parsed.contains("error") ? " " + parsed.at("error").get<std::string>() : ""));
  }
  EXPECT_EQ(paths,
            (std::vector<std::string>{"tree/a.d88", "tree/sub/B.D77", "tree/sub/deeper/D.D98",
                                      "tree/sub/deeper/c.88d", "tree/sub/locked cannotList"}));
  // Given back, so that the scratch folder can be removed.
  ASSERT_EQ(chmod(locked.c_str(), 0755), 0);
}
#endif

}  // namespace

namespace {

std::string headingsOf(const std::string& out) {
  std::string headings;
  for (const std::string& line : lines(out)) {
    if (line.rfind("== ", 0) == 0) {
      headings += line.substr(3) + "\n";
    }
  }
  return headings;
}

// With --json, every input that has no listing has its error line in its
// place, as with --summary --json: a script that reads only standard output
// sees each input once.
TEST_F(CollectionTest, JsonHasALineForEveryFailedInput) {
  const auto alone = info({"--json", "tree/a.d88", "tree/a.d88"});
  ASSERT_EQ(alone.status, 0);
  const std::string listed = lines(alone.out).at(0) + "\n";
  EXPECT_EQ(listed.rfind(R"({"schema":6,"path":"tree/a.d88","recordFields":)", 0), 0U) << listed;
  const auto result = info({"--json", "missing.d88", "tree/a.d88", "tree", "-j", "2"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, text(R"({"schema":6,"path":"missing.d88","error":"cannotOpen"})"
                             "\n" +
                             listed +
                             R"({"schema":6,"path":"tree","error":"cannotOpen"})"
                             "\n"));
  EXPECT_EQ(result.err, text(std::string("missing.d88: ") + kOpenError + "tree: " + kOpenError));
}

// A name that is only an extension ends in it: ".d88" and ".D77" are D88
// files to the walk, as ".hidden.d88" is, and a folder of that name is walked.
TEST_F(CollectionTest, WalkFindsNamesThatAreOnlyAnExtension) {
  for (const char* name : {"names/.d88", "names/.D77", "names/.hidden.d88", "names/d88",
                           "names/x.d88.txt", "names/.d98/z.d88", "names/.88d/.d68"}) {
    fs::create_directories((scratch_.path() / name).parent_path());
    scratch_.write(name, d88test::Disk().build());
  }
  const auto result = info(std::vector<std::string>{"-r", "names"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(headingsOf(result.out),
            native("names/.88d/.d68\nnames/.D77\nnames/.d88\nnames/.d98/z.d88\n"
                   "names/.hidden.d88\n"));
}

// Paths shown as disk names are: "\\" for a backslash, "\"" for a quote,
// "\xNN" for a control character and for each byte that is not UTF-8; so
// that no two files share a path, in the headings, the table and the JSON.
TEST_F(CollectionTest, PathsNameTheirFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "names are UTF-16 on Windows";
#else
  struct Case {
    std::string name;   // the bytes of the file's name
    std::string shown;  // as the listings show it
  };
  // In the walk's byte order.
  const Case cases[] = {
      {"a\tb.d88", "a\\x09b.d88"},
      {"a\\x09b.d88", "a\\\\x09b.d88"},
      {"q\"x.d88", "q\\\"x.d88"},
      {"\x7F.d88", "\\x7F.d88"},
      {"\xC2\x85.d88", "\\xC2\\x85.d88"},  // a C1 control character
      {"\xC3\xA9.d88", "\xC3\xA9.d88"},    // e acute
      {"\xE3"
       "A.d88",
       "\\xE3A.d88"},                            // a lead byte without its sequence
      {"\xE3\x81\x82.d88", "\xE3\x81\x82.d88"},  // hiragana a: two columns
      {"\xFF.d88", "\\xFF.d88"},
  };
  fs::create_directories(scratch_.path() / "names");
  // The table's path column: as wide as the widest shown path, in terminal
  // columns (the hiragana takes two of its three bytes' worth).
  auto columns = [](const std::string& shown) {
    const bool acute = shown.find("\xC3\xA9") != std::string::npos;     // two bytes, one column
    const bool wide = shown.find("\xE3\x81\x82") != std::string::npos;  // three, two
    return shown.size() - (acute ? 1 : 0) - (wide ? 1 : 0);
  };
  std::size_t widest = 0;
  for (const Case& c : cases) {
    widest = std::max(widest, columns("names/" + c.shown));
  }
  auto cell = [&](const std::string& shown) {
    return shown + std::string(widest - columns(shown), ' ');
  };
  std::string headings;
  std::string table =
      cell("path") + "    disks   system     data  not recognised    files  incomplete  skipped\n";
  std::string json;
  for (const Case& c : cases) {
    scratch_.write("names/" + c.name, d88test::Disk().build());
    const std::string shown = "names/" + c.shown;
    headings += shown + "\n";
    table +=
        cell(shown) + "        1        0        0               1        0           0        0\n";
    json += R"({"schema":6,"path":)" + nlohmann::json(shown).dump() +
            R"(,"disks":1,"systemDisks":0,"dataDisks":0,"notRecognised":1,"files":0,)"
            R"("incomplete":0,"skipped":0})"
            "\n";
  }
  table += cell("total") +
           "        9        0        0               9        0           0        0  (9 files)\n";
  const auto listing = info(std::vector<std::string>{"-r", "names"});
  EXPECT_EQ(listing.status, 0);
  EXPECT_EQ(headingsOf(listing.out), headings);
  const auto summary = info({"-r", "--summary", "names"});
  EXPECT_EQ(summary.status, 0);
  EXPECT_EQ(summary.out, table);
  const auto lines = info({"-r", "--summary", "--json", "names"});
  EXPECT_EQ(lines.status, 0);
  EXPECT_EQ(lines.out.substr(0, lines.out.rfind("{\"schema\":6,\"total\"")), json);
#endif
}

}  // namespace

#ifndef _WIN32
namespace {

// A tree deeper than the system's longest path (PATH_MAX, 4,096 bytes on
// Linux): the walk holds each folder open and reads on from its handle, so
// that the file deep down is listed like any other. Made and removed the
// same way, folder by folder.
class DeepTree {
 public:
  static constexpr int kLevels = 20;
  explicit DeepTree(const fs::path& root) : name_(220, 'n') {
    fs::create_directories(root);
    handles_.push_back(open(root.c_str(), O_RDONLY | O_DIRECTORY));
    for (int level = 0; level < kLevels; ++level) {
      const int at = handles_.back();
      EXPECT_EQ(mkdirat(at, name_.c_str(), 0755), 0) << std::strerror(errno);
      handles_.push_back(openat(at, name_.c_str(), O_RDONLY | O_DIRECTORY));
      EXPECT_GE(handles_.back(), 0) << std::strerror(errno);
    }
  }
  DeepTree(const DeepTree&) = delete;
  DeepTree& operator=(const DeepTree&) = delete;
  ~DeepTree() {
    (void)unlinkat(handles_.back(), "deep.d88", 0);
    for (std::size_t level = handles_.size() - 1; level > 0; --level) {
      close(handles_[level]);
      (void)unlinkat(handles_[level - 1], name_.c_str(), AT_REMOVEDIR);
    }
    close(handles_.front());
  }
  void write(const Bytes& bytes) const {
    const int file = openat(handles_.back(), "deep.d88", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0) << std::strerror(errno);
    EXPECT_EQ(::write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(file);
  }
  // The deep file's path below the root.
  [[nodiscard]] std::string below() const {
    std::string path;
    for (int level = 0; level < kLevels; ++level) {
      path += name_ + "/";
    }
    return path + "deep.d88";
  }

 private:
  std::string name_;
  std::vector<int> handles_;
};

TEST_F(CollectionTest, PathLongerThanTheSystemTakes) {
  const DeepTree deep(scratch_.path() / "deep");
  deep.write(d88test::systemDisk({100}, {50, 60}).build());
  const std::string path = "deep/" + deep.below();
  ASSERT_GT(path.size(), 4096U);
  const auto result = info({"-r", "--summary", "--json", "deep"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            R"({"schema":6,"path":")" + path +
                R"(","disks":1,"systemDisks":1,"dataDisks":0,"notRecognised":0,"files":7,)"
                R"("incomplete":0,"skipped":0})"
                "\n"
                R"({"schema":6,"total":true,"inputs":1,"failed":0,"disks":1,"systemDisks":1,)"
                R"("dataDisks":0,"notRecognised":0,"files":7,"incomplete":0,"skipped":0})"
                "\n");
  const auto listing = info(std::vector<std::string>{"-r", "deep"});
  EXPECT_EQ(listing.status, 0);
  EXPECT_EQ(headingsOf(listing.out), path + "\n");
}

// A file cut back to its first disk and grown again, over and over, while it
// is listed: every run gives the listing of the file as it stood (one disk,
// or that disk and a second of zeros), or nothing but the changed error
// with exit status 1; never a listing of disks read in both states, never
// part of a JSON document. (Each change is one call that sets the size, so
// that the file has no other state to be read in.)
TEST_F(CollectionTest, FileChangedWhileReadIsNeverAFalseListing) {
  const Bytes disk = d88test::systemDisk({100, 5000}, {3000, 60, 9000}, 80).build();
  Bytes grown = disk;
  grown.resize(2 * disk.size());
  const std::string path = scratch_.write("two.d88", grown);
  scratch_.write("grown.d88", grown);
  scratch_.write("one.d88", disk);
  struct Form {
    std::vector<std::string> args;  // before the file
    std::string changed;            // the error of a changed file
  };
  const Form forms[] = {
      {{"--json"}, "error: the D88 file changed while d88info read it\n"},
      {{"--summary", "--json"}, "error: two.d88 changed while d88info read it\n"},
  };
  auto renamed = [](std::string out, const std::string& from) {
    for (std::size_t at; (at = out.find(from)) != std::string::npos;) {
      out.replace(at, from.size(), "two.d88");
    }
    return out;
  };
  for (const Form& form : forms) {
    auto with = [&](const char* file) {
      auto args = form.args;
      args.push_back(file);
      return args;
    };
    const auto whole = info(with("grown.d88"));
    const auto cut = info(with("one.d88"));
    ASSERT_EQ(whole.status, 0);
    ASSERT_EQ(cut.status, 0);
    const std::string wholeOut = renamed(whole.out, "grown.d88");
    const std::string cutOut = renamed(cut.out, "one.d88");
    ASSERT_NE(wholeOut, cutOut);
    const std::string changedLine = R"({"schema":6,"path":"two.d88","error":"changed"})"
                                    "\n";
    const std::string failedTotal =
        R"({"schema":6,"total":true,"inputs":1,"failed":1,"disks":0,"systemDisks":0,)"
        R"("dataDisks":0,"notRecognised":0,"files":0,"incomplete":0,"skipped":0})"
        "\n";
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      const int file = open(path.c_str(), O_WRONLY);
      unsigned seed = 1;
      while (!stop) {
        seed = seed * 1103515245u + 12345u;
        EXPECT_EQ(ftruncate(file, static_cast<off_t>(disk.size())), 0);
        usleep(seed >> 16 & 0x7FF);
        EXPECT_EQ(ftruncate(file, static_cast<off_t>(grown.size())), 0);
        usleep(seed >> 8 & 0x7FF);
      }
      close(file);
    });
    int changed = 0;
    for (int run = 0; run < 60; ++run) {
      const auto result = info(with("two.d88"));
      if (result.status == 0) {
        EXPECT_TRUE(result.out == wholeOut || result.out == cutOut) << result.out.substr(0, 300);
        EXPECT_EQ(result.err, "");
      } else {
        ++changed;
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, form.args.size() == 1 ? "" : changedLine + failedTotal);
        EXPECT_EQ(result.err, form.changed);
      }
    }
    stop = true;
    writer.join();
    std::printf("%s: %d of 60 runs saw the change\n", form.args.back().c_str(), changed);
  }
}

// Output that cannot be written ends the run at once: the inputs after the
// failure are never opened (the missing file's error never comes), and the
// error is the write's alone.
TEST_F(CollectionTest, FailedWriteEndsTheRun) {
  // Rows of a long name, so that even the summary is more than two pipe
  // buffers of 64 KiB: the reader's end closes before the writing is done.
  const std::string name = "tree/" + std::string(200, 'l') + ".d88";
  scratch_.write(name, d88test::Disk().name("A").build());
  std::string inputs;
  for (int i = 0; i < 500; ++i) {
    inputs += " " + name;
  }
  inputs += " missing.d88";
  for (const char* options : {"", "--json", "--summary", "--summary --json"}) {
    for (const char* threads : {"1", "4"}) {
      SCOPED_TRACE(std::string(options) + " -j " + threads);
      const std::string run = d88test::quoted(tool()) + " -j " + threads + " " + options + inputs;
      const auto full =
          d88test::runShell(scratch_.path(), "{ " + run + " >/dev/full; }", scratch_.path());
      EXPECT_EQ(full.status, 1);
      EXPECT_EQ(full.err, "error: cannot write the listing: No space left on device\n");
      (void)d88test::runShell(scratch_.path(), run + " 2>piped.txt | head -c 1", scratch_.path());
      const Bytes piped = d88test::readAll(scratch_.path() / "piped.txt");
      EXPECT_EQ(std::string(piped.begin(), piped.end()),
                "error: cannot write the listing: Broken pipe\n");
    }
  }
}

// Standard output and standard error on one terminal: the progress line is
// cleared before the total row, which starts a line of its own.
TEST_F(CollectionTest, TotalIsNotWrittenOverTheProgressLine) {
  if (const std::string why = whyNoPseudoTerminal(); !why.empty()) {
    GTEST_SKIP() << "no pseudo-terminal can be opened here: " << why;
  }
  fs::create_directories(scratch_.path() / "tree" / "many");
  for (int i = 0; i < 21; ++i) {
    scratch_.write("tree/many/" + std::to_string(i) + ".d88", d88test::Disk().build());
  }
  const std::string run = d88test::quoted(tool()) + " -r --summary tree";
  const auto shown = d88test::runShell(
      scratch_.path(), "script -qec " + d88test::quoted(run) + " /dev/null", scratch_.path());
  EXPECT_EQ(shown.status, 0);
  const std::size_t total = shown.out.find("total   ");
  ASSERT_NE(total, std::string::npos) << shown.out;
  // What the terminal shows on the total's line when the total comes: the
  // cursor back at its start, and nothing but spaces left of what was drawn.
  const std::size_t line = shown.out.rfind('\n', total);
  std::string screen;
  std::size_t cursor = 0;
  for (const char ch : shown.out.substr(line + 1, total - line - 1)) {
    if (ch == '\r') {
      cursor = 0;
    } else if (cursor < screen.size()) {
      screen[cursor++] = ch;
    } else {
      screen += ch;
      ++cursor;
    }
  }
  EXPECT_EQ(cursor, 0U) << screen;
  EXPECT_EQ(screen.find_first_not_of(' '), std::string::npos) << screen;
  EXPECT_NE(shown.out.find("25/25 files, ", total), std::string::npos) << shown.out;
}

// Memory does not grow with the tree beyond a little per file: 5,000 files
// of paths of some 320 bytes, 7 folders deep, against 500 of them.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define D88_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define D88_TEST_SANITIZED 1
#endif
TEST_F(CollectionTest, MemoryHardlyGrowsWithTheTree) {
#ifdef D88_TEST_SANITIZED
  GTEST_SKIP() << "under a sanitizer, memory is the sanitizer's";
#endif
  if (std::system("/usr/bin/time -f %M true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "GNU time is not installed";
  }
  const Bytes empty = d88test::Disk().build();
  auto peakOf = [&](int files) {
    const fs::path root = scratch_.path() / ("t" + std::to_string(files));
    const std::string folder(40, 'f');
    for (int i = 0; i < files; ++i) {
      fs::path path = root;
      for (int level = 0; level < 7; ++level) {
        path /= folder + std::to_string(i / 100 % 10 + level);
      }
      if (i % 100 == 0) {
        fs::create_directories(path);
      }
      EXPECT_TRUE(d88test::writeFile(
          (path / (std::string(30, 'x') + std::to_string(i) + ".d88")).string(), empty));
    }
    // One worker: with two, each thread's heap takes what the scheduling
    // of the moment gives it, and the peak moves by hundreds of KiB from
    // run to run on a loaded machine. The median of three runs.
    std::vector<long> peaks;
    for (int run = 0; run < 3; ++run) {
      const auto result = d88test::runShell(scratch_.path(),
                                            "/usr/bin/time -f %M -o rss.txt " +
                                                d88test::quoted(tool()) + " -r --summary -j 1 " +
                                                d88test::quoted(root.string()) + " >/dev/null",
                                            scratch_.path());
      EXPECT_EQ(result.status, 0);
      const Bytes rss = d88test::readAll(scratch_.path() / "rss.txt");
      peaks.push_back(std::stol(std::string(rss.begin(), rss.end())));
    }
    std::sort(peaks.begin(), peaks.end());
    return peaks[1];
  };
  const long small = peakOf(500);
  const long large = peakOf(5000);
  EXPECT_LT(large - small, 1024) << small << " KiB for 500 files, " << large << " KiB for 5,000";
}

}  // namespace
#endif
