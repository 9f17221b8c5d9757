#include "d88/d88_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "d88/byte_overlay.h"
#include "tests/test_support.h"

namespace {

using d88::D88Image;
using d88test::Bytes;
using d88test::Disk;
using d88test::ScratchDir;
using d88test::SectorRecord;
using d88test::Track;

Bytes filled(std::size_t size, std::uint8_t first) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(first + i);
  }
  return bytes;
}

// A disk whose track t holds sectors 1..16 of cylinder t/2, side t%2, each
// 256 bytes filled with the pattern (t, r, 0, 1, 2, ...).
Disk patternDisk(int tracks) {
  Disk disk;
  for (int t = 0; t < tracks; ++t) {
    Track track;
    for (int r = 1; r <= 16; ++r) {
      Bytes data = filled(256, 0);
      data[0] = static_cast<std::uint8_t>(t);
      data[1] = static_cast<std::uint8_t>(r);
      track.sector(static_cast<std::uint8_t>(t / 2), static_cast<std::uint8_t>(t % 2),
                   static_cast<std::uint8_t>(r), 1, data);
    }
    disk.track(t, track);
  }
  return disk;
}

class ReaderTest : public ::testing::Test {
 protected:
  // Writes the file and opens it; the disk count is left to the test.
  void load(const Bytes& file) {
    const std::string path = scratch_.write("image" + std::to_string(loads_++) + ".d88", file);
    ASSERT_TRUE(image_.open(path.c_str()));
  }
  void loadAndSelect(const Bytes& file) {
    load(file);
    ASSERT_TRUE(image_.selectDisk(0));
  }
  void TearDown() override { EXPECT_TRUE(image_.open(nullptr)); }

  ScratchDir scratch_;
  D88Image image_;
  int loads_ = 0;
};

// ---------------------------------------------------------------------------
// Little-endian helpers

TEST(LittleEndian, DecodesIndependentlyOfHostOrder) {
  const std::uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12, 0xFF};
  EXPECT_EQ(d88::readLe32(bytes), 0x12345678u);
  EXPECT_EQ(d88::readLe16(bytes), 0x5678u);
  EXPECT_EQ(d88::readLe32(bytes + 1), 0xFF123456u);
}

// ---------------------------------------------------------------------------
// The scan for disk images

struct ScanCase {
  const char* what;
  std::vector<std::uint32_t> sizeFields;  // one header each, padded to its size where sensible
  std::size_t trailingBytes;              // extra bytes after the last header
  std::int32_t expectedCount;
  std::vector<std::int32_t> expectedOffsets;
};

std::ostream& operator<<(std::ostream& out, const ScanCase& c) {
  return out << c.what;
}

