// The put-back planner run in-process on edits held in memory: its refusals
// and notices word for word, and the writer it is given called only for a
// sound plan that writes.
#include "disk/put_back.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "disk/listing.h"
#include "format/put_words.h"
#include "tests/test_support.h"
#include "text/string_format.h"

using namespace disk;
using namespace format;

namespace {

using d88test::Bytes;
using d88test::FixedTableLayout;
using d88text::format;

// Disk 0: a system disk whose S001 crosses sectors and S100 tracks; disk 1
// a data disk whose D002 runs across tracks.
const FixedTableLayout kSystem = d88test::systemDisk({300, 1}, {60, 73});
const FixedTableLayout kData = d88test::dataDisk({700, 5000}, {400, 4106});

// A data disk whose D002 (X to X+99) and D004 (X+50 to X+299) share bytes,
// X being track 3 sector 1 offset 10.
FixedTableLayout sharingLayout() {
  constexpr std::int32_t kShared = d88test::address(3, 1, 0x10);
  FixedTableLayout data = d88test::dataDisk({700}, {});
  data.disk.put(kShared, d88test::textContents("SHARED", 300));
  data.disk.table(0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, kShared, kShared + 100,
                      kShared + 50, kShared + 300});
  data.files = {data.files[0],
                {"D001", d88test::kDataFirstTable1, kShared - d88test::kDataFirstTable1},
                {"D002", kShared, 100},
                {"D004", kShared + 50, 250},
                data.files.back()};
  return data;
}
const FixedTableLayout kSharing = sharingLayout();

// The bytes d88extract writes for a file of a layout, by name.
Bytes contentsOf(const FixedTableLayout& layout, const std::string& name) {
  if (name == "BIOS") {
    return layout.disk.contents(d88test::kBiosAddress, d88test::kBiosSize);
  }
  for (const d88test::FixedTableFile& file : layout.files) {
    if (file.name == name) {
      return layout.disk.contents(file.address, file.size);
    }
  }
  return Bytes{1, 2, 3};  // no file of the disk: any bytes
}

// An edit: a file's bytes with `change` applied.
struct Edit {
  std::int32_t disk;
  std::string name;
  std::function<void(Bytes&)> change;
};
const auto kFlipFirst = [](Bytes& bytes) { bytes[0] ^= 0xFF; };
const auto kGrow = [](Bytes& bytes) { bytes.push_back(0); };
const auto kShrink = [](Bytes& bytes) { bytes.pop_back(); };
const auto kAsItIs = [](Bytes&) {};
std::function<void(Bytes&)> growBy(std::size_t count) {
  return [count](Bytes& bytes) { bytes.resize(bytes.size() + count, '#'); };
}
// Byte `at` set to `value`.
std::function<void(Bytes&)> setByte(std::size_t at, std::uint8_t value) {
  return [at, value](Bytes& bytes) { bytes.at(at) = value; };
}

// A writer that records its calls and fails when told to.
class RecordingWriter final : public ImageWriter {
 public:
  explicit RecordingWriter(bool fails) : fails_(fails) {}
  [[nodiscard]] bool writes(bool changes) const override { return changes; }
  [[nodiscard]] bool write(PatchedImage& image, Diagnostics& diagnostics) override {
    ++calls;
    image.release();
    if (fails_) {
      diagnostics.push_back({Severity::Error, "cannot write it"});
    }
    return !fails_;
  }
  int calls = 0;

 private:
  bool fails_;
};

