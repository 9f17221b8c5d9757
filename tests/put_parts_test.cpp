// The put-back's parts one at a time: the comparison, the re-laying, the
// verification and the changed image's copy, each on images of the builder,
// and the refusals' words.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "disk/comparison.h"
#include "disk/listing.h"
#include "disk/plan_work.h"
#include "disk/recognised.h"
#include "disk/relayout.h"
#include "disk/verification.h"
#include "format/put_words.h"
#include "tests/test_support.h"

using namespace disk;
using namespace format;

namespace {

using d88test::Bytes;
using d88test::FixedTableLayout;

// BIOS, DRIVER, S000 to S002, then S100 to S103, with blank bytes after S103.
const FixedTableLayout kSystem = d88test::systemDisk({300, 1}, {60, 73, 500});

Bytes contentsOf(const FixedTableLayout& layout, const std::string& name) {
  for (const d88test::FixedTableFile& file : layout.files) {
    if (file.name == name) {
      return layout.disk.contents(file.address, file.size);
    }
  }
  return layout.disk.contents(d88test::kBiosAddress, d88test::kBiosSize);
}

std::int32_t addressOf(const FixedTableLayout& layout, const std::string& name) {
  for (const d88test::FixedTableFile& file : layout.files) {
    if (file.name == name) {
      return file.address;
    }
  }
  return -1;
}

// One disk's image opened twice, and a plan's work on it.
class Parts {
 public:
  Parts(const Bytes& image, bool resize, bool prove = false) {
    path_ = scratch_.write("disk.d88", image);
    EXPECT_TRUE(original.open(path_.c_str()));
    EXPECT_TRUE(patched.open(path_.c_str()));
    options_.resize = resize;
    options_.proveFastCheck = prove;
  }
  // Compares disk 0 with the edits given so far.
  void compare() {
    plan.image.bind(original, patched, edits);
    DiskEdits diskEdits;
    std::string failure;
    ASSERT_TRUE(edits.editsOf(0, diskEdits, failure));
    recogniseDiskOf(original, 0, disk);
    compareDisk(work, disk, diskEdits, resizes);
  }
  // The codes of the plan's diagnostics, in order.
  std::vector<RefusalCode> codes() const {
    std::vector<RefusalCode> out;
    for (const Diagnostic& diagnostic : plan.diagnostics) {
      out.push_back(diagnostic.refusal.code);
    }
    return out;
  }