class ScanTest : public ReaderTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTest, CountsAndOffsets) {
  const ScanCase& c = GetParam();
  Bytes file;
  for (std::uint32_t size : c.sizeFields) {
    Bytes image = Disk().sizeField(size).build();
    // Pad a plausible image out to its stated size so the next header follows it.
    if (size > image.size() && size < 100000) {
      image.resize(size, 0);
    }
    file.insert(file.end(), image.begin(), image.end());
  }
  file.resize(file.size() + c.trailingBytes, 0);
  load(file);
  ASSERT_EQ(image_.diskCount(), c.expectedCount) << c.what;
  for (std::size_t i = 0; i < c.expectedOffsets.size(); ++i) {
    EXPECT_EQ(image_.diskOffset(static_cast<std::int32_t>(i)), c.expectedOffsets[i]) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reader, ScanTest,
    ::testing::Values(ScanCase{"empty file", {}, 0, 0, {}},
                      ScanCase{"shorter than a header", {}, 687, 0, {}},
                      ScanCase{"one header-only image", {0x2B0}, 0, 1, {0}},
                      ScanCase{"three images", {0x300, 0x2B0, 0x1000}, 0, 3, {0, 0x300, 0x5B0}},
                      ScanCase{"partial header after the last image", {0x300}, 687, 1, {0}},
                      ScanCase{"zero size is counted and ends the scan", {0, 0x2B0}, 0, 1, {0}},
                      ScanCase{"size one below the header ends the scan", {0x2AF}, 0x400, 1, {0}},
                      ScanCase{"negative size ends the scan", {0xFFFFFF00u}, 0x400, 1, {0}},
                      ScanCase{
                          "size 2^31 - 1 ends at the end of the file", {0x7FFFFFFFu}, 0, 1, {0}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(ReaderTest, ScanStopsAtSixtyFourImages) {
  std::vector<Bytes> images(65, Disk().build());
  load(d88test::concat(images));
  EXPECT_EQ(image_.diskCount(), 64);
  EXPECT_EQ(image_.diskOffset(63), 63 * 0x2B0);
}

TEST_F(ReaderTest, ScanEndsAfterTheImageWhoseSizeLeadsPastTwoGigabytes) {
  // Two headers: one at 0 whose size reaches to near 2^31, one there whose
  // size would pass 2^31 - 1. The file is sparse where the host allows.
  const std::string path = scratch_.file("huge.d88");
  const std::int64_t second = 0x7FFFFF00;
  {
    std::ofstream out(path, std::ios::binary);
    const Bytes first = Disk().sizeField(static_cast<std::uint32_t>(second)).build();
    out.write(reinterpret_cast<const char*>(first.data()),
              static_cast<std::streamsize>(first.size()));
    out.seekp(second);
    const Bytes last = Disk().sizeField(0x1000).build();
    out.write(reinterpret_cast<const char*>(last.data()),
              static_cast<std::streamsize>(last.size()));
    if (!out) {
      GTEST_SKIP() << "cannot write a 2 GiB file here";
    }
  }
  ASSERT_TRUE(image_.open(path.c_str()));
  EXPECT_EQ(image_.diskCount(), 2);
  EXPECT_EQ(image_.diskOffset(1), second);
  ASSERT_TRUE(image_.open(nullptr));
  std::filesystem::remove(path);
}

// ---------------------------------------------------------------------------
// Opening and selection

TEST_F(ReaderTest, OpenFailsOnMissingFilesAndDirectories) {
  EXPECT_FALSE(image_.open(scratch_.file("missing.d88").c_str()));
  EXPECT_FALSE(image_.open(scratch_.path().string().c_str()));
  EXPECT_FALSE(image_.openFile(std::fopen(scratch_.path().string().c_str(), "rb")));
  EXPECT_EQ(image_.diskCount(), 0);
  EXPECT_FALSE(image_.selectDisk(0));
}

TEST_F(ReaderTest, OpenWithNullClosesAndReadsYieldNothing) {
  loadAndSelect(patternDisk(1).build());
  std::uint8_t buffer[256];
  ASSERT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer, 256), 256);
  ASSERT_TRUE(image_.open(nullptr));
  EXPECT_EQ(image_.diskCount(), 0);
  EXPECT_EQ(image_.mediaType(), -1);
  EXPECT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer, 256), 0);
  EXPECT_EQ(image_.readSectors(0, 0, 0, 1, 1, buffer, 256), 0);
  EXPECT_EQ(image_.readSectorIds(0, buffer, 256), 0);
  EXPECT_FALSE(image_.selectDisk(0));
}

TEST_F(ReaderTest, OpeningAnotherFileReplacesTheFirst) {
  load(d88test::concat({Disk().name("A").build(), Disk().name("B").build()}));
  ASSERT_EQ(image_.diskCount(), 2);
  load(Disk().name("C").build());
  EXPECT_EQ(image_.diskCount(), 1);
  ASSERT_TRUE(image_.selectDisk(0));
  EXPECT_STREQ(image_.diskName(), "C");
}

TEST_F(ReaderTest, BeforeAnySelectionEveryTrackIsAbsent) {
  load(patternDisk(1).build());
  std::uint8_t buffer[256];
  EXPECT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer, 256), 0);
  EXPECT_EQ(image_.mediaType(), -1);
  EXPECT_STREQ(image_.diskName(), "");
}

TEST_F(ReaderTest, SelectionCopiesTheHeaderFields) {
  const Bytes first = Disk().name("FIRST").mediaType(0x20).build();
  const Bytes second = patternDisk(2).name("0123456789ABCDEF").mediaType(0xFF).build();
  load(d88test::concat({first, second}));
  ASSERT_TRUE(image_.selectDisk(1));
  EXPECT_EQ(image_.mediaType(), 255);
  EXPECT_EQ(image_.diskBase(), static_cast<std::int32_t>(first.size()));
  EXPECT_EQ(image_.diskSize(), static_cast<std::int32_t>(second.size()));
  // Sixteen name bytes come back with the closing NUL at byte 16.
  EXPECT_EQ(std::string(image_.diskName()), "0123456789ABCDEF");
  EXPECT_EQ(image_.diskName()[16], '\0');
  ASSERT_TRUE(image_.selectDisk(0));
  EXPECT_STREQ(image_.diskName(), "FIRST");
  EXPECT_EQ(image_.mediaType(), 0x20);
}

