// End-to-end tests of d88info on builder images and, where present, on the
// real images kept beside the project.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "image_builder.h"
#include "test_support.h"
#include "tool_runner.h"

namespace {

namespace fs = std::filesystem;
using d88test::address;
using d88test::Bytes;

using d88test::text;

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

class InfoTest : public ::testing::Test {
 protected:
  d88test::RunResult info(const Bytes& file) { return info({scratch_.write("disk.d88", file)}); }
  d88test::RunResult info(const std::vector<std::string>& args) {
    static const std::string tool = fs::absolute(D88INFO_PATH).make_preferred().string();
    return d88test::runIn(scratch_.path(), tool, args, scratch_.path());
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
  const Bytes test =
      d88test::Disk().name("TEST").mediaType(0x20).track(0, first).track(3, odd).build();
  // A Shift_JIS name, an unknown media type, and a track offset inside the header.
  const Bytes named =
      d88test::Disk().name("\x83\x66\x81\x5B\x83\x5E").mediaType(0x99).trackOffset(161, 8).build();
  // TEST comes last: the walk of its track 3 ends at the end of the file.
  const auto result = info(d88test::concat({named, test}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(
      result.out,
      // データ, decoded to UTF-8
      text("disk 0: offset 0x00000000  name \"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\"  media 0x99 "
           "(unknown)  size 0x000002B0\n"
           "  track 161 (C 80 H 1): offset 0x00000008 points into the disk header, not a "
           "track\n"
           "  kind: not recognised\n"
           "disk 1: offset 0x000002B0  name \"TEST\"  media 0x20 (2HD)  size 0x000004C4\n"
           "  track   0 (C  0 H 0): 2 sectors: 00-00-01-01 00-00-02-01[0064]\n"
           "  track   3 (C  1 H 1): 5 sectors: 01-01-01-00  (cut short by the end of the file)\n"
           "  kind: not recognised\n"));
}

TEST_F(InfoTest, TellsWhatExtractionWouldDoWithEachFile) {
  d88test::FixedTableLayout data = d88test::dataDisk({2000}, {});
  const std::int32_t broken = address(10, 1, 0x10);
  data.disk.table(0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, broken, broken + 1900,
                      address(2, 1, 0), address(200, 1, 0), address(200, 1, 0x10)});
  data.disk.replace(10, d88test::Track().sector(5, 0, 1, 1, Bytes(256, 1)));
  const auto result = info(data.build());
  std::vector<std::string> files;
  for (const std::string& line : lines(result.out)) {
    if (line.rfind("  kind:", 0) == 0 || line.rfind("  D", 0) == 0) {
      files.push_back(line);
    }
  }
  EXPECT_EQ(files, (std::vector<std::string>{
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

TEST_F(InfoTest, UsageAndOpenErrorAsTheExtractorWordsThem) {
  auto result = info(std::vector<std::string>{});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Usage: "), std::string::npos);
  result = info({scratch_.file("missing.d88")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  // ファイルをオープンできません, in UTF-8 like all of d88info's texts
  EXPECT_EQ(result.err,
            text("\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82"
                 "\xAA\xE3\x83\xBC\xE3\x83\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81"
                 "\xBE\xE3\x81\x9B\xE3\x82\x93\n"));
}

// The real images hold 154 tracks of 8 sectors of 1024 bytes: C = track / 2,
// H = track % 2, R = 1 to 8, N = 3.
TEST_F(InfoTest, RealImagesShowTheirTracks) {
  const fs::path folder = fs::absolute(D88_REAL_IMAGES);
  if (!fs::is_directory(folder)) {
    GTEST_SKIP() << "no real images at " << folder.string();
  }
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