TEST(PutBackPlan, RefusalsAndNoticesWordForWord) {
  struct Case {
    std::vector<Edit> edits;
    std::string lines;  // every diagnostic, one a line
    std::size_t putBack;
    std::int32_t unchanged;
    bool writerFails = false;
    bool resize = false;
    std::size_t moved = 0;
  };
  const Case cases[] = {
      {{{0, "BIOS", kFlipFirst}}, "", 1, 0},
      {{{0, "BIOS", kAsItIs}, {1, "D001", kAsItIs}}, "", 0, 2},
      {{{1, "D001", kGrow}},
       "error: 001/D001 is 701 bytes, the disk's file 700: files cannot change size (--resize "
       "lets later files move)\n",
       0,
       0},
      // The hint only where --resize would take the size: S002 can grow
      // by 0x33EC bytes, up to DRIVER's first sector.
      {{{0, "S002", growBy(0x33EC)}},
       "error: 000/S002 is 13293 bytes, the disk's file 1: files cannot change size (--resize "
       "lets later files move)\n",
       0,
       0},
      {{{0, "S002", growBy(0x33ED)}},
       "error: 000/S002 is 13294 bytes, the disk's file 1: files cannot change size\n",
       0,
       0},
      {{{0, "S002", growBy(0x33ED)}},
       "error: 000/S002 grows the first table by 0x33ED bytes, but track 10 sector 01 holds bytes "
       "of DRIVER\n",
       0,
       0,
       false,
       true},
      {{{0, "S000", kShrink}},
       "error: 000/S000 is 2370 bytes, the disk's file 2371: files cannot change size\n",
       0,
       0},
      // One byte short of the file: its missing bytes are nowhere to be had.
      {{{0, "BIOS", kShrink}, {0, "S001", kFlipFirst}},
       "error: 000/BIOS is 9471 bytes, the disk's file 9472: files cannot change size\n",
       1,
       0},
      // Notices come in name order within a disk, the unknown disk first.
      {{{1, "ZZZ", kAsItIs}, {1, "AAA", kAsItIs}, {5, "S001", kAsItIs}, {1, "D002", kFlipFirst}},
       "ignored: folder 005: no such disk in the file\n"
       "ignored: 001/AAA: no file of that name on disk 1\n"
       "ignored: 001/ZZZ: no file of that name on disk 1\n",
       1,
       0},
      // A sound plan whose writer fails is a failure.
      {{{0, "S100", kFlipFirst}}, "error: cannot write it\n", 1, 0, true},
      // With --resize D002 moves; D001 is counted once, as put back.
      {{{1, "D001", kGrow}, {1, "D002", kAsItIs}}, "", 1, 0, false, true, 1},
      {{{1, "D101", kShrink}, {0, "S001", kGrow}}, "", 2, 0, false, true, 2},
      {{{0, "BIOS", kShrink}},
       "error: 000/BIOS cannot change size: BIOS and DRIVER have fixed sizes\n",
       0,
       0,
       false,
       true},
  };
  // Disk 0 shares bytes between D002 and D004, disk 1 is a data disk.
  const Case sharing[] = {
      {{{0, "D002", setByte(99, '#')}, {0, "D004", setByte(49, '#')}}, "", 2, 0},
      // Disk 1's edits are compared last: the check of disk 0 must still
      // find D002's sharers on disk 0.
      {{{0, "D002", setByte(99, '#')}, {0, "D004", setByte(49, '%')}, {1, "D001", kAsItIs}},
       "error: 000/D002 would not read back as put: it shares bytes with 000/D004\n",
       2,
       1},
  };
  d88test::ScratchDir scratch;
  const std::string twoDisks =
      scratch.write("two.d88", d88test::concat({kSystem.build(), kData.build()}));
  const std::string sharingDisks =
      scratch.write("sharing.d88", d88test::concat({kSharing.build(), kData.build()}));
  std::vector<std::pair<const Case*, std::string>> rows;
  for (const Case& c : cases) {
    rows.emplace_back(&c, twoDisks);
  }
  for (const Case& c : sharing) {
    rows.emplace_back(&c, sharingDisks);
  }
  for (const auto& [row, path] : rows) {
    const Case& c = *row;
    const FixedTableLayout& first = path == twoDisks ? kSystem : kSharing;
    const std::string what = c.edits[0].name + " +" + std::to_string(c.edits.size() - 1);
    MemoryEdits edits;
    for (const Edit& edit : c.edits) {
      Bytes bytes = contentsOf(edit.disk == 0 ? first : kData, edit.name);
      edit.change(bytes);
      edits.add(edit.disk, edit.name, bytes);
    }
    d88::D88Image original;
    d88::D88Image patched;
    ASSERT_TRUE(original.open(path.c_str()));
    ASSERT_TRUE(patched.open(path.c_str()));
    RecordingWriter writer(c.writerFails);
    PutPlan plan;
    PlanOptions options;
    options.resize = c.resize;
    const bool sound = putBack(original, patched, edits, writer, plan, options);
    std::string lines;
    for (const Diagnostic& diagnostic : plan.diagnostics) {
      lines += diagnosticLine(diagnostic) + "\n";
    }
    const bool refused = c.lines.find("error: ") != std::string::npos;
    EXPECT_EQ(lines, c.lines) << what;
    EXPECT_EQ(sound, !refused) << what;
    EXPECT_EQ(plan.putBack.size(), c.putBack) << what;
    EXPECT_EQ(plan.unchanged, c.unchanged) << what;
    EXPECT_EQ(plan.moved.size(), c.moved) << what;
    // The writer is asked only for a plan without errors that changes a file.
    EXPECT_EQ(writer.calls, c.putBack > 0 && (!refused || c.writerFails) ? 1 : 0) << what;
    // The fast check and the full one agree, with the same diagnostics.
    ASSERT_TRUE(original.open(path.c_str()));
    ASSERT_TRUE(patched.open(path.c_str()));
    PutPlan proved;
    options.proveFastCheck = true;
    planPutBack(original, patched, edits, proved, options);
    EXPECT_FALSE(proved.disagreement.found()) << what;
    EXPECT_EQ(proved.diagnostics.size() + (c.writerFails ? 1 : 0), plan.diagnostics.size()) << what;
  }
}