TEST_F(ReaderTest, NameCopyStopsAtTheFirstNul) {
  Bytes image = Disk().name("AB").build();
  image[3] = 'Z';  // after the NUL at byte 2
  loadAndSelect(image);
  EXPECT_STREQ(image_.diskName(), "AB");
  EXPECT_EQ(image_.diskName()[3], '\0');
}

TEST_F(ReaderTest, FailedSelectionLeavesNoDiskSelected) {
  load(patternDisk(1).name("DISK").mediaType(0x10).build());
  std::uint8_t buffer[256];
  for (std::int32_t index : {1, -1, 64}) {
    ASSERT_TRUE(image_.selectDisk(0));
    EXPECT_FALSE(image_.selectDisk(index)) << index;
    EXPECT_EQ(image_.diskSize(), 0);
    EXPECT_EQ(image_.diskBase(), -1);
    EXPECT_EQ(image_.mediaType(), -1);
    EXPECT_STREQ(image_.diskName(), "");
    EXPECT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer, 256), 0);
  }
}

TEST_F(ReaderTest, HeaderCutShortAfterTheScanFailsSelection) {
  const std::string path = scratch_.write("shrinks.d88", patternDisk(1).name("X").build());
  ASSERT_TRUE(image_.open(path.c_str()));
  ASSERT_EQ(image_.diskCount(), 1);
  std::error_code error;
  std::filesystem::resize_file(path, 100, error);
  if (error) {
    GTEST_SKIP() << "this host cannot shrink an open file";
  }
  EXPECT_FALSE(image_.selectDisk(0));
  EXPECT_EQ(image_.diskSize(), 0);
  EXPECT_EQ(image_.mediaType(), -1);
  EXPECT_STREQ(image_.diskName(), "");
}

// ---------------------------------------------------------------------------
// Single sector reads

Track threeSectors() {
  Track track;
  track.sector(0, 0, 1, 1, filled(256, 0x10))
      .sector(0, 0, 2, 1, filled(100, 0x20))   // stored shorter than 128 << N
      .sector(0, 0, 1, 1, filled(256, 0x30));  // a duplicate ID, found second
  return track;
}

struct SectorCase {
  const char* what;
  std::int32_t track, c, h, r, n, len;
  std::int32_t expected;
  std::uint8_t firstByte;
};

std::ostream& operator<<(std::ostream& out, const SectorCase& c) {
  return out << c.what;
}

class SectorReadTest : public ReaderTest, public ::testing::WithParamInterface<SectorCase> {};

TEST_P(SectorReadTest, ReadsByIdOnly) {
  const SectorCase& c = GetParam();
  loadAndSelect(Disk().track(0, threeSectors()).track(3, threeSectors()).build());
  Bytes buffer(300, 0xEE);
  EXPECT_EQ(image_.readSector(c.track, c.c, c.h, c.r, c.n, buffer.data(), c.len), c.expected)
      << c.what;
  EXPECT_EQ(buffer[0], c.expected > 0 ? c.firstByte : 0xEE) << c.what;
  if (c.expected >= 0 && c.expected < 300) {
    EXPECT_EQ(buffer[static_cast<std::size_t>(c.expected)], 0xEE) << c.what << ": wrote too much";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reader, SectorReadTest,
    ::testing::Values(SectorCase{"found", 0, 0, 0, 1, 1, 256, 256, 0x10},
                      SectorCase{"first of two equal IDs wins", 0, 0, 0, 1, 1, 300, 256, 0x10},
                      SectorCase{"len cuts the data", 0, 0, 0, 1, 1, 10, 10, 0x10},
                      SectorCase{"short stored data gives its length", 0, 0, 0, 2, 1, 256, 100,
                                 0x20},
                      SectorCase{"len 0 reads nothing", 0, 0, 0, 1, 1, 0, 0, 0},
                      SectorCase{"negative len reads nothing", 0, 0, 0, 1, 1, -5, 0, 0},
                      SectorCase{"wrong C", 0, 1, 0, 1, 1, 256, 0, 0},
                      SectorCase{"wrong H", 0, 0, 1, 1, 1, 256, 0, 0},
                      SectorCase{"wrong N", 0, 0, 0, 1, 2, 256, 0, 0},
                      SectorCase{"no such R", 0, 0, 0, 3, 1, 256, 0, 0},
                      SectorCase{"IDs need not fit the track index", 3, 0, 0, 2, 1, 256, 100, 0x20},
                      SectorCase{"absent track", 1, 0, 0, 1, 1, 256, 0, 0},
                      SectorCase{"track index -1", -1, 0, 0, 1, 1, 256, 0, 0},
                      SectorCase{"track index 164", 164, 0, 0, 1, 1, 256, 0, 0}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(ReaderTest, ReadsAreRelativeToTheSelectedImage) {
  const Bytes first = patternDisk(1).build();
  Track other;
  other.sector(0, 0, 1, 1, filled(256, 0x77));
  load(d88test::concat({first, Disk().track(0, other).build()}));
  std::uint8_t buffer[256];
  ASSERT_TRUE(image_.selectDisk(1));
  ASSERT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer, 256), 256);
  EXPECT_EQ(buffer[0], 0x77);
  ASSERT_TRUE(image_.selectDisk(0));
  ASSERT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer, 256), 256);
  EXPECT_EQ(buffer[1], 1);
}