  d88test::ScratchDir scratch_;
  std::string path_;
  d88::D88Image original;
  d88::D88Image patched;
  MemoryEdits edits;
  PutPlan plan;
  PlanOptions options_;
  PlanWork work{original, patched, edits, options_, plan};
  RecognisedDisk disk;
  std::vector<ResizeEdit> resizes;
};

// A file's bytes with its first byte changed, or `extra` bytes more.
Bytes edited(const std::string& name, std::int32_t extra = 0) {
  Bytes bytes = contentsOf(kSystem, name);
  if (extra == 0) {
    bytes.at(0) ^= 0xFF;
  } else {
    bytes.resize(static_cast<std::size_t>(static_cast<std::int32_t>(bytes.size()) + extra), '#');
  }
  return bytes;
}

TEST(PutParts, RecognisedDiskKnowsEachFilesTableEntry) {
  Parts parts(kSystem.build(), false);
  recogniseDiskOf(parts.original, 0, parts.disk);
  ASSERT_EQ(parts.disk.kind, DiskKind::System);
  ASSERT_EQ(parts.disk.files.size(), 9u);
  // BIOS and DRIVER belong to no table; S000 starts table 0, S100 table 1.
  EXPECT_EQ(parts.disk.file(1).table, -1);
  EXPECT_EQ(parts.disk.fileAt(0, 0), 2u);
  EXPECT_EQ(parts.disk.fileAt(1, 0), 5u);
  EXPECT_STREQ(parts.disk.file(parts.disk.fileAt(1, 3)).name.data(), "S103");
  EXPECT_EQ(parts.disk.file(8).table, 1);
  EXPECT_EQ(parts.disk.file(8).entry, 3);
}

// Each edit alone against the disk: what the comparison makes of it.
TEST(PutParts, ComparisonGivesChangedFilesResizesAndRefusals) {
  struct Case {
    const char* what;
    std::string name;
    Bytes bytes;
    bool resize;
    RefusalCode code;  // of the one diagnostic, None for none
    std::size_t changed;
    std::size_t resizes;
    std::int32_t unchanged;
  };
  const Bytes largest(static_cast<std::size_t>(kExtractBufferSize), '#');
  const Bytes tooLarge(static_cast<std::size_t>(kExtractBufferSize) + 1, '#');
  const Case cases[] = {
      {"as it is", "S001", contentsOf(kSystem, "S001"), false, RefusalCode::None, 0, 0, 1},
      {"one byte changed", "S001", edited("S001"), false, RefusalCode::None, 1, 0, 0},
      {"one byte more", "S101", edited("S101", 1), false, RefusalCode::OtherSize, 0, 0, 0},
      {"one byte less", "S101", edited("S101", -1), false, RefusalCode::OtherSize, 0, 0, 0},
      {"one byte more, resizing", "S101", edited("S101", 1), true, RefusalCode::None, 0, 1, 0},
      {"BIOS resized", "BIOS", edited("BIOS", 1), true, RefusalCode::FixedFile, 0, 0, 0},
      {"a first entry's file resized", "S100", edited("S100", 1), true, RefusalCode::FirstEntry, 0,
       0, 0},
      {"the buffer's size", "S101", largest, true, RefusalCode::None, 0, 1, 0},
      {"a byte past the buffer", "S101", tooLarge, true, RefusalCode::PastExtractBuffer, 0, 0, 0},
      {"no such file", "S1FF", edited("S001"), false, RefusalCode::NoSuchFile, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Parts parts(kSystem.build(), c.resize);
    parts.edits.add(0, c.name, c.bytes);
    parts.compare();
    const std::vector<RefusalCode> expected =
        c.code == RefusalCode::None ? std::vector<RefusalCode>{} : std::vector<RefusalCode>{c.code};
    EXPECT_EQ(parts.codes(), expected) << c.what;
    EXPECT_EQ(parts.work.changed.size(), c.changed) << c.what;
    EXPECT_EQ(parts.resizes.size(), c.resizes) << c.what;
    EXPECT_EQ(parts.plan.unchanged, c.unchanged) << c.what;
  }
}

TEST(PutParts, ComparisonFieldsNameTheFileAndItsSizes) {
  Parts parts(kSystem.build(), false);
  parts.edits.add(0, "S101", edited("S101", 1));
  parts.compare();
  ASSERT_EQ(parts.plan.diagnostics.size(), 1u);
  const Refusal& refusal = parts.plan.diagnostics[0].refusal;
  EXPECT_EQ(refusal.file, "000/S101");
  EXPECT_EQ(refusal.size, 61u);
  EXPECT_EQ(refusal.was, 60);
  // The blank bytes after S103 take a byte more.
  EXPECT_TRUE(refusal.resizeWouldTake);
}

TEST(PutParts, ChangedFileSpansCoverItsBytesOnce) {
  Parts parts(kSystem.build(), false);
  parts.edits.add(0, "S001", edited("S001"));
  parts.compare();
  ASSERT_EQ(parts.work.changed.size(), 1u);
  const ChangedFile& put = parts.work.changed[0];
  std::int64_t total = 0;
  for (const FileSpan& span : put.spans) {
    total += span.length;
  }
  // A span for each sector S001 meets, 300 bytes in all.
  const std::int32_t offset = addressOf(kSystem, "S001") % kSectorSize;
  EXPECT_EQ(put.spans.size(),
            static_cast<std::size_t>((offset + 300 + kSectorSize - 1) / kSectorSize));
  EXPECT_EQ(put.spans.front().length, kSectorSize - offset);
  EXPECT_EQ(total, 300);
  EXPECT_EQ(put.file, 3u);
}

// A growth of S101 by `by` bytes re-laid alone: the files after it move by
// as much, entry by entry, and the room after the table, up to the end of
// a disk of 40 tracks, bounds it.
TEST(PutParts, RelayingMovesTheLaterFilesByTheGrowth) {
  const FixedTableLayout small = d88test::systemDisk({300, 1}, {60, 73, 500}, 40);
  // The room the listing gives table 1, which the re-laying must take to
  // the byte and not one byte more.
  // The probe shares the cases' scratch folder: it is closed before they
  // run, since Windows removes no folder that holds an open file.
  std::int32_t room = 0;
  {
    Parts probe(small.build(), true);
    TableBuffers tables{};
    std::vector<std::uint8_t> chain(kExtractBufferSize);
    DiskListing listing;
    describeDisk(probe.original, 0, {tables, chain.data()}, listing);
    ASSERT_EQ(listing.rooms.size(), 2u);
    room = listing.rooms[1].room;
  }
  ASSERT_GT(room, 0);
  struct Case {
    std::int32_t by;
    bool laid;
  };
  for (const Case& c : {Case{1, true}, Case{-1, true}, Case{room, true}, Case{room + 1, false}}) {
    Parts parts(small.build(), true);
    parts.edits.add(0, "S101", edited("S101", c.by));
    parts.compare();
    ASSERT_EQ(parts.resizes.size(), 1u) << c.by;
    relayDisk(parts.work, parts.disk, parts.resizes);
    if (!c.laid) {
      ASSERT_EQ(parts.codes(), std::vector<RefusalCode>{RefusalCode::TableGrows}) << c.by;
      EXPECT_EQ(parts.plan.diagnostics[0].refusal.growth, c.by);
      EXPECT_EQ(parts.plan.diagnostics[0].refusal.table, 1);
      EXPECT_TRUE(parts.work.relaid.empty());
      continue;
    }
    EXPECT_TRUE(parts.plan.diagnostics.empty()) << c.by;
    ASSERT_EQ(parts.work.relaid.count(0), 1u) << c.by;
    const RelaidFiles& relaid = parts.work.relaid[0].at(0);
    EXPECT_EQ(relaid.firstFile, parts.disk.fileAt(1, 1));
    // S101, S102, S103 and the last entry.
    ASSERT_EQ(relaid.newAt.size(), 4u) << c.by;
    EXPECT_EQ(relaid.newAt[0], addressOf(kSystem, "S101"));
    EXPECT_EQ(relaid.newAt[1], addressOf(kSystem, "S102") + c.by);
    EXPECT_EQ(relaid.newAt[3], addressOf(kSystem, "S103") + 500 + c.by);
    // The resized file is put back at its place; S102 and S103 move.
    ASSERT_EQ(parts.work.changed.size(), 1u);
    EXPECT_EQ(parts.work.changed[0].entry.size, 60 + c.by);
    ASSERT_EQ(parts.plan.moved.size(), 2u);
    EXPECT_STREQ(parts.plan.moved[0].name.data(), "S102");
    EXPECT_STREQ(parts.plan.moved[1].name.data(), "S103");
    EXPECT_FALSE(parts.plan.image.overlay().empty());
  }
}

// The header check, at the header's last byte and the first byte after it.
TEST(PutParts, VerificationRefusesAChangedHeaderToItsLastByte) {
  struct Case {
    std::int64_t at;
    bool changed;
  };
  for (const Case& c :
       {Case{0, true}, Case{d88::kHeaderSize - 1, true}, Case{d88::kHeaderSize, false}}) {
    Parts parts(kSystem.build(), false);
    parts.plan.image.bind(parts.original, parts.patched, parts.edits);
    // A byte surely other than the file's: its own, flipped.
    std::uint8_t byte = 0;
    ASSERT_EQ(parts.original.readFileBytes(c.at, &byte, 1), 1);
    byte ^= 0xFF;
    parts.plan.image.overlay().put(c.at, &byte, 1);
    const std::vector<bool> changed = checkHeaders(parts.work);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0], c.changed) << c.at;
    EXPECT_EQ(parts.codes(), c.changed ? std::vector<RefusalCode>{RefusalCode::HeaderChanged}
                                       : std::vector<RefusalCode>{})
        << c.at;
  }
}