// Edits that change after their first read, as a file edited while d88put
// runs does: the second read of `changing` gives other bytes, or another size.
class ChangingEdits final : public EditSource {
 public:
  ChangingEdits(std::string changing, bool resized, int changesAt)
      : changing_(std::move(changing)), resized_(resized), changesAt_(changesAt) {}
  MemoryEdits edits;
  void survey(std::int32_t diskCount, Diagnostics& diagnostics) override {
    edits.survey(diskCount, diagnostics);
  }
  [[nodiscard]] bool editsOf(std::int32_t disk, DiskEdits& list, std::string& failure) override {
    return edits.editsOf(disk, list, failure);
  }
  [[nodiscard]] std::optional<std::uint64_t> sizeOf(std::int32_t disk,
                                                    const std::string& name) override {
    return edits.sizeOf(disk, name);
  }
  [[nodiscard]] bool read(std::int32_t disk, const std::string& name, Bytes& bytes) override {
    if (name == changing_ && ++reads_ >= changesAt_) {
      if (resized_) {
        return false;  // the edit's size is no longer the one compared
      }
      const bool read = edits.read(disk, name, bytes);
      bytes.back() ^= 0x55;
      return read;
    }
    return edits.read(disk, name, bytes);
  }
  [[nodiscard]] std::string shownName(std::int32_t disk, const std::string& name) const override {
    return edits.shownName(disk, name);
  }

 private:
  std::string changing_;
  bool resized_;
  int changesAt_;  // the read from which on it has changed
  int reads_ = 0;
};

// A writer that copies the changed image to a temporary file, and fails as
// d88put's does when the copy fails.
class CopyingWriter final : public ImageWriter {
 public:
  [[nodiscard]] bool writes(bool changes) const override { return changes; }
  [[nodiscard]] bool write(PatchedImage& image, Diagnostics& diagnostics) override {
    ++calls;
    // Bytes taken and dropped: the copy reads the edits again all the same.
    struct DroppingSink final : ByteSink {
      [[nodiscard]] bool write(const std::uint8_t* /*bytes*/, std::size_t /*count*/) override {
        return true;
      }
    } sink;
    const bool copied = image.writeTo(sink);
    image.release();
    if (!copied) {
      diagnostics.push_back({Severity::Error, "cannot write it"});
    }
    return copied;
  }
  int calls = 0;
};