// Damaged tracks: each case is a track of records and the sector looked for.
struct DamageCase {
  const char* what;
  std::vector<SectorRecord> records;
  std::uint8_t r;
  std::int32_t expected;
};

std::ostream& operator<<(std::ostream& out, const DamageCase& c) {
  return out << c.what;
}

SectorRecord record(std::uint8_t r, std::size_t size, std::optional<std::uint16_t> count = {},
                    std::optional<std::uint16_t> length = {}) {
  SectorRecord out;
  out.r = r;
  out.data = filled(size, r);
  out.sectorCount = count;
  out.dataLength = length;
  return out;
}

class DamagedTrackTest : public ReaderTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedTrackTest, WalkEndsWhereTheRecordsSay) {
  const DamageCase& c = GetParam();
  Track track;
  for (const SectorRecord& r : c.records) {
    track.sector(r);
  }
  loadAndSelect(Disk().track(0, track).build());
  Bytes buffer(512, 0);
  EXPECT_EQ(image_.readSector(0, 0, 0, c.r, 1, buffer.data(), 256), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Reader, DamagedTrackTest,
    ::testing::Values(
        DamageCase{"zero count on the first header", {record(1, 256, 0)}, 1, 0},
        DamageCase{"zero count before the sector",
                   {record(1, 256), record(2, 256, 0), record(3, 256)},
                   3,
                   0},
        DamageCase{"count 2 hides the third record",
                   {record(1, 256, 2), record(2, 256, 2), record(3, 256, 2)},
                   3,
                   0},
        DamageCase{"count 2 still finds the second",
                   {record(1, 256, 2), record(2, 256, 2), record(3, 256, 2)},
                   2,
                   256},
        DamageCase{"count falling below the position ends the walk",
                   {record(1, 256, 9), record(2, 256, 9), record(4, 256, 1), record(3, 256, 9)},
                   3,
                   0},
        DamageCase{"count 1 ends after the first", {record(1, 256, 1), record(2, 256, 1)}, 2, 0},
        DamageCase{"count too large runs into the end of the file",
                   {record(1, 256, 40), record(2, 256, 40)},
                   3,
                   0},
        DamageCase{"stored length skips the data", {record(1, 300), record(2, 256)}, 2, 256},
        DamageCase{"data length beyond the stored bytes", {record(1, 256, {}, 0x2000)}, 1, 256},
        DamageCase{"data length 0", {record(1, 256, {}, 0), record(2, 256)}, 1, 0}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(ReaderTest, TruncatedImagesEndTheWalk) {
  Track track;
  track.sector(0, 0, 1, 1, filled(256, 1)).sector(0, 0, 2, 1, filled(256, 2));
  const Bytes whole = Disk().track(0, track).build();
  const std::size_t secondHeader = 0x2B0 + 16 + 256;
  std::uint8_t buffer[256];
  // Cut inside the second record's header: it cannot be read whole.
  loadAndSelect(d88test::truncated(whole, secondHeader + 8));
  EXPECT_EQ(image_.readSector(0, 0, 0, 2, 1, buffer, 256), 0);
  EXPECT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer, 256), 256);
  // Cut inside the second record's data: the bytes that are there come back.
  loadAndSelect(d88test::truncated(whole, secondHeader + 16 + 40));
  EXPECT_EQ(image_.readSector(0, 0, 0, 2, 1, buffer, 256), 40);
  EXPECT_EQ(buffer[39], 2 + 39);
}

TEST_F(ReaderTest, TrackOffsetIsCheckedAgainstTheDiskSize) {
  Track track;
  track.sector(0, 0, 1, 1, filled(256, 1));
  const Bytes base = Disk().track(0, track).build();
  std::uint8_t buffer[256];
  struct Case {
    const char* what;
    std::uint32_t trackOffset;
    std::uint32_t sizeField;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"offset equal to the size passes", 0x2B0, 0x2B0, 256},
      {"offset above the size fails", 0x2B0, 0x2AF, 0},
      {"offset of 2^31 or more is absent", 0x80000000u, 0x7FFFFFFFu, 0},
      {"negative size fails every track", 0x2B0, 0xFFFFFFF0u, 0},
  };
  for (const Case& c : cases) {
    Bytes image = base;
    d88test::putLe32(image, 0x20, c.trackOffset);
    d88test::putLe32(image, 0x1C, c.sizeField);
    loadAndSelect(image);
    EXPECT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer, 256), c.expected) << c.what;
    EXPECT_EQ(image_.readSectorIds(0, buffer, 256), c.expected == 0 ? 0 : 4) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Chained reads