// A laid byte in another file's bytes changes that file: the fast check
// and the full one both refuse it by name, re-laid table or not.
TEST(PutParts, VerificationFindsAFileThatLaidBytesChange) {
  for (const bool resize : {false, true}) {
    Parts parts(kSystem.build(), resize, true);
    parts.edits.add(0, "S101", edited("S101", resize ? 1 : 0));
    parts.compare();
    if (resize) {
      relayDisk(parts.work, parts.disk, parts.resizes);
    }
    // Laid as the plan lays them, then one byte of S001 besides.
    parts.work.changed.front().laid = parts.plan.image.laid().add(
        0, "S101", "000/S101", std::move(parts.work.changed.front().bytes));
    std::int64_t done = 0;
    for (const FileSpan& span : parts.work.changed.front().spans) {
      parts.plan.image.overlay().putFrom(span.position, span.length, 0, done);
      done += span.length;
    }
    const std::uint8_t byte = '!';
    const std::int32_t at = addressOf(kSystem, "S001");
    const LinearSector sector = linearSector(parts.original, at);
    parts.plan.image.overlay().put(sector.position + at % kSectorSize, &byte, 1);
    verifyPlan(parts.work);
    ASSERT_EQ(parts.codes(), std::vector<RefusalCode>{RefusalCode::WouldChange}) << resize;
    EXPECT_EQ(parts.plan.diagnostics[0].refusal.file, "000/S001");
    EXPECT_EQ(parts.plan.diagnostics[0].refusal.files, std::vector<std::string>{}) << resize;
    EXPECT_FALSE(parts.plan.disagreement.found()) << resize;
  }
}