// An edit put back is read again, once another edit's bytes are held (here
// disk 1's D002, laid after disk 0's S001), by the check and by the copy: an
// edit that changed since it was laid over the image is refused, and
// nothing is written.
TEST(PutBackPlan, AnEditChangedDuringTheRunIsRefused) {
  d88test::ScratchDir scratch;
  const std::string path =
      scratch.write("two.d88", d88test::concat({kSystem.build(), kData.build()}));
  struct Case {
    const char* what;
    bool resize;
    bool resized;
    int changesAt;  // 2: before the check; 3: before the copy
    const char* line;
  };
  const Case cases[] = {
      {"other bytes at the check", false, false, 2, "error: 000/S001 changed while d88put ran"},
      {"gone at the check", false, true, 2, "error: 000/S001 changed while d88put ran"},
      {"another size, other bytes at the check", true, false, 2,
       "error: 000/S001 changed while d88put ran"},
      {"other bytes at the copy", false, false, 3,
       "error: 000/S001 changed while d88put ran; nothing written"},
      {"another size, gone at the copy", true, true, 3,
       "error: 000/S001 changed while d88put ran; nothing written"},
  };
  for (const Case& c : cases) {
    ChangingEdits edits("S001", c.resized, c.changesAt);
    Bytes bytes = contentsOf(kSystem, "S001");
    bytes[0] ^= 0xFF;
    if (c.resize) {
      bytes.pop_back();
    }
    edits.edits.add(0, "S001", bytes);
    Bytes other = contentsOf(kData, "D002");
    other[0] ^= 0xFF;
    edits.edits.add(1, "D002", other);
    d88::D88Image original;
    d88::D88Image patched;
    ASSERT_TRUE(original.open(path.c_str()));
    ASSERT_TRUE(patched.open(path.c_str()));
    CopyingWriter writer;
    PutPlan plan;
    PlanOptions options;
    options.resize = c.resize;
    EXPECT_FALSE(putBack(original, patched, edits, writer, plan, options)) << c.what;
    ASSERT_EQ(plan.diagnostics.size(), 1u) << c.what;
    EXPECT_EQ(diagnosticLine(plan.diagnostics[0]), c.line) << c.what;
    EXPECT_EQ(writer.calls, c.changesAt == 3 ? 1 : 0) << c.what;
  }
}

// A data disk whose table's `track` lacks sector `missing`.
FixedTableLayout withoutSector(FixedTableLayout layout, int track, std::uint8_t missing) {
  d88test::Track records;
  for (std::uint8_t r = 1; r <= 16; ++r) {
    if (r != missing) {
      records.sector(static_cast<std::uint8_t>(track / 2), static_cast<std::uint8_t>(track % 2), r,
                     1, layout.disk.contents(d88test::address(track, r, 0), 256));
    }
  }
  layout.disk.replace(track, records);
  return layout;
}

// Whether --resize accepts table file `index` of disk `disk` grown by `by`.
bool acceptsGrowth(const std::string& path, std::int32_t disk, const std::string& name, Bytes bytes,
                   std::int32_t by) {
  bytes.insert(bytes.end(), static_cast<std::size_t>(by), 'G');
  MemoryEdits edits;
  edits.add(disk, name, bytes);
  d88::D88Image original;
  d88::D88Image patched;
  EXPECT_TRUE(original.open(path.c_str()));
  EXPECT_TRUE(patched.open(path.c_str()));
  PutPlan plan;
  PlanOptions options;
  options.resize = true;
  planPutBack(original, patched, edits, plan, options);
  return plan.errors == 0;
}

