// Finer checks of recognition and the table walk, run in-process.
#include "disk/file_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "disk/listing.h"
#include "disk/summary.h"
#include "tests/test_support.h"

using namespace disk;

namespace {

using d88test::address;
using d88test::Bytes;

TableBuffer tableOf(const std::vector<Bytes>& entries) {
  TableBuffer table{};
  std::size_t at = 0;
  for (const Bytes& entry : entries) {
    for (std::uint8_t byte : entry) {
      table.at(at++) = byte;
    }
  }
  return table;
}

std::vector<TableFile> walk(const TableBuffer& first, const TableBuffer& second) {
  std::vector<TableFile> files;
  walkFileTables(first, second, [&](const TableFile& file) { files.push_back(file); });
  return files;
}

TEST(FileTableEntry, DecodesItsBits) {
  struct Case {
    Bytes bytes;
    std::int32_t track, cylinder, head, sector, offset, address;
  };
  const Case cases[] = {
      {{0x06, 0x02, 0xA4}, 12, 6, 0, 2, 0xA4, 12 * 4096 + 256 + 0xA4},
      {{0x90, 0x0E, 0x77}, 33, 16, 1, 14, 0x77, 33 * 4096 + 13 * 256 + 0x77},
      {{0x00, 0xE2, 0x00}, 0, 0, 0, 2, 0, 256},  // bits 5-7 of the sector byte are ignored
      {{0xFF, 0x1F, 0xFF}, 255, 127, 1, 31, 255, 255 * 4096 + 30 * 256 + 255},
      {{0x00, 0x00, 0x01}, 0, 0, 0, 0, 1, -255},  // sector 0 lies before the track
  };
  for (const Case& c : cases) {
    const FileTableEntry entry{c.bytes[0], c.bytes[1], c.bytes[2]};
    EXPECT_EQ(entry.trackIndex(), c.track);
    EXPECT_EQ(entry.cylinder(), c.cylinder);
    EXPECT_EQ(entry.head(), c.head);
    EXPECT_EQ(entry.sectorNumber(), c.sector);
    EXPECT_EQ(entry.offset, c.offset);
    EXPECT_EQ(sectorAddress(entry), c.address);
  }
}

TEST(FileTableEntry, WrittenEntryPointsBackAtItsAddress) {
  struct Case {
    std::int32_t address;
    std::uint8_t oldSector;
    Bytes bytes;
  };
  const Case cases[] = {
      {address(12, 2, 0xA4), 0x00, {0x06, 0x02, 0xA4}},
      {address(33, 14, 0x77), 0xE0, {0x90, 0xEE, 0x77}},     // bits 5-7 kept
      {address(0, 1, 0), 0xA5, {0x00, 0xA1, 0x00}},          // only bits 5-7 of the old byte
      {address(163, 16, 0xFF), 0x00, {0xD1, 0x10, 0xFF}},    // the last byte of track 163
      {address(1, 16, 0xFF) + 1, 0x00, {0x01, 0x01, 0x00}},  // side 1 to cylinder 1 side 0
  };
  for (const Case& c : cases) {
    const FileTableEntry entry = entryForAddress(c.address, {0x55, c.oldSector, 0x55});
    EXPECT_EQ((Bytes{entry.position, entry.sector, entry.offset}), c.bytes) << c.address;
  }
  // Every address of the linear order, under each old value of bits 5 to 7.
  for (std::int32_t at = 0; at < 164 * 4096; ++at) {
    for (const std::uint8_t old : {0x00, 0x20, 0xE0}) {
      const FileTableEntry entry = entryForAddress(at, {0, old, 0});
      ASSERT_EQ(sectorAddress(entry), at) << at;
      ASSERT_EQ(entry.sector & 0xE0, old) << at;
      ASSERT_EQ(entry.trackIndex(), at / 4096) << at;
      ASSERT_EQ(
          Bytes({entry.position, static_cast<std::uint8_t>(entry.sector & 0x1F), entry.offset}),
          d88test::tableEntry(at))
          << at;
    }
  }
}

TEST(FileTableEntry, EndMarkIgnoresTheUnusedSectorBits) {
  EXPECT_TRUE((FileTableEntry{0x00, 0x00, 0x00}.isEndMark()));
  EXPECT_TRUE((FileTableEntry{0x00, 0xE0, 0x00}.isEndMark()));
  EXPECT_FALSE((FileTableEntry{0x80, 0x00, 0x00}.isEndMark()));  // track index 1
  EXPECT_FALSE((FileTableEntry{0x00, 0x01, 0x00}.isEndMark()));
  EXPECT_FALSE((FileTableEntry{0x00, 0x00, 0x01}.isEndMark()));
}

TEST(TableWalk, EntryBeforeTheEndMarkStartsNoFile) {
  const TableBuffer first =
      tableOf({d88test::tableEntry(address(2, 1, 0)), d88test::tableEntry(address(2, 1, 10)),
               d88test::tableEntry(address(2, 2, 0))});
  const TableBuffer second =
      tableOf({d88test::tableEntry(address(4, 1, 0)), d88test::tableEntry(address(4, 1, 7))});
  const auto files = walk(first, second);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].number, 0x000);
  EXPECT_EQ(files[0].size, 10);
  EXPECT_EQ(files[1].number, 0x001);
  EXPECT_EQ(files[1].size, 246);
  // The second table numbers from 0x100 whatever the first held.
  EXPECT_EQ(files[2].number, 0x100);
  EXPECT_EQ(files[2].size, 7);
  EXPECT_EQ(files[2].start.trackIndex(), 4);
}