class ChainTest : public ReaderTest {
 protected:
  void SetUp() override { loadAndSelect(patternDisk(6).build()); }
  // Checks that bytes [from, from + 256) of the buffer are sector (t, r).
  static void expectSector(const Bytes& buffer, std::size_t from, int t, int r) {
    EXPECT_EQ(buffer[from], t) << "at " << from;
    EXPECT_EQ(buffer[from + 1], r) << "at " << from;
  }
};

TEST_F(ChainTest, WholeTrackStaysOnTheTrack) {
  Bytes buffer(8192, 0xEE);
  ASSERT_EQ(image_.readSectors(0, 0, 0, 1, 1, buffer.data(), 4096), 4096);
  for (int r = 1; r <= 16; ++r) {
    expectSector(buffer, static_cast<std::size_t>(r - 1) * 256, 0, r);
  }
  EXPECT_EQ(buffer[4096], 0xEE);
}

TEST_F(ChainTest, OneByteMoreTurnsToTheOtherSide) {
  Bytes buffer(8192, 0xEE);
  ASSERT_EQ(image_.readSectors(0, 0, 0, 1, 1, buffer.data(), 4097), 4097);
  EXPECT_EQ(buffer[4096], 1);  // track 1 = cylinder 0, side 1
  EXPECT_EQ(buffer[4097], 0xEE);
  // From side 1 the chain goes on to side 0 of the next cylinder.
  ASSERT_EQ(image_.readSectors(1, 0, 1, 1, 1, buffer.data(), 4097), 4097);
  EXPECT_EQ(buffer[4096], 2);
}

TEST_F(ChainTest, StartsMidTrackAndCutsTheLastStep) {
  Bytes buffer(20000, 0xEE);
  // 10,275 bytes from sector 1 of track 2: 41 sectors over tracks 2, 3, 4.
  ASSERT_EQ(image_.readSectors(2, 1, 0, 1, 1, buffer.data(), 10275), 10275);
  expectSector(buffer, 4096, 3, 1);
  expectSector(buffer, 8192, 4, 1);
  EXPECT_EQ(buffer[10274], 34);  // byte 34 of sector (4, 9)
  EXPECT_EQ(buffer[10275], 0xEE);
  // From sector 15 of track 0, the third step is sector 1 of track 1.
  ASSERT_EQ(image_.readSectors(0, 0, 0, 15, 1, buffer.data(), 600), 600);
  expectSector(buffer, 512, 1, 1);
}

TEST_F(ChainTest, BreakReturnsTheWholeStepsBeforeIt) {
  Track track;
  track.sector(0, 0, 1, 1, filled(256, 1)).sector(0, 0, 2, 1, filled(256, 2));
  Track shortLast;
  shortLast.sector(0, 0, 1, 1, filled(256, 1)).sector(0, 0, 2, 1, filled(50, 0x60));
  Bytes buffer(1024, 0xEE);
  // Sector 3 is missing: two steps count, nothing is written for the third.
  loadAndSelect(Disk().track(0, track).build());
  EXPECT_EQ(image_.readSectors(0, 0, 0, 1, 1, buffer.data(), 1000), 512);
  EXPECT_EQ(buffer[512], 0xEE);
  // A stored sector shorter than its step ends the chain; its bytes stay.
  buffer.assign(1024, 0xEE);
  loadAndSelect(Disk().track(0, shortLast).build());
  EXPECT_EQ(image_.readSectors(0, 0, 0, 1, 1, buffer.data(), 1000), 256);
  EXPECT_EQ(buffer[256], 0x60);
  EXPECT_EQ(buffer[306], 0xEE);
  // A missing first sector reads nothing.
  EXPECT_EQ(image_.readSectors(0, 0, 0, 5, 1, buffer.data(), 1000), 0);
}

