// Pins indexed sector lookups to the plain record walk: on randomly damaged
// tracks, every ID and length must give the same bytes as walking the
// records from the start of the track.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "d88/d88_image.h"
#include "tests/test_support.h"

namespace {

using d88test::Bytes;

constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kRecordHeaderSize = 16;

// The walk, written plainly over the file's bytes: first match in stored
// order; a zero count, a header cut short, or the record at position
// count - 1 ends it.
Bytes walkRead(const Bytes& file, std::size_t trackStart, const d88::SectorId& id,
               std::int32_t len) {
  std::size_t at = trackStart;
  for (std::int32_t i = 0;; ++i) {
    if (at + kRecordHeaderSize > file.size()) {
      return {};
    }
    const std::int32_t count = file[at + 4] | (file[at + 5] << 8);
    const std::int32_t length = file[at + 14] | (file[at + 15] << 8);
    if (count == 0) {
      return {};
    }
    if (file[at] == id.c && file[at + 1] == id.h && file[at + 2] == id.r && file[at + 3] == id.n) {
      const std::size_t from = at + kRecordHeaderSize;
      const std::size_t wanted = static_cast<std::size_t>(std::min(length, len));
      const std::size_t there = std::min(wanted, file.size() - from);
      return Bytes(file.begin() + static_cast<std::ptrdiff_t>(from),
                   file.begin() + static_cast<std::ptrdiff_t>(from + there));
    }
    if (i >= count - 1) {
      return {};
    }
    at += kRecordHeaderSize + static_cast<std::size_t>(length);
  }
}

// A track of records drawn from a few IDs (so that duplicates occur), with
// counts and data lengths that are often wrong.
d88test::Track randomTrack(std::mt19937& random) {
  auto pick = [&](int below) { return static_cast<int>(random() % static_cast<unsigned>(below)); };
  d88test::Track track;
  const int records = 1 + pick(12);
  for (int i = 0; i < records; ++i) {
    d88test::SectorRecord record;
    record.c = static_cast<std::uint8_t>(pick(2));
    record.h = static_cast<std::uint8_t>(pick(2));
    record.r = static_cast<std::uint8_t>(1 + pick(4));
    record.n = static_cast<std::uint8_t>(pick(2));
    record.data.resize(static_cast<std::size_t>(pick(3) == 0 ? pick(300) : 128 << record.n));
    for (auto& byte : record.data) {
      byte = static_cast<std::uint8_t>(random());
    }
    switch (pick(6)) {
      case 0:
        record.sectorCount = static_cast<std::uint16_t>(pick(records + 3));
        break;
      case 1:
        record.dataLength = static_cast<std::uint16_t>(pick(400));
        break;
      default:
        break;
    }
    track.sector(record);
  }
  return track;
}

TEST(SectorLookup, AgreesWithTheRecordWalkOnDamagedTracks) {
  std::mt19937 random(20261207);
  d88test::ScratchDir scratch;
  d88::D88Image image;
  int compared = 0;
  for (int round = 0; round < 150; ++round) {
    Bytes file = d88test::Disk().track(0, randomTrack(random)).build();
    // Now and then the file ends inside the track.
    if (round % 4 == 3) {
      file = d88test::truncated(file, kHeaderSize + random() % (file.size() - kHeaderSize));
    }
    ASSERT_TRUE(image.open(nullptr));
    const std::string path = scratch.write("track.d88", file);
    ASSERT_TRUE(image.open(path.c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    for (std::uint8_t c = 0; c < 2; ++c) {
      for (std::uint8_t h = 0; h < 2; ++h) {
        for (std::uint8_t r = 0; r <= 5; ++r) {
          for (std::uint8_t n = 0; n < 3; ++n) {
            for (std::int32_t len : {1, 128, 256, 500}) {
              const Bytes expected = walkRead(file, kHeaderSize, {c, h, r, n}, len);
              Bytes actual(600, 0);
              const std::int32_t got = image.readSector(0, c, h, r, n, actual.data(), len);
              actual.resize(static_cast<std::size_t>(got));
              ASSERT_EQ(actual, expected) << "round " << round << " id " << int{c} << "-" << int{h}
                                          << "-" << int{r} << "-" << int{n} << " len " << len;
              compared += expected.empty() ? 0 : 1;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 1000);  // the rounds found plenty of sectors, not only misses
}

// A track whose records share a C, H and N, each R once unless `twice`,
// with statuses and deleted marks drawn at random.
d88test::Track uniformTrack(std::mt19937& random, bool twice) {
  d88test::Track track;
  const int records = 1 + static_cast<int>(random() % 16);
  for (int i = 0; i < records; ++i) {
    d88test::SectorRecord record;
    record.r = static_cast<std::uint8_t>(twice && i == records - 1 ? 1 : i + 1);
    record.data.assign(256, static_cast<std::uint8_t>(i));
    record.status = random() % 3 == 0 ? 0xB0 : 0x00;
    record.deletedMark = random() % 3 == 0 ? 0x10 : 0x00;
    track.sector(record);
  }
  return track;
}

// The record positions and marks the index gives must be those of the walk
// that lists the track's records, whether the track's map was built by a
// lookup of its own C, H and N, of another, or not at all.
TEST(SectorLookup, RecordPositionsAndMarksAgreeWithTheWalk) {
  std::mt19937 random(20261209);
  d88test::ScratchDir scratch;
  d88::D88Image image;
  for (int round = 0; round < 120; ++round) {
    const d88test::Track track = round % 3 == 0   ? randomTrack(random)
                                 : round % 3 == 1 ? uniformTrack(random, false)
                                                  : uniformTrack(random, round % 2 == 0);
    Bytes file = d88test::Disk().track(0, track).build();
    if (round % 5 == 4) {
      file = d88test::truncated(file, kHeaderSize + random() % (file.size() - kHeaderSize));
    }
    ASSERT_TRUE(image.open(nullptr));
    const std::string path = scratch.write("track.d88", file);
    ASSERT_TRUE(image.open(path.c_str()));
    std::vector<d88::SectorRecordInfo> records(0x10000);
    ASSERT_TRUE(image.selectDisk(0));
    records.resize(static_cast<std::size_t>(
        image.readSectorRecords(0, records.data(), static_cast<std::int32_t>(records.size()))));
    std::vector<std::int64_t> walked;
    for (const d88::SectorRecordInfo& record : records) {
      walked.push_back(record.position);
    }
    // Before any lookup; after one of the first record's C, H and N (or of
    // 0-0-?-1); after one of another N.
    for (const std::uint8_t n : {std::uint8_t{0xFF}, std::uint8_t{1}, std::uint8_t{0}}) {
      ASSERT_TRUE(image.selectDisk(0));
      if (n != 0xFF) {
        (void)image.locateRecord(0, 0, 0, 1, n);
      }
      std::vector<std::int64_t> positions;
      image.readRecordPositions(0, positions);
      ASSERT_EQ(positions, walked) << "round " << round << " n " << int{n};
    }
    // The first record of each ID, as the walk lists it, is what a lookup finds.
    for (std::size_t i = 0; i < records.size(); ++i) {
      const d88::SectorId& id = records[i].id;
      const bool first = std::none_of(records.begin(), records.begin() + static_cast<long>(i),
                                      [&](const d88::SectorRecordInfo& earlier) {
                                        return earlier.id.c == id.c && earlier.id.h == id.h &&
                                               earlier.id.r == id.r && earlier.id.n == id.n;
                                      });
      if (!first) {
        continue;
      }
      const auto found = image.locateRecord(0, id.c, id.h, id.r, id.n);
      ASSERT_TRUE(found.has_value()) << "round " << round << " record " << i;
      EXPECT_EQ(found->position, records[i].position) << "round " << round;
      EXPECT_EQ(found->dataLength, records[i].dataLength) << "round " << round;
      EXPECT_EQ(found->status, records[i].status) << "round " << round;
      EXPECT_EQ(found->deletedMark, records[i].deletedMark) << "round " << round;
    }
  }
}

TEST(SectorLookup, IndexIsPerSelectedDisk) {
  // The same track slot holds different records on two disks.
  d88test::Track first;
  first.sector(0, 0, 1, 1, Bytes(256, 0x11));
  d88test::Track second;
  second.sector(0, 0, 2, 1, Bytes(256, 0x22)).sector(0, 0, 1, 1, Bytes(256, 0x33));
  d88test::ScratchDir scratch;
  const std::string path =
      scratch.write("two.d88", d88test::concat({d88test::Disk().track(0, first).build(),
                                                d88test::Disk().track(0, second).build()}));
  d88::D88Image image;
  ASSERT_TRUE(image.open(path.c_str()));
  Bytes buffer(256, 0);
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(image.selectDisk(0));
    EXPECT_EQ(image.readSector(0, 0, 0, 1, 1, buffer.data(), 256), 256);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(image.readSector(0, 0, 0, 2, 1, buffer.data(), 256), 0);
    ASSERT_TRUE(image.selectDisk(1));
    EXPECT_EQ(image.readSector(0, 0, 0, 1, 1, buffer.data(), 256), 256);
    EXPECT_EQ(buffer[0], 0x33);
  }
}

}  // namespace