TEST(TableWalk, OnlyTheFollowingEntryIsTestedForTheEndMark) {
  // A zero first entry still starts a file at track 0, sector 0, offset 0.
  const TableBuffer first = tableOf({{0, 0, 0}, d88test::tableEntry(address(0, 1, 5))});
  const auto files = walk(first, TableBuffer{});
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].start.sectorNumber(), 0);
  EXPECT_EQ(files[0].size, 256 + 5);
}

TEST(TableWalk, EmptyAndOneEntryTablesHoldNoFiles) {
  const TableBuffer single = tableOf({d88test::tableEntry(address(9, 1, 0))});
  EXPECT_TRUE(walk(TableBuffer{}, TableBuffer{}).empty());
  EXPECT_TRUE(walk(single, single).empty());
}

TEST(TableWalk, NeverReadsPastTheTable) {
  // No end mark anywhere: 1365 whole entries, and the last one has no
  // follower inside the 4096 bytes, so 1364 files per table.
  TableBuffer full{};
  full.fill(0x41);
  const auto files = walk(full, full);
  ASSERT_EQ(files.size(), 2u * 1364u);
  EXPECT_EQ(files[1363].number, 1363);
  EXPECT_EQ(files[1364].number, 0x100);
  EXPECT_EQ(files.back().number, 0x100 + 1363);
}

TEST(TableWalk, FirstTableNumbersRunPast0xFF) {
  std::vector<Bytes> entries;
  for (int i = 0; i < 0x120; ++i) {
    entries.push_back(d88test::tableEntry(address(2, 1, 0) + i));
  }
  const auto files = walk(tableOf(entries), TableBuffer{});
  ASSERT_EQ(files.size(), 0x11Fu);
  EXPECT_EQ(files.back().number, 0x11E);
  EXPECT_TRUE(isSelected(DiskKind::System, files[0x117].number, false));
}

TEST(Selection, SevenSystemFilesOrEverythingWithExtractAll) {
  struct Case {
    DiskKind kind;
    std::int32_t number;
    bool all;
    bool selected;
  };
  const Case cases[] = {
      {DiskKind::System, 0x116, false, false}, {DiskKind::System, 0x117, false, true},
      {DiskKind::System, 0x11D, false, true},  {DiskKind::System, 0x11E, false, false},
      {DiskKind::Data, 0x117, false, false},   {DiskKind::Unknown, 0x117, false, false},
      {DiskKind::Data, 0x000, true, true},     {DiskKind::Unknown, 0x5FF, true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isSelected(c.kind, c.number, c.all), c.selected)
        << static_cast<char>(c.kind) << std::hex << c.number;
  }
}