// The bytes a copy gives, and a sink that refuses them from its `failAt`th write on.
class MemorySink final : public ByteSink {
 public:
  explicit MemorySink(int failAt = -1) : failAt_(failAt) {}
  [[nodiscard]] bool write(const std::uint8_t* from, std::size_t count) override {
    if (writes_++ == failAt_) {
      return false;
    }
    bytes.insert(bytes.end(), from, from + count);
    return true;
  }
  Bytes bytes;

 private:
  int failAt_;
  int writes_ = 0;
};

// The changed image written to a sink: the original's bytes but where the
// edit lies, byte for byte; a sink that fails fails the copy.
TEST(PutParts, PatchedImageWritesTheOriginalWithTheEditOverIt) {
  const Bytes image = kSystem.build();
  Parts parts(image, false);
  parts.edits.add(0, "S001", edited("S001"));
  planPutBack(parts.original, parts.patched, parts.edits, parts.plan);
  ASSERT_EQ(parts.plan.errors, 0);
  Bytes expected = image;
  const std::int32_t at = addressOf(kSystem, "S001");
  const LinearSector first = linearSector(parts.original, at);
  expected.at(static_cast<std::size_t>(first.position + at % kSectorSize)) ^= 0xFF;
  MemorySink sink;
  ASSERT_TRUE(parts.plan.image.writeTo(sink));
  EXPECT_TRUE(sink.bytes == expected);
  MemorySink failing(0);
  EXPECT_FALSE(parts.plan.image.writeTo(failing));
}

// A grown file written and read again: the edit, and every later file as
// it was, at its new place.
TEST(PutParts, PatchedImageOfAGrowthReadsBackAsTheEditsAndTheMovedFiles) {
  Parts parts(kSystem.build(), true);
  const Bytes grown = edited("S101", 300);
  parts.edits.add(0, "S101", grown);
  planPutBack(parts.original, parts.patched, parts.edits, parts.plan, parts.options_);
  ASSERT_EQ(parts.plan.errors, 0);
  ASSERT_EQ(parts.plan.moved.size(), 2u);
  MemorySink sink;
  ASSERT_TRUE(parts.plan.image.writeTo(sink));
  d88::D88Image written;
  ASSERT_TRUE(written.open(parts.scratch_.write("written.d88", sink.bytes).c_str()));
  TableBuffers tables{};
  std::vector<std::uint8_t> chain(kExtractBufferSize);
  DiskListing listing;
  describeDisk(written, 0, {tables, chain.data()}, listing, kFileListOnly);
  ASSERT_EQ(listing.files.size(), 9u);
  for (const FileListing& file : listing.files) {
    const std::string name = file.file.name.data();
    const FileListing read = listFile(written, chain.data(), file.file);
    ASSERT_EQ(read.verdict, FileVerdict::Complete) << name;
    const Bytes got(chain.begin() + file.file.offset,
                    chain.begin() + file.file.offset + file.file.size);
    EXPECT_TRUE(got == (name == "S101" ? grown : contentsOf(kSystem, name))) << name;
  }
}

}  // namespace