TEST_F(ChainTest, PlanGoesOnPastTheBreakWhereLocatingStops) {
  Track track;
  track.sector(0, 0, 1, 1, filled(256, 1))
      .sector(0, 0, 2, 1, filled(50, 2))
      .sector(0, 0, 4, 1, filled(256, 4));
  loadAndSelect(Disk().track(0, track).build());
  std::vector<d88::ChainStep> located;
  std::vector<d88::ChainStep> planned;
  // 1000 bytes from sector 1: sector 2 is cut short, sector 3 missing.
  EXPECT_EQ(image_.locateSectors(0, 0, 0, 1, 1, 1000, located), 256);
  EXPECT_EQ(image_.planSectors(0, 0, 0, 1, 1, 1000, planned), 1000);
  ASSERT_EQ(located.size(), 2U);
  ASSERT_EQ(planned.size(), 4U);
  const std::array<std::int32_t, 4> lengths{256, 50, 0, 232};
  for (std::size_t i = 0; i < planned.size(); ++i) {
    EXPECT_EQ(planned[i].sector.r, static_cast<std::int32_t>(i) + 1) << i;
    EXPECT_EQ(planned[i].chainOffset, static_cast<std::int32_t>(i) * 256) << i;
    EXPECT_EQ(planned[i].length, lengths[i]) << i;
    EXPECT_EQ(planned[i].position < 0, i == 2) << i;
    if (i < located.size()) {
      EXPECT_EQ(planned[i].position, located[i].position) << i;
    }
  }
  // Past the last sector of the range the plan turns to the other side.
  EXPECT_EQ(image_.planSectors(0, 0, 0, 16, 1, 300, planned), 300);
  ASSERT_EQ(planned.size(), 2U);
  EXPECT_EQ(planned[1].sector.track, 1);
  EXPECT_EQ(planned[1].sector.h, 1);
  EXPECT_EQ(planned[1].sector.r, 1);
}