TEST(Naming, KindLetterAndAtLeastThreeHexDigits) {
  EXPECT_STREQ(tableFileName(DiskKind::System, 0x117).data(), "S117");
  EXPECT_STREQ(tableFileName(DiskKind::Data, 0x00A).data(), "D00A");
  EXPECT_STREQ(tableFileName(DiskKind::Unknown, 0x000).data(), "_000");
  EXPECT_STREQ(tableFileName(DiskKind::Data, 0x1000).data(), "D1000");
}

class RecognitionTest : public ::testing::Test {
 protected:
  DiskKind recognise(const Bytes& file) {
    const std::string path = scratch_.write("disk.d88", file);
    EXPECT_TRUE(image_.open(path.c_str()));
    EXPECT_TRUE(image_.selectDisk(0));
    image_.setSectorRange(1, 16);
    return recogniseDisk(image_, first_, second_);
  }
  d88test::ScratchDir scratch_;
  d88::D88Image image_;
  TableBuffer first_{};
  TableBuffer second_{};
};

TEST_F(RecognitionTest, TellsTheKinds) {
  EXPECT_EQ(recognise(d88test::systemDisk({}, {}).build()), DiskKind::System);
  EXPECT_EQ(recognise(d88test::dataDisk({}, {}).build()), DiskKind::Data);
  EXPECT_EQ(recognise(d88test::FixedTableDisk().build()), DiskKind::Unknown);
}

TEST_F(RecognitionTest, DataProbeReadsOverWhatTheSystemProbeLeft) {
  // Tracks 12 and 30 hold tables that are not the system's; tracks 0 and 66
  // are absent, so the buffers keep what tracks 12 and 30 put there.
  d88test::FixedTableDisk disk;
  disk.table(12, {address(12, 2, 0), address(12, 2, 9)});
  disk.table(30, {address(31, 1, 0)});
  disk.drop(0).drop(66);
  EXPECT_EQ(recognise(disk.build()), DiskKind::Unknown);
  EXPECT_EQ(entryAt(first_, 1).offset, 9);
  EXPECT_EQ(entryAt(second_, 0).trackIndex(), 31);
  // A damaged track 0 whose sector 1 stores 4 bytes: they replace the
  // buffer's first 4 bytes and the rest of track 12's table stays.
  disk.replace(0, d88test::Track().sector(0, 0, 1, 1, Bytes(4, 0x01)));
  EXPECT_EQ(recognise(disk.build()), DiskKind::Unknown);
  EXPECT_EQ(first_[3], 0x01);
  EXPECT_EQ(first_[4], 0x02);
  EXPECT_EQ(first_[5], 9);
}

TEST_F(RecognitionTest, BothTablesMustMatch) {
  d88test::FixedTableLayout system = d88test::systemDisk({}, {});
  system.disk.table(30, {d88test::kSystemSecondTable0, d88test::kSystemSecondTable1 + 1});
  EXPECT_EQ(recognise(system.build()), DiskKind::Unknown);
}

}  // namespace