// The room each table lists is what --resize takes: its file that can grow
// most is accepted grown by the room and refused one byte more, as is every
// other file of the table; a table whose sizes are fixed refuses any growth.
TEST(PutBackPlan, TheRoomListedIsTheLargestGrowthAccepted) {
  FixedTableLayout blankE5 = d88test::dataDisk({700, 5000}, {400, 4106});
  blankE5.disk.put(d88test::address(67, 5, 0xA4), Bytes(0x200, 0xE5));
  FixedTableLayout holes = kData;
  holes.disk.put(d88test::address(2, 3, 10), Bytes{'A'});
  holes.disk.drop(68);
  std::vector<std::int32_t> thirty;
  for (std::int32_t i = 0; i < 30; ++i) {
    thirty.push_back(100 + 37 * i);
  }
  FixedTableLayout broken = d88test::dataDisk({2000}, {});
  const std::int32_t start = d88test::address(10, 1, 0x10);
  broken.disk.put(start, d88test::textContents("B", 240));
  broken.disk.table(0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, start, start + 1900});
  broken.disk.replace(10, d88test::Track().sector(
                              5, 0, 1, 1, broken.disk.contents(d88test::address(10, 1, 0), 256)));
  const struct {
    const char* what;
    Bytes image;
  } images[] = {
      {"a system disk and a data disk", d88test::concat({kSystem.build(), kData.build()})},
      {"blank bytes of E5", blankE5.build()},
      {"a byte that is not blank, a missing track", holes.build()},
      {"first table's track without sector 5", withoutSector(kData, 0, 5).build()},
      {"second table's track without sector 16", withoutSector(kData, 66, 16).build()},
      {"files of every fate", d88test::damagedFilesDisk().build()},
      {"files sharing bytes", kSharing.build()},
      // More blank bytes than a file can reach.
      {"164 tracks", d88test::systemDisk({300, 1}, {60, 73}, 164).build()},
      // D002, of 0 bytes at offset 0 of its sector, is not a file; D004 and
      // D005 are of 0 bytes elsewhere.
      {"files of 0 bytes", d88test::dataDisk({87, 0, 50, 0, 0, 9}, {0, 40}).build()},
      // S102 stays within reach only at offsets up to B4.
      {"a file of nearly the largest size after a growing one",
       d88test::systemDisk({300, 1}, {60, 327500}).build()},
      {"the sample", d88test::concat({d88test::systemDisk({300, 512, 1000}, thirty).build(),
                                      d88test::dataDisk({700, 1500, 256}, {400, 4106}).build()})},
      {"a chain that breaks", broken.build()},
      // Entries from S08C's on lie in S000's bytes.
      {"a first table of 150 files",
       d88test::systemDisk(std::vector<std::int32_t>(150, 1), {60, 73}).build()},
  };
  d88test::ScratchDir scratch;
  int tables = 0;
  for (const auto& image : images) {
    const std::string path = scratch.write("disk.d88", image.image);
    d88::D88Image reader;
    ASSERT_TRUE(reader.open(path.c_str()));
    TableBuffers buffers;
    std::vector<std::uint8_t> chain(kExtractBufferSize);
    for (std::int32_t disk = 0; disk < reader.diskCount(); ++disk) {
      DiskListing listing;
      describeDisk(reader, disk, {buffers, chain.data()}, listing);
      const std::vector<bool> last = lastOfTheirName(listing.files);
      std::size_t file = layoutOf(listing.kind).fixed.count;
      for (std::size_t table = 0; table < listing.rooms.size(); ++table) {
        const TableRoom& room = listing.rooms[table];
        std::int32_t count = 0;
        walkTable(buffers[table], 0, [&](const TableFile&) { ++count; });
        const std::string what =
            std::string(image.what) + format(", disk %d table %d", disk, static_cast<int>(table));
        bool grows = false;
        for (std::int32_t index = 0; index < count; ++index, ++file) {
          const FileListing& listed = listing.files.at(file);
          if (!last.at(file)) {
            continue;
          }
          d88::D88Image chainReader;
          ASSERT_TRUE(chainReader.open(path.c_str()));
          ASSERT_TRUE(selectDisk(chainReader, disk, listing.kind));
          (void)listFile(chainReader, chain.data(), listed.file);
          const Bytes bytes(chain.begin() + listed.file.offset,
                            chain.begin() + listed.file.offset + listed.file.size);
          const std::string name = listed.file.name.data();
          EXPECT_FALSE(acceptsGrowth(path, disk, name, bytes, room.room + 1))
              << what << ": " << name << " grown by room + 1";
          if (index == room.grows) {
            grows = true;
            EXPECT_TRUE(acceptsGrowth(path, disk, name, bytes, room.room))
                << what << ": " << name << " grown by 0x" << std::hex << room.room;
          }
        }
        EXPECT_EQ(room.grows < 0, room.fixed) << what;
        // The file that can grow by the room is one that can be put back.
        EXPECT_EQ(grows, !room.fixed) << what;
        tables += room.measured ? 1 : 0;
      }
    }
  }
  EXPECT_GE(tables, 20);
}