TEST_F(ChainTest, RejectsEmptyLengthsAndOversizedCodes) {
  Bytes buffer(256, 0xEE);
  EXPECT_EQ(image_.readSectors(0, 0, 0, 1, 1, buffer.data(), 0), 0);
  EXPECT_EQ(image_.readSectors(0, 0, 0, 1, 1, buffer.data(), -1), 0);
  EXPECT_EQ(image_.readSectors(0, 0, 0, 1, 24, buffer.data(), 256), 0);
  EXPECT_EQ(image_.readSectors(0, 0, 0, 1, -1, buffer.data(), 256), 0);
  EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(ChainTest, FollowsTheSectorRange) {
  image_.setSectorRange(3, 4);
  Bytes buffer(1024, 0xEE);
  // 3, 4 on track 0, then 3, 4 on track 1.
  ASSERT_EQ(image_.readSectors(0, 0, 0, 3, 1, buffer.data(), 1024), 1024);
  expectSector(buffer, 256, 0, 4);
  expectSector(buffer, 512, 1, 3);
  expectSector(buffer, 768, 1, 4);
  // A start past the last sector (a table names up to 31) counts on, and
  // ends where the track has no such sector, without turning sides.
  buffer.assign(4096, 0xEE);
  ASSERT_EQ(image_.readSectors(0, 0, 0, 5, 1, buffer.data(), 4096), 12 * 256);
  expectSector(buffer, 256, 0, 6);
  expectSector(buffer, 11 * 256, 0, 16);
}

TEST_F(ChainTest, EndsPastTheLastTrackSlot) {
  Track last;
  last.sector(81, 1, 16, 1, filled(256, 9));
  loadAndSelect(Disk().track(163, last).build());
  Bytes buffer(512, 0);
  EXPECT_EQ(image_.readSectors(163, 81, 1, 16, 1, buffer.data(), 512), 256);
}

// ---------------------------------------------------------------------------
// Sector ID lists

TEST_F(ReaderTest, SectorIdsInStoredOrder) {
  Track track;
  track.sector(5, 1, 9, 3, filled(10, 0)).sector(5, 1, 1, 1, filled(300, 0)).sector(6, 0, 2, 0, {});
  loadAndSelect(Disk().track(7, track).build());
  Bytes out(16, 0xEE);
  ASSERT_EQ(image_.readSectorIds(7, out.data(), 16), 12);
  EXPECT_EQ(out, (Bytes{5, 1, 9, 3, 5, 1, 1, 1, 6, 0, 2, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
  // A length that is not a multiple of 4 still takes whole IDs.
  EXPECT_EQ(image_.readSectorIds(7, out.data(), 5), 8);
  EXPECT_EQ(image_.readSectorIds(7, out.data(), 4), 4);
  EXPECT_EQ(image_.readSectorIds(7, out.data(), 0), 0);
  EXPECT_EQ(image_.readSectorIds(8, out.data(), 16), 0);
}

TEST_F(ReaderTest, SectorIdListEndsOnDamage) {
  struct Case {
    const char* what;
    std::vector<SectorRecord> records;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {"zero count is not stored", {record(1, 16), record(2, 16, 0), record(3, 16)}, 4},
      {"count 2 of 3 lists two", {record(1, 16, 2), record(2, 16, 2), record(3, 16, 2)}, 8},
      {"count falling below the position",
       {record(1, 16, 5), record(2, 16, 1), record(3, 16, 5)},
       8},
      {"count past the records meets the end of the file", {record(1, 16, 9), record(2, 16, 9)}, 8},
  };
  for (const Case& c : cases) {
    Track track;
    for (const SectorRecord& r : c.records) {
      track.sector(r);
    }
    loadAndSelect(Disk().track(0, track).build());
    Bytes out(64, 0);
    EXPECT_EQ(image_.readSectorIds(0, out.data(), 64), c.expected) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Byte overlay

// Random puts, short and long, that nest in, split, join and cover each
// other, against a plain copy of the file with the same bytes written: every
// read sees the copy, and a read or a touch says whether a laid byte lies in
// its range. Every other put lays the bytes of an outside source, from an
// offset into it, fetched only when read.
TEST(ByteOverlay, ReadsAsAPlainCopyWithTheSameWrites) {
  constexpr std::int64_t kSize = 2048;
  const Bytes file = filled(kSize, 0x40);
  Bytes copy = file;
  std::vector<bool> laid(kSize, false);
  std::vector<Bytes> sources;
  const auto fetch = [&](std::uint32_t source, std::int64_t offset, std::uint8_t* dest,
                         std::int64_t count) {
    const Bytes& bytes = sources.at(source);
    if (offset < 0 || offset + count > static_cast<std::int64_t>(bytes.size())) {
      return false;
    }
    std::copy_n(bytes.begin() + offset, count, dest);
    return true;
  };
  d88::ByteOverlay overlay;
  overlay.setFetch(fetch);
  std::mt19937 random(88);
  const auto upTo = [&](std::int64_t last) {
    return std::uniform_int_distribution<std::int64_t>(0, last)(random);
  };
  const auto check = [&](std::int64_t position, std::int64_t count) {
    Bytes read(file.begin() + position, file.begin() + position + count);
    const bool any = std::any_of(laid.begin() + position, laid.begin() + position + count,
                                 [](bool b) { return b; });
    EXPECT_EQ(overlay.apply(position, read.data(), count), any) << position << "+" << count;
    EXPECT_EQ(overlay.touches(position, count), any) << position << "+" << count;
    return read == Bytes(copy.begin() + position, copy.begin() + position + count);
  };
  for (int round = 0; round < 4000; ++round) {
    // A fresh overlay now and then, so that ranges with no laid byte remain.
    if (round % 64 == 0) {
      EXPECT_TRUE(check(0, kSize)) << round;
      overlay = d88::ByteOverlay();
      overlay.setFetch(fetch);
      copy = file;
      laid.assign(laid.size(), false);
      EXPECT_TRUE(overlay.empty());
    }
    const std::int64_t position = upTo(kSize - 1);
    const std::int64_t count = std::min(upTo(round % 8 == 0 ? 400 : 24), kSize - position);
    Bytes bytes(static_cast<std::size_t>(count));
    for (std::uint8_t& byte : bytes) {
      byte = static_cast<std::uint8_t>(upTo(255));
    }
    if (round % 2 == 0) {
      overlay.put(position, bytes.data(), count);
    } else {
      // The bytes sit at an offset in their source.
      const std::int64_t offset = upTo(40);
      Bytes source(static_cast<std::size_t>(offset), 0xEE);
      source.insert(source.end(), bytes.begin(), bytes.end());
      sources.push_back(source);
      overlay.putFrom(position, count, static_cast<std::uint32_t>(sources.size() - 1), offset);
    }
    std::copy(bytes.begin(), bytes.end(), copy.begin() + position);
    std::fill(laid.begin() + position, laid.begin() + position + count, true);
    // Around the put, at its edges, and anywhere.
    const std::int64_t before = std::max<std::int64_t>(position - 1, 0);
    const std::int64_t end = std::min(position + count + 1, kSize);
    ASSERT_TRUE(check(before, end - before)) << round;
    ASSERT_TRUE(check(position, 0)) << round;
    const std::int64_t at = upTo(kSize - 1);
    ASSERT_TRUE(check(at, std::min(upTo(300), kSize - at))) << round;
    if (round % 16 == 15) {
      for (std::int64_t block = 0; block < kSize; block += 64) {
        ASSERT_TRUE(check(block, 64)) << round << " block " << block;
      }
    }
  }
  EXPECT_TRUE(check(0, kSize));
  EXPECT_FALSE(overlay.empty());
}

// A source that no longer gives its bytes (an edit changed on the host)
// leaves zeros where they lie, and the read still counts as overlaid; bytes
// held and a source that gives them are untouched by it.
TEST(ByteOverlay, BytesASourceCannotGiveReadAsZeros) {
  d88::ByteOverlay overlay;
  overlay.setFetch(
      [](std::uint32_t source, std::int64_t offset, std::uint8_t* dest, std::int64_t count) {
        std::fill_n(dest, count, static_cast<std::uint8_t>(0xA0 + offset));
        return source == 1;
      });
  const Bytes held(4, 0x11);
  overlay.put(2, held.data(), 4);
  overlay.putFrom(8, 3, 0, 0);   // a source that fails
  overlay.putFrom(12, 2, 1, 5);  // one that gives 0xA5
  Bytes read(16, 0x40);
  EXPECT_TRUE(overlay.apply(0, read.data(), 16));
  EXPECT_EQ(read, (Bytes{0x40, 0x40, 0x11, 0x11, 0x11, 0x11, 0x40, 0x40, 0, 0, 0, 0x40, 0xA5, 0xA5,
                         0x40, 0x40}));
  Bytes failed(2, 0x40);
  EXPECT_TRUE(overlay.apply(9, failed.data(), 2));
  EXPECT_EQ(failed, (Bytes{0, 0}));
}

// Moves of a linear range over sectors laid out as records (16-byte header,
// 256 bytes of data), piece by piece as the planner lays them, against a plain
// copy: a read sees the moved bytes, a put over them wins, and the pieces of
// an even layout join into a few records.
TEST(ByteOverlay, MovesReadAsTheBytesTheyCameFrom) {
  constexpr std::int64_t kStride = 272;
  constexpr std::int64_t kHeader = 16;
  constexpr std::int64_t kSectors = 40;
  Bytes file(static_cast<std::size_t>(kSectors * kStride));
  for (std::size_t i = 0; i < file.size(); ++i) {
    file[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  }
  const auto position = [](std::int64_t linear) {
    return linear / 256 * kStride + kHeader + linear % 256;
  };
  const d88::ByteOverlay::Source source = [&](std::int64_t from, std::uint8_t* to,
                                              std::int64_t count) {
    std::copy(file.begin() + from, file.begin() + from + count, to);
    return count;
  };
  struct Case {
    std::int64_t from, to, length;
  };
  const Case cases[] = {
      {100, 356, 5000},  // by a whole sector: two pieces a sector... joined
      {300, 557, 3000},  // by 257 bytes: pieces of 1 and 255 alternate
      {5000, 600, 200},  // backwards, inside two sectors
      {0, 9000, 1},      // one byte
  };
  for (const Case& c : cases) {
    d88::ByteOverlay overlay;
    Bytes copy = file;
    for (std::int64_t done = 0; done < c.length;) {
      const std::int64_t s = c.from + done;
      const std::int64_t t = c.to + done;
      const std::int64_t piece = std::min({256 - s % 256, 256 - t % 256, c.length - done});
      overlay.move(position(t), position(s), piece);
      std::copy(file.begin() + position(s), file.begin() + position(s) + piece,
                copy.begin() + position(t));
      done += piece;
    }
    EXPECT_LE(overlay.moveRecords(), 4u) << c.from;
    // A put over moved bytes wins.
    const std::uint8_t mark = 0xEE;
    overlay.put(position(c.to), &mark, 1);
    copy[static_cast<std::size_t>(position(c.to))] = mark;
    for (std::int64_t at = 0; at < static_cast<std::int64_t>(file.size()); at += 97) {
      const std::int64_t count = std::min<std::int64_t>(301, file.size() - at);
      Bytes read(file.begin() + at, file.begin() + at + count);
      (void)overlay.apply(at, read.data(), count, source);
      ASSERT_EQ(read, Bytes(copy.begin() + at, copy.begin() + at + count)) << c.from << " " << at;
      const bool changed = !std::equal(read.begin(), read.end(), file.begin() + at);
      EXPECT_TRUE(!changed || overlay.touches(at, count)) << c.from << " " << at;
    }
    // Outside every piece, nothing is touched.
    EXPECT_FALSE(overlay.touches(position(c.to + c.length) + 256, 1)) << c.from;
  }
}

}  // namespace