namespace {

// Random bytes on every sector: tables that name thousands of files of every
// fate, most of them damaged.
Bytes noiseDisk(unsigned seed) {
  d88test::Disk disk;
  for (int track = 0; track < 80; ++track) {
    Bytes data(4096);
    for (auto& byte : data) {
      seed = seed * 1103515245u + 12345u;
      byte = static_cast<std::uint8_t>(seed >> 16);
    }
    disk.track(track,
               d88test::Track::formatted(static_cast<std::uint8_t>(track / 2),
                                         static_cast<std::uint8_t>(track % 2), 1, 1, 16, data));
  }
  return disk.build();
}

// Verdicts found without reading a byte (a summary's) are the verdicts and
// counts the reads give, file by file, on disks whose chains break, stop at
// the end of the file, or come from damaged and random tables.
TEST(Listing, VerdictsWithoutReadingAreThoseOfTheReads) {
  constexpr std::size_t kRecordSize = 16 + 256;
  constexpr std::size_t kCutAt = 0x2B0 + (34 * 16 + 5) * kRecordSize + 16 + 100;
  const Bytes system = d88test::systemDisk({100, 5000}, {3000, 60, 9000}).build();
  auto broken = d88test::systemDisk({100, 5000}, {3000, 60, 9000});
  broken.disk.drop(31);
  const std::pair<const char*, Bytes> images[] = {
      {"damaged", d88test::damagedFilesDisk().build()},
      // Cut in a sector of track 34, where the second table's files lie.
      {"cut short", d88test::truncated(system, kCutAt)},
      {"track missing", broken.build()},
      {"noise", d88test::concat({noiseDisk(1), noiseDisk(2), noiseDisk(3)})},
  };
  d88test::ScratchDir scratch;
  for (const auto& [what, bytes] : images) {
    SCOPED_TRACE(what);
    d88::D88Image image;
    ASSERT_TRUE(image.open(scratch.write("disk.d88", bytes).c_str()));
    TableBuffers tables;
    auto chain = std::make_unique<std::array<std::uint8_t, kExtractBufferSize>>();
    std::size_t files = 0;
    std::set<FileVerdict> verdicts;
    for (std::int32_t index = 0; index < image.diskCount(); ++index) {
      DiskListing read;
      DiskListing located;
      describeDisk(image, index, {tables, chain->data()}, read);
      describeDisk(image, index, {tables, chain->data()}, located, kVerdictsOnly);
      ASSERT_EQ(read.files.size(), located.files.size());
      for (std::size_t i = 0; i < read.files.size(); ++i) {
        EXPECT_EQ(located.files[i].verdict, read.files[i].verdict)
            << read.files[i].file.name.data();
        EXPECT_EQ(located.files[i].bytesRead, read.files[i].bytesRead)
            << read.files[i].file.name.data();
        verdicts.insert(read.files[i].verdict);
      }
      files += read.files.size();
    }
    EXPECT_GT(files, 0U);
    // Every image reaches a verdict other than complete.
    EXPECT_GT(verdicts.size(), 1U);
  }
}

// A system disk whose second table has lost its end mark: past its two
// files, the rest of the table's track is entries of random bytes, which
// send 1,363 chains all over the disk.
Bytes systemDiskWithoutEndMark() {
  auto layout = d88test::systemDisk({100}, {50, 60}, 80);
  Bytes entries(4096 - 9);
  unsigned seed = 7;
  for (auto& byte : entries) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  layout.disk.put(address(30, 1, 9), entries);
  return layout.build();
}

// A summary reads each image about once, damaged or not: a table that names
// thousands of files finds their sectors in the tracks' indexes, with no
// header read again from the file for each file's chain.
TEST(Listing, SummaryReadsAnImageAboutOnce) {
  auto broken = d88test::systemDisk({100, 5000}, {3000, 60, 9000}, 80);
  broken.disk.drop(31);
  const Bytes system = d88test::systemDisk({100, 5000}, {3000, 60, 9000}, 80).build();
  const std::pair<const char*, Bytes> images[] = {
      {"undamaged", system},
      {"no end mark", systemDiskWithoutEndMark()},
      {"noise", noiseDisk(5)},
      {"noise, three disks", d88test::concat({noiseDisk(1), noiseDisk(2), noiseDisk(3)})},
      {"damaged", d88test::damagedFilesDisk().build()},
      {"track missing", broken.build()},
      {"cut short", d88test::truncated(system, system.size() * 6 / 10)},
      {"crafted", d88test::craftedDisk(2000).build()},
  };
  d88test::ScratchDir scratch;
  for (const auto& [what, bytes] : images) {
    SCOPED_TRACE(what);
    d88::D88Image image;
    ASSERT_TRUE(image.open(scratch.write("disk.d88", bytes).c_str()));
    TableBuffers tables;
    auto chain = std::make_unique<std::array<std::uint8_t, kExtractBufferSize>>();
    DiskListing disk;
    ListingSummary summary;
    EXPECT_TRUE(summariseImage(image, {tables, chain->data()}, disk, summary));
    EXPECT_GT(summary.disks, 0);
    const auto size = static_cast<std::int64_t>(bytes.size());
    // Blocks of 16 KiB read whole: a small image may be read in more than
    // its size, never in more than three times it.
    EXPECT_LE(image.hostBytesRead(), std::max<std::int64_t>(3 * size, 2 * 16384))
        << image.hostBytesRead() << " bytes read of " << size << " (" << summary.files << " files)";
  }
}

// A file cut short after it was opened: the reads that come back short of
// the size it had then tell that it changed, whichever part of a disk they
// reach, and the summary counts nothing; the same file read whole is
// unchanged. (A cut that no read of the summary reaches is found by the
// tools, which compare the file's size and time at the end.)
TEST(Listing, FileCutShortWhileReadHasChanged) {
  const Bytes system = d88test::systemDisk({100, 5000}, {3000, 60, 9000}, 80).build();
  const Bytes two = d88test::concat({system, system});
  struct Case {
    const char* what;
    std::size_t cutAt;  // 0: not cut
    bool changed;
  };
  const Case cases[] = {
      {"not cut", 0, false},
      {"second disk's header", system.size() + 0x100, true},
      {"second disk's first table", system.size() + 0x2B0 + 12 * (16 * (16 + 256)), true},
      {"first disk's chains", 0x2B0 + 34 * (16 * (16 + 256)), true},
  };
  d88test::ScratchDir scratch;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = scratch.write("two.d88", two);
    d88::D88Image image;
    ASSERT_TRUE(image.open(path.c_str()));
    ASSERT_EQ(image.diskCount(), 2);
    if (c.cutAt != 0) {
      ASSERT_TRUE(d88test::writeFile(path, d88test::truncated(two, c.cutAt)));
    }
    TableBuffers tables;
    auto chain = std::make_unique<std::array<std::uint8_t, kExtractBufferSize>>();
    DiskListing disk;
    ListingSummary summary;
    summary.disks = 99;
    EXPECT_EQ(summariseImage(image, {tables, chain->data()}, disk, summary), !c.changed);
    EXPECT_EQ(summary.disks, c.changed ? 0 : 2);
    EXPECT_EQ(summary.files, c.changed ? 0 : 2 * 9);
  }
}