// Size changes refused for what a re-laid table would do to other files:
// entries rewritten inside a file's bytes, and a file of 0 bytes brought to
// or taken from offset 0 of its sector, where d88extract skips it.
TEST(PutBackPlan, SizeChangesThatWouldChangeOtherFilesSayWhy) {
  // The first table's 153 entries (151 files, the last entry, the end mark)
  // run from byte 0x1A4 (S08C's entry) into S000's bytes.
  const FixedTableLayout bigTable =
      d88test::systemDisk(std::vector<std::int32_t>(150, 1), {60, 73});
  // S101 starts at offset 0x77 of track 21 sector 0E: 137 bytes end the sector.
  const auto second = [](std::vector<std::int32_t> sizes) {
    return d88test::systemDisk({300, 1}, std::move(sizes));
  };
  struct Case {
    const char* what;
    FixedTableLayout layout;
    std::vector<std::pair<std::string, std::int32_t>> sizes;  // new sizes
    std::string why;                                          // empty: sound
    std::size_t moved = 0;
  };
  const std::string cannot = "error: 000/";
  const std::string inS000 = " would be rewritten, and it lies in bytes of S000\n";
  const std::string skips = ": d88extract skips a file of 0 bytes there\n";
  const Case cases[] = {
      {"grown: every later entry changes",
       bigTable,
       {{"S005", 2}},
       cannot + "S005 cannot change size: the first table's entry of S08C" + inS000},
      {"the file before the first entry in S000",
       bigTable,
       {{"S08B", 2}},
       cannot + "S08B cannot change size: the first table's entry of S08C" + inS000},
      {"the file whose entry lies in S000",
       bigTable,
       {{"S08C", 0}},
       cannot + "S08C cannot change size: the first table's entry of S08D" + inS000},
      {"the last file: only the last entry changes",
       bigTable,
       {{"S096", 2}},
       cannot + "S096 cannot change size: the first table's last entry" + inS000},
      // S006 starts one byte later; the entries from S007's on stay as they are.
      {"changes that cancel before S000's bytes", bigTable, {{"S005", 2}, {"S006", 0}}, ""},
      {"a 0-byte file moved off offset 0",
       second({137, 0, 73}),
       {{"S101", 138}},
       cannot +
           "S101 cannot change size: S102, of 0 bytes, would move off offset 0 of its "
           "sector and appear" +
           skips},
      {"a 0-byte file moved back off offset 0",
       second({137, 0, 73}),
       {{"S101", 136}},
       cannot +
           "S101 cannot change size: S102, of 0 bytes, would move off offset 0 of its "
           "sector and appear" +
           skips},
      {"a 0-byte file moved to offset 0",
       second({136, 0, 73}),
       {{"S101", 137}},
       cannot +
           "S101 cannot change size: S102, of 0 bytes, would move to offset 0 of its "
           "sector and vanish" +
           skips},
      {"a file at offset 0 shrunk to 0 bytes",
       second({137, 5, 73}),
       {{"S102", 0}},
       cannot +
           "S102 cannot change size: S102 would be of 0 bytes at offset 0 of its sector "
           "and vanish" +
           skips},
      // S102, still skipped, is no file that moved: S103 is.
      {"a 0-byte file moved from offset 0 to offset 0",
       second({137, 0, 73}),
       {{"S101", 393}},
       "",
       1},
      {"shrunk to 0 bytes at offset FF", second({136, 5, 73}), {{"S102", 0}}, "", 1},
  };
  d88test::ScratchDir scratch;
  for (const Case& c : cases) {
    const std::string path = scratch.write("disk.d88", c.layout.build());
    MemoryEdits edits;
    for (const auto& [name, size] : c.sizes) {
      Bytes bytes = contentsOf(c.layout, name);
      bytes.resize(static_cast<std::size_t>(size), '#');
      edits.add(0, name, bytes);
    }
    d88::D88Image original;
    d88::D88Image patched;
    ASSERT_TRUE(original.open(path.c_str()));
    ASSERT_TRUE(patched.open(path.c_str()));
    PutPlan plan;
    PlanOptions options;
    options.resize = true;
    planPutBack(original, patched, edits, plan, options);
    std::string lines;
    for (const Diagnostic& diagnostic : plan.diagnostics) {
      lines += diagnosticLine(diagnostic) + "\n";
    }
    EXPECT_EQ(lines, c.why) << c.what;
    EXPECT_EQ(plan.errors, c.why.empty() ? 0 : 1) << c.what;
    EXPECT_EQ(plan.putBack.size(), c.why.empty() ? c.sizes.size() : 0u) << c.what;
    EXPECT_EQ(plan.moved.size(), c.moved) << c.what;
    if (plan.moved.size() == 1) {
      EXPECT_STREQ(plan.moved[0].name.data(), "S103") << c.what;
    }
  }
}

}  // namespace