// A file's chain to its break, as a read takes it, or to its end past any
// break; none for a damaged range, whatever the list held before.
TEST(FileChain, StepsEndAtTheBreakOrAtTheChainsEnd) {
  struct Case {
    const char* name;
    std::size_t locatedSteps;
    std::int32_t locatedBytes;
    std::size_t plannedSteps;
    std::int32_t plannedBytes;
  };
  const Case cases[] = {
      // Offset A9 of track 0 sector 11 to offset 10 of track 10 sector 1, whole.
      {"D001", 151, 0xA9 + address(10, 1, 0x10) - address(0, 11, 0xA9), 151,
       0xA9 + address(10, 1, 0x10) - address(0, 11, 0xA9)},
      {"D002", 2, 256, 8, 0x10 + 1900},  // track 10 holds sector 1 only
      {"D003", 0, 0, 0, 0},              // negative size
      {"D004", 0, 0, 0, 0},              // past the buffer
      {"D005", 1, 0, 1, 16},             // first sector absent
      {"D007", 0, 0, 0, 0},              // nothing to read
      {"D009", 1, 0, 1, 16},             // 0 bytes at offset 0x10 of an absent sector
  };
  d88test::ScratchDir scratch;
  d88::D88Image image;
  ASSERT_TRUE(image.open(scratch.write("disk.d88", d88test::damagedFilesDisk().build()).c_str()));
  TableBuffers tables;
  auto chain = std::make_unique<std::array<std::uint8_t, kExtractBufferSize>>();
  DiskListing listing;
  describeDisk(image, 0, {tables, chain->data()}, listing, kFileListOnly);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = std::find_if(
        listing.files.begin(), listing.files.end(),
        [&](const FileListing& f) { return f.file.name.data() == std::string(c.name); });
    ASSERT_NE(file, listing.files.end());
    std::vector<d88::ChainStep> located(5);
    std::vector<d88::ChainStep> planned(5);
    EXPECT_EQ(locateFileChain(image, file->file, located), c.locatedBytes);
    EXPECT_EQ(planFileChain(image, file->file, planned), c.plannedBytes);
    ASSERT_EQ(located.size(), c.locatedSteps);
    ASSERT_EQ(planned.size(), c.plannedSteps);
    for (std::size_t i = 0; i < located.size(); ++i) {
      EXPECT_EQ(located[i].sector.r, planned[i].sector.r) << i;
      EXPECT_EQ(located[i].position, planned[i].position) << i;
      EXPECT_EQ(located[i].length, planned[i].length) << i;
    }
  }
}

}  // namespace
