// End-to-end tests of d88put: the built d88extract writes a folder from an
// image made with the builder, the test edits files in it, and the built
// d88put puts them back. The changed D88 file is compared byte for byte with
// the builder's image of the edited disks; refusals must leave it as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "builder/image_builder.h"
#include "tests/test_support.h"
#include "tests/tool_runner.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#endif

namespace {

namespace fs = std::filesystem;
using d88test::address;
using d88test::Bytes;
using d88test::FixedTableLayout;
using d88test::text;
using d88test::Tree;

// Resolved against the folder the tests start in, before anything moves.
const std::string kPut = fs::absolute(D88PUT_PATH).make_preferred().string();
const std::string kExtract = fs::absolute(D88EXTRACT_PATH).make_preferred().string();
const std::string kInfo = fs::absolute(D88INFO_PATH).make_preferred().string();

// Disk 0 of the test file: BIOS and DRIVER cross sides and cylinders, S001
// crosses sectors from offset E7, S100 crosses tracks 30 to 33.
FixedTableLayout systemLayout() {
  return d88test::systemDisk({300, 1}, {60, 73});
}
// Disk 1: D002 runs from track 0 sector 0E offset 65 to the middle of track 2.
FixedTableLayout dataLayout() {
  return d88test::dataDisk({700, 5000}, {400, 4106});
}

// A data disk whose D002 (X to X+d002End-1) and D004 (X+d004Start to
// X+d004End-1) share bytes, X being track 3 sector 1 offset 10 (D003 goes
// backwards and is not written). By default they share X+50 to X+99.
constexpr std::int32_t kShared = address(3, 1, 0x10);
FixedTableLayout sharingLayout(std::int32_t d002End = 100, std::int32_t d004Start = 50,
                               std::int32_t d004End = 300) {
  FixedTableLayout data = d88test::dataDisk({700}, {});
  data.disk.put(kShared, d88test::textContents("SHARED", 300));
  data.disk.table(0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, kShared,
                      kShared + d002End, kShared + d004Start, kShared + d004End});
  data.files = {data.files[0],
                {"D001", d88test::kDataFirstTable1, kShared - d88test::kDataFirstTable1},
                {"D002", kShared, d002End},
                {"D004", kShared + d004Start, d004End - d004Start},
                data.files.back()};
  return data;
}

// A data disk whose D002 (track 0A sector 01 offset 10) breaks after its
// first sector: track 10 holds sector 1 only.
FixedTableLayout brokenLayout() {
  FixedTableLayout data = d88test::dataDisk({2000}, {});
  const std::int32_t start = address(10, 1, 0x10);
  data.disk.put(start, d88test::textContents("B", 240));
  data.disk.table(0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, start, start + 1900});
  data.disk.replace(
      10, d88test::Track().sector(5, 0, 1, 1, data.disk.contents(address(10, 1, 0), 256)));
  return data;
}

// A data disk whose D002 ends its last track (track 159, sectors 15 and 16);
// D001 reaches past the extraction buffer and is not written.
constexpr std::int32_t kLastFile = address(159, 15, 0x10);
constexpr std::int32_t kLastFileSize = 496;
FixedTableLayout lastTrackLayout() {
  FixedTableLayout data = d88test::dataDisk({}, {});
  data.disk.put(kLastFile, d88test::textContents("D002", kLastFileSize));
  data.disk.table(0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, kLastFile,
                      kLastFile + kLastFileSize});
  data.files = {data.files[0], {"D002", kLastFile, kLastFileSize}, data.files.back()};
  return data;
}
// Disk 0's size field 200 bytes short, so that disk 1 begins 200 bytes before
// the end of disk 0's last track: D002's last 200 bytes are the first 200 of
// disk 1's header.
constexpr std::int32_t kCutShort = 200;
constexpr std::int32_t kHeaderInD002 = kLastFileSize - kCutShort;

// The table sizes of the system disk and the data disk, as --resize leaves
// them: by default those of systemLayout and dataLayout.
struct TableSizes {
  std::vector<std::int32_t> system1{300, 1};
  std::vector<std::int32_t> system2{60, 73};
  std::vector<std::int32_t> data1{700, 5000};
  std::vector<std::int32_t> data2{400, 4106};
};
// The two disks with those sizes. On the data disk the bytes from its second
// table's end to the end of track 68 hold E5, as on a formatted disk.
constexpr std::int32_t kBlankE5End = address(69, 1, 0);
std::vector<FixedTableLayout> sizedLayouts(const TableSizes& sizes) {
  FixedTableLayout data = d88test::dataDisk(sizes.data1, sizes.data2);
  const d88test::FixedTableFile& last = data.files.back();
  const std::int32_t end = last.address + last.size;
  data.disk.put(end, Bytes(static_cast<std::size_t>(kBlankE5End - end), 0xE5));
  return {d88test::systemDisk(sizes.system1, sizes.system2), data};
}
// The data disk's D002 is followed by 275 blank bytes, then a byte that is
// not blank (track 2 sector 3); D102 by 3174, then no track 68.
FixedTableLayout holesLayout() {
  FixedTableLayout data = dataLayout();
  data.disk.put(address(2, 3, 10), Bytes{'A'});
  data.disk.drop(68);
  return data;
}

// A data disk whose second table's track (66) lacks its last sector, so that
// the table reads 15 of its 16 sectors.
FixedTableLayout shortTableTrackLayout() {
  FixedTableLayout data = dataLayout();
  d88test::Track track;
  for (std::uint8_t r = 1; r <= 15; ++r) {
    track.sector(33, 0, r, 1, data.disk.contents(address(66, r, 0), 256));
  }
  data.disk.replace(66, track);
  return data;
}

// A disk recognised as neither kind: its table on track 0 lists _000 and
// _001, whose first entries are not the data disk's.
d88test::FixedTableDisk unrecognisedDisk() {
  d88test::FixedTableDisk disk;
  disk.put(address(1, 1, 0), d88test::textContents("X", 600));
  disk.table(0, {address(1, 1, 0), address(1, 1, 100), address(1, 3, 88)});
  return disk;
}

// A system disk whose first table runs 153 entries into S000's bytes.
FixedTableLayout bigTableLayout() {
  return d88test::systemDisk(std::vector<std::int32_t>(150, 1), {60, 73});
}

// Bytes written over a file of the folder from `offset`, growing it if they
// reach past its end; a negative offset cuts that many bytes off its end
// instead. '#' and '%' appear nowhere in textContents.
struct Edit {
  std::string file;  // "000/BIOS"
  std::int32_t offset;
  std::string bytes;
};

// ファイルをオープンできません, in UTF-8.
const std::string kOpenError =
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83\xBC\xE3\x83"
    "\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93\n";

// The help, after "Usage: " and the program.
const std::string kUsage =
    " [OPTIONS] d88file folder\n\n"
    "Positionals:\n"
    "  d88file REQUIRED    the D88 file\n"
    "  folder REQUIRED     what d88extract -a wrote (or, with --disk, one disk)\n\n"
    "Options:\n"
    "  --help              this text\n"
    "  --version           the version\n"
    "  --disk N:0 to 63    the folder holds the files of disk N itself\n"
    "  -o output           write the new D88 file there, leave d88file as it is\n"
    "  -n                  check and report, write nothing\n"
    "  --resize            a file may change size, the files after it move\n\n";

// What a test needs to tell that a file was not touched: not even rewritten.
struct FileState {
  Bytes bytes;
  fs::file_time_type time;
  std::uint64_t inode = 0;
};

FileState stateOf(const fs::path& path) {
  FileState state{d88test::readAll(path), fs::last_write_time(path)};
#ifndef _WIN32
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    state.inode = info.st_ino;
  }
#endif
  return state;
}

bool same(const FileState& a, const FileState& b) {
  return a.bytes == b.bytes && a.time == b.time && a.inode == b.inode;
}

// The positions where two files differ (and past the shorter one's end).
std::vector<std::size_t> differences(const Bytes& a, const Bytes& b) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i >= a.size() || i >= b.size() || a[i] != b[i]) {
      out.push_back(i);
    }
  }
  return out;
}

#ifdef D88_FAULT_SHIM
// The signals d88put catches, by the names the fault shim takes.
const std::pair<const char*, int> kEndingSignals[] = {
    {"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"TERM", SIGTERM},
    {"USR1", SIGUSR1}, {"USR2", SIGUSR2}, {"ALRM", SIGALRM}, {"VTALRM", SIGVTALRM},
    {"PROF", SIGPROF}, {"XCPU", SIGXCPU}, {"XFSZ", SIGXFSZ}};
#endif

class PutTest : public ::testing::Test {
 protected:
  // The help compared below is the English one.
  void SetUp() override { d88test::setLocale("C"); }
  std::string d88() const { return scratch_.file("disk.d88"); }
  fs::path folder() const { return scratch_.path() / "files"; }

  // A fresh D88 file, dated a day back, and the folder d88extract -a writes
  // for it.
  void prepare(const Bytes& image) {
    fs::remove_all(scratch_.path());
    fs::create_directories(folder());
    ASSERT_TRUE(d88test::writeFile(d88(), image));
    fs::last_write_time(d88(), fs::last_write_time(d88()) - std::chrono::hours(24));
    ASSERT_EQ(d88test::runIn(folder(), kExtract, {d88(), "-a"}, scratch_.path()).status, 0);
    before_ = stateOf(d88());
  }
  void edit(const Edit& e) const {
    const fs::path path = folder() / e.file;
    Bytes bytes = d88test::readAll(path);
    if (e.offset < 0) {
      bytes.resize(bytes.size() - static_cast<std::size_t>(-e.offset));
    } else {
      bytes.resize(std::max(bytes.size(), e.offset + e.bytes.size()));
      std::copy(e.bytes.begin(), e.bytes.end(), bytes.begin() + e.offset);
    }
    ASSERT_TRUE(d88test::writeFile(path.string(), bytes));
  }
  // d88put with these arguments, or with D88FILE FOLDER and these (put).
  d88test::RunResult runPut(const std::vector<std::string>& args) const {
    return d88test::runIn(scratch_.path(), kPut, args, scratch_.path());
  }
  d88test::RunResult put(const std::vector<std::string>& extra) {
    std::vector<std::string> args{d88(), folder().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runPut(args);
  }
  // The D88 file as it was before the run, not even rewritten.
  void expectUntouched(const std::string& what) const {
    EXPECT_TRUE(same(stateOf(d88()), before_)) << what;
  }
  // No temporary file left anywhere in the scratch folder.
  void expectNoTemporary(const std::string& what) const {
    for (const auto& entry : fs::recursive_directory_iterator(scratch_.path())) {
      EXPECT_EQ(entry.path().string().find(".d88put-tmp"), std::string::npos) << what;
    }
  }

  static std::string arguments(const std::vector<std::string>& args) {
    std::string out;
    for (const std::string& arg : args) {
      out += " " + d88test::quoted(arg);
    }
    return out;
  }
#ifndef _WIN32
  // How to run d88put as a user who is not root: as root, user 65534 running
  // a copy in the scratch folder, which that user is given.
  std::string unprivileged() const {
    if (geteuid() != 0) {
      return d88test::quoted(kPut);
    }
    const fs::path copy = scratch_.path() / "d88put";
    fs::copy_file(kPut, copy, fs::copy_options::overwrite_existing);
    EXPECT_EQ(
        std::system(("chown -R 65534:65534 " + d88test::quoted(scratch_.path().string())).c_str()),
        0);
    return "setpriv --reuid=65534 --regid=65534 --clear-groups " + d88test::quoted(copy.string());
  }
#endif
#ifdef D88_FAULT_SHIM
  // The shell prefix that makes d88put's fsync of its temporary file do
  // `action` (see fault_shim.cpp).
  static std::string fault(const std::string& action) {
    return "ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 D88_TEST_FSYNC=" + action +
           " LD_PRELOAD=" + d88test::quoted(D88_FAULT_SHIM) + " ";
  }
#endif

  d88test::ScratchDir scratch_;
  FileState before_;
};

// The test layouts (disk 0, disk 1) with the edits laid over their files.
std::vector<FixedTableLayout> editedLayouts(std::vector<FixedTableLayout> disks,
                                            const std::vector<Edit>& edits) {
  for (std::size_t disk = 0; disk < disks.size(); ++disk) {
    for (const Edit& e : edits) {
      // Of two files of one name, the folder holds the one written last.
      const d88test::FixedTableFile* last = nullptr;
      for (const auto& file : disks[disk].files) {
        last = e.file == (disk == 0 ? "000/" : "001/") + file.name ? &file : last;
      }
      if (last != nullptr) {
        disks[disk].disk.put(last->address + e.offset, Bytes(e.bytes.begin(), e.bytes.end()));
      }
    }
  }
  return disks;
}
Bytes editedImage(const std::vector<FixedTableLayout>& disks, const std::vector<Edit>& edits) {
  std::vector<Bytes> images;
  for (const FixedTableLayout& disk : editedLayouts(disks, edits)) {
    images.push_back(disk.build());
  }
  return d88test::concat(images);
}

// The last-track data disk cut short, then the system disk.
Bytes cutShortThenSystem(const std::vector<Edit>& edits = {}) {
  const auto disks = editedLayouts({lastTrackLayout(), systemLayout()}, edits);
  const std::size_t size = disks[0].build().size() - kCutShort;
  const Bytes first = disks[0].disk.disk().sizeField(static_cast<std::uint32_t>(size)).build();
  return d88test::concat({d88test::truncated(first, size), disks[1].build()});
}

// The system disk and the data disk, in one file.
Bytes twoDisks(const std::vector<Edit>& edits = {}) {
  return editedImage({systemLayout(), dataLayout()}, edits);
}

// ---------------------------------------------------------------------------
// Files put back

TEST_F(PutTest, EditedFilesGoBackWhereTheyWereReadAndNowhereElse) {
  struct Image {
    const char* what;
    std::function<Bytes(const std::vector<Edit>&)> build;
    std::vector<Edit> edits;
    std::string lines;
    std::string summary;
  };
  const std::string bios = "BIOS    disk: 001  trk: 05  sec: 01  ofs: 00  size: 2500\n";
  const std::string d002 = "D002    disk: 000  trk: 9F  sec: 0F  ofs: 10  size: 01F0\n";
  const Image images[] = {
      {"system and data disk",
       [](const std::vector<Edit>& edits) { return twoDisks(edits); },
       {{"000/BIOS", 0xFFE, "####"},  // track 5 to 6: cylinder 2 side 1 to cylinder 3 side 0
        {"000/BIOS", 0x1FFF, "##"},   // track 6 to 7: side 0 to side 1
        {"000/BIOS", 0x24FF, "#"},    // the last byte, at the end of a sector
        {"000/DRIVER", 0x2822, "#"},  // the last byte, 0x23 bytes into its sector
        {"000/S000", 0, "#"},         // on the table track, past the table's end mark
        {"000/S001", 0, "#"},         // the first byte, at offset E7 of its first sector
        {"000/S001", 0x18, "##"},     // sector 0B to 0C
        {"000/S100", 0xE5B, "##"},    // track 30 to 31
        {"000/S100", 0x1E5B, "##"},   // track 31 to 32
        {"001/D002", 0x29A, "##"},    // track 0 to 1
        {"001/D002", 0x129A, "##"},   // track 1 to 2
        {"001/D002", 0x1387, "#"},    // the last byte, in the middle of a sector
        {"001/D102", 0, "#"},         // the first byte, at offset 90
        {"001/D102", 0x1009, "#"}},   // the last byte, on track 67
       "BIOS    disk: 000  trk: 05  sec: 01  ofs: 00  size: 2500\n"
       "DRIVER  disk: 000  trk: 10  sec: 01  ofs: 00  size: 2823\n"
       "S000    disk: 000  trk: 0C  sec: 02  ofs: A4  size: 0943\n"
       "S001    disk: 000  trk: 0C  sec: 0B  ofs: E7  size: 012C\n"
       "S100    disk: 000  trk: 1E  sec: 02  ofs: A4  size: 3BD3\n"
       "D002    disk: 001  trk: 00  sec: 0E  ofs: 65  size: 1388\n"
       "D102    disk: 001  trk: 42  sec: 04  ofs: 90  size: 100A\n",
       "put back: 7, unchanged: 7, ignored: 0\n"},
      // BIOS sector 6 holds file positions AFFC0 to B00BF: the copy's block
      // that starts at B0000 begins inside it.
      {"data and system disk",
       [](const std::vector<Edit>& edits) {
         return editedImage({dataLayout(), systemLayout()}, edits);
       },
       {{"001/BIOS", 0x540, "#"}},
       bios,
       "put back: 1, unchanged: 13, ignored: 0\n"},
      // D002's bytes up to disk 1's header are disk 0's own.
      {"disk 0 cut short",
       cutShortThenSystem,
       {{"000/D002", 0, "#"}, {"000/D002", kHeaderInD002 - 1, "#"}, {"001/BIOS", 0, "#"}},
       d002 + bios,
       "put back: 2, unchanged: 9, ignored: 0\n"}};
  const std::string output = scratch_.file("new.d88");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    bool inPlace;
    bool writes;
  };
  const std::string sameFile = (folder() / ".." / "disk.d88").string();
  const Case cases[] = {{"in place", {}, true, true},
                        {"-o naming the file another way", {"-o", sameFile}, true, true},
                        {"-o relative to the working folder", {"-o", "new.d88"}, false, true},
                        {"-n", {"-n"}, true, false},
                        {"-n -o", {"-o", output, "-n"}, false, false}};
  for (const Image& image : images) {
    const Bytes expected = image.build(image.edits);
    for (const Case& c : cases) {
      const std::string what = std::string(image.what) + ", " + c.what;
      prepare(image.build({}));
      for (const Edit& e : image.edits) {
        edit(e);
      }
      const Tree edited = d88test::snapshot(folder());
      const auto result = put(c.args);
      EXPECT_EQ(result.status, 0) << what;
      EXPECT_EQ(result.err, "") << what;
      EXPECT_EQ(result.out, text(image.lines + (c.writes ? "" : "dry run: ") + image.summary))
          << what;
      EXPECT_EQ(fs::exists(output), !c.inPlace && c.writes) << what;
      if (!c.writes || !c.inPlace) {
        expectUntouched(what);
      }
      if (!c.writes) {
        continue;
      }
      const std::string written = c.inPlace ? d88() : output;
      EXPECT_EQ(differences(d88test::readAll(written), expected), std::vector<std::size_t>{})
          << what;
      // Extracted again, every file reads as the folder holds it.
      fs::remove_all(folder());
      fs::create_directories(folder());
      EXPECT_EQ(d88test::runIn(folder(), kExtract, {written, "-a"}, scratch_.path()).status, 0);
      EXPECT_EQ(d88test::snapshot(folder()), edited) << what;
      expectNoTemporary(what);
    }
  }
}

// The report line of a file at its address in a layout.
std::string reportLine(const d88test::FixedTableFile& file, int disk, bool moved) {
  char line[96];
  std::snprintf(line, sizeof line,
                "%-6s  disk: %03d  trk: %02X  sec: %02X  ofs: %02X  size: %04X%s\n",
                file.name.c_str(), disk, static_cast<unsigned>(file.address / 4096),
                static_cast<unsigned>(file.address % 4096 / 256 + 1),
                static_cast<unsigned>(file.address % 256), static_cast<unsigned>(file.size),
                moved ? "  moved" : "");
  return line;
}

TEST_F(PutTest, SizeChangesMoveTheFilesAfterThem) {
  struct Case {
    const char* what;
    std::vector<Edit> edits;
    TableSizes after;
  };
  const auto sizes = [](std::vector<std::int32_t> system1, std::vector<std::int32_t> system2,
                        std::vector<std::int32_t> data1, std::vector<std::int32_t> data2) {
    return TableSizes{std::move(system1), std::move(system2), std::move(data1), std::move(data2)};
  };
  const TableSizes was;
  const Case cases[] = {
      {"grow into blank bytes",
       {{"000/S001", 300, std::string(300, '#')}},
       sizes({600, 1}, was.system2, was.data1, was.data2)},
      // Up to the last byte before DRIVER's first sector.
      {"grow to the end of the room",
       {{"000/S002", 1, std::string(13292, '#')}},
       sizes({300, 13293}, was.system2, was.data1, was.data2)},
      {"shrink", {{"000/S101", -10, ""}}, sizes(was.system1, {50, 73}, was.data1, was.data2)},
      {"grow and shrink, the total unchanged",
       {{"000/S101", 60, "#####"}, {"000/S102", -5, ""}},
       sizes(was.system1, {65, 68}, was.data1, was.data2)},
      {"both tables at once",
       {{"000/S001", 300, std::string(300, '#')}, {"000/S102", 73, "%"}},
       sizes({600, 1}, {60, 74}, was.data1, was.data2)},
      {"data disk: grow, moving D002 across tracks",
       {{"001/D001", 700, std::string(256, '#')}},
       sizes(was.system1, was.system2, {956, 5000}, was.data2)},
      // The freed bytes take the blank value found after the table: E5.
      {"data disk: shrink into E5 bytes",
       {{"001/D101", -100, ""}},
       sizes(was.system1, was.system2, was.data1, {300, 4106})},
      {"data disk: grow into E5 bytes, the last file",
       {{"001/D102", 4106, std::string(900, '#')}},
       sizes(was.system1, was.system2, was.data1, {400, 5006})},
      {"one disk shrinks, the other grows",
       {{"000/S001", -299, ""}, {"001/D002", 0, "#"}, {"001/D002", 5000, "##"}},
       sizes({1, 1}, was.system2, {700, 5002}, was.data2)},
  };
  for (const Case& c : cases) {
    for (const bool dryRun : {false, true}) {
      const std::string what = std::string(c.what) + (dryRun ? ", -n" : "");
      prepare(editedImage(sizedLayouts({}), {}));
      for (const Edit& e : c.edits) {
        edit(e);
      }
      const Tree edited = d88test::snapshot(folder());
      // The lines: the changed files, and every later file of their tables.
      const std::vector<FixedTableLayout> after = sizedLayouts(c.after);
      std::string lines;
      int putBack = 0;
      int moved = 0;
      int files = 0;
      for (std::size_t disk = 0; disk < after.size(); ++disk) {
        bool moving[2] = {false, false};
        for (const auto& file : after[disk].files) {
          ++files;
          const bool table = file.name != "BIOS" && file.name != "DRIVER";
          const int second = table && file.name[1] == '1' ? 1 : 0;
          const bool changed = std::any_of(c.edits.begin(), c.edits.end(), [&](const Edit& e) {
            return e.file == (disk == 0 ? "000/" : "001/") + file.name;
          });
          if (table && (changed || moving[second])) {
            moving[second] = true;
            lines += reportLine(file, static_cast<int>(disk), !changed);
            ++(changed ? putBack : moved);
          }
        }
      }
      const auto result = put(dryRun ? std::vector<std::string>{"--resize", "-n"}
                                     : std::vector<std::string>{"--resize"});
      EXPECT_EQ(result.status, 0) << what;
      EXPECT_EQ(result.err, "") << what;
      EXPECT_EQ(result.out,
                text(lines + (dryRun ? "dry run: " : "") + "put back: " + std::to_string(putBack) +
                     ", moved: " + std::to_string(moved) +
                     ", unchanged: " + std::to_string(files - putBack - moved) + ", ignored: 0\n"))
          << what;
      if (dryRun) {
        expectUntouched(what);
        continue;
      }
      EXPECT_EQ(differences(d88test::readAll(d88()), editedImage(after, c.edits)),
                std::vector<std::size_t>{})
          << what;
      // d88info lists the new places.
      const auto info = d88test::runIn(scratch_.path(), kInfo, {d88()}, scratch_.path());
      for (std::size_t disk = 0; disk < after.size(); ++disk) {
        for (const auto& file : after[disk].files) {
          std::string line = reportLine(file, static_cast<int>(disk), false);
          line.erase(line.find("disk: "), 11);
          line.pop_back();
          EXPECT_NE(info.out.find(line), std::string::npos) << what << ": " << line;
        }
      }
      // Extracted again, every file reads as the folder holds it.
      fs::remove_all(folder());
      fs::create_directories(folder());
      EXPECT_EQ(d88test::runIn(folder(), kExtract, {d88(), "-a"}, scratch_.path()).status, 0);
      EXPECT_EQ(d88test::snapshot(folder()), edited) << what;
    }
  }
}

// Each file's place and size as d88info lists them: "trk: 42  sec: 03  ofs: 00
// size: 0190", by disk and name.
std::map<std::string, std::string> placesListed(const std::string& listing) {
  std::map<std::string, std::string> places;
  std::string disk;
  std::size_t at = 0;
  while (at < listing.size()) {
    std::size_t end = listing.find('\n', at);
    end = end == std::string::npos ? listing.size() : end;
    std::string line = listing.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.rfind("disk ", 0) == 0) {
      disk = line.substr(5, line.find(':') - 5);
      disk.insert(0, 3 - std::min<std::size_t>(disk.size(), 3), '0');
    } else if (const std::size_t place = line.find("trk: ");
               place != std::string::npos && line.rfind("  ", 0) == 0 &&
               line.find("table:") == std::string::npos) {
      const std::string name = line.substr(2, line.find(' ', 2) - 2);
      places[disk + "/" + name] = line.substr(place, line.find("size: ") + 10 - place);
    }
  }
  return places;
}

TEST_F(PutTest, OnlyFilesWhosePlaceChangedAreReportedMoved) {
  // The data disk's second table: D101 to D106 laid end to end.
  TableSizes sizes;
  sizes.data2 = {40, 50, 60, 70, 80, 90};
  struct Change {
    const char* file;
    std::int32_t by;  // bytes added, or removed when negative
  };
  struct Case {
    const char* what;
    std::vector<Change> changes;
  };
  const Case cases[] = {
      {"grow one, shrink a later one as much: only the files between move",
       {{"D101", 16}, {"D103", -16}}},
      {"grow one, shrink the next as much: nothing moves", {{"D101", 16}, {"D102", -16}}},
      {"three changes that cancel after the second", {{"D102", -10}, {"D104", 10}, {"D106", 5}}},
      {"two shrinks that cancel a growth", {{"D101", 20}, {"D103", -10}, {"D105", -10}}},
      {"one growth: a run of five files moves", {{"D101", 16}}},
      {"a run of two, then two files back in place", {{"D101", 16}, {"D104", -16}}},
      {"the last file cancels nothing after it", {{"D105", 7}, {"D106", -7}}},
  };
  for (const Case& c : cases) {
    prepare(editedImage(sizedLayouts(sizes), {}));
    const auto before = d88test::runIn(scratch_.path(), kInfo, {d88()}, scratch_.path());
    ASSERT_EQ(before.status, 0) << c.what;
    std::set<std::string> changed;
    for (const Change& change : c.changes) {
      const std::string file = std::string("001/") + change.file;
      changed.insert(file);
      const auto size = static_cast<std::int32_t>(fs::file_size(folder() / file));
      edit(change.by < 0 ? Edit{file, change.by, ""}
                         : Edit{file, size, std::string(static_cast<std::size_t>(change.by), '+')});
    }
    const auto result = put({"--resize"});
    ASSERT_EQ(result.status, 0) << c.what << "\n" << result.err;
    const auto after = d88test::runIn(scratch_.path(), kInfo, {d88()}, scratch_.path());
    // The lines d88put must give: the files put back, and the files whose
    // place d88info lists differently than before, at their new places.
    const std::map<std::string, std::string> was = placesListed(before.out);
    const std::map<std::string, std::string> is = placesListed(after.out);
    ASSERT_EQ(was.size(), is.size()) << c.what;
    std::string lines;
    int moved = 0;
    for (const auto& [file, place] : is) {
      const std::string wasAt = was.at(file).substr(0, was.at(file).find("  size"));
      const bool put = changed.count(file) != 0;
      if (put || place.rfind(wasAt, 0) != 0) {
        char name[8];
        std::snprintf(name, sizeof name, "%-6s", file.substr(file.find('/') + 1).c_str());
        lines += std::string(name) + "  disk: " + file.substr(0, file.find('/')) + "  " + place +
                 (put ? "\n" : "  moved\n");
        moved += put ? 0 : 1;
      }
    }
    EXPECT_EQ(result.out,
              text(lines + "put back: " + std::to_string(changed.size()) +
                   ", moved: " + std::to_string(moved) + ", unchanged: " +
                   std::to_string(is.size() - changed.size() - moved) + ", ignored: 0\n"))
        << c.what;
  }
}

TEST_F(PutTest, UnchangedFolderLeavesTheFileAlone) {
  struct Case {
    const char* what;
    Bytes image;
    int files;
  };
  const Case cases[] = {{"system and data disk", twoDisks(), 14},
                        // D002's zero-filled tail is what -a writes.
                        {"broken chain", brokenLayout().build(), 4},
                        {"shared bytes", sharingLayout().build(), 5}};
  for (const Case& c : cases) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-n"}}) {
      prepare(c.image);
      const auto result = put(args);
      EXPECT_EQ(result.status, 0) << c.what;
      EXPECT_EQ(result.err, "") << c.what;
      EXPECT_EQ(result.out, text((args.empty() ? "" : "dry run: ") + std::string("put back: 0") +
                                 ", unchanged: " + std::to_string(c.files) + ", ignored: 0\n"))
          << c.what;
      expectUntouched(c.what);
    }
  }
  // With -o the copy is written all the same.
  const auto result = put({"-o", scratch_.file("copy.d88")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(d88test::readAll(scratch_.file("copy.d88")), before_.bytes);
  expectUntouched("-o");
}

TEST_F(PutTest, FilesSharingBytesGoBackOnlyWhenBothReadBackAsPut) {
  // D002 is X..X+99, D004 is X+50..X+299; D001 ends at X-1, sharing nothing.
  // Nested: D004 (X+50..X+99) lies inside D002 (X..X+199), in one sector.
  enum { kOne, kThenData, kNested };
  const std::vector<FixedTableLayout> layouts[] = {
      {sharingLayout()}, {sharingLayout(), dataLayout()}, {sharingLayout(200, 50, 100)}};
  struct Case {
    std::vector<Edit> edits;
    std::string err;  // empty: put back
    int layout = kOne;
  };
  const Case cases[] = {
      // D004 is read from disk 0 after disk 1's files were compared.
      {{{"000/D002", 49, "#"}}, "", kThenData},
      // D001 lies on the table track: every file is read side by side.
      {{{"000/D002", 50, "#"}, {"000/D001", 0, "#"}},
       "error: 000/D004 would change: it shares bytes with 000/D002\n"},
      // D004's put splits D002's span; D002's byte 150 lies in the tail.
      {{{"000/D002", 50, "#"}, {"000/D002", 150, "#"}, {"000/D004", 0, "#"}}, "", kNested},
      {{{"000/D002", 50, "#"}, {"000/D002", 150, "#"}, {"000/D004", 0, "%"}},
       "error: 000/D002 would not read back as put: it shares bytes with 000/D004\n",
       kNested},
      {{{"000/D002", 49, "#"}}, ""},
      {{{"000/D002", 50, "#"}}, "error: 000/D004 would change: it shares bytes with 000/D002\n"},
      {{{"000/D004", 50, "#"}}, ""},
      {{{"000/D004", 49, "#"}}, "error: 000/D002 would change: it shares bytes with 000/D004\n"},
      {{{"000/D002", 99, "#"}, {"000/D004", 49, "#"}}, ""},
      {{{"000/D002", 99, "#"}, {"000/D004", 49, "%"}, {"000/D001", 0, "#"}},
       "error: 000/D002 would not read back as put: it shares bytes with 000/D004\n"}};
  for (const Case& c : cases) {
    const std::string what = c.edits[0].file + " " + std::to_string(c.edits[0].offset) + " +" +
                             std::to_string(c.edits.size() - 1);
    prepare(editedImage(layouts[c.layout], {}));
    for (const Edit& e : c.edits) {
      edit(e);
    }
    const auto result = put({});
    EXPECT_EQ(result.status, c.err.empty() ? 0 : 1) << what;
    EXPECT_EQ(result.err, text(c.err)) << what;
    if (c.err.empty()) {
      EXPECT_EQ(differences(d88test::readAll(d88()), editedImage(layouts[c.layout], c.edits)),
                std::vector<std::size_t>{})
          << what;
    } else {
      EXPECT_EQ(result.out, "") << what;
      expectUntouched(what);
    }
  }
}

// ---------------------------------------------------------------------------
// Refusals: nothing is written, not even the changes that were fine

TEST_F(PutTest, RefusalsWriteNothing) {
  enum { kTwo, kBroken, kBigTable, kCut, kHoles, kTwice, kShortTable, kUnrecognised };
  const Bytes images[] = {
      twoDisks(), d88test::concat({systemLayout().build(), brokenLayout().build()}),
      d88test::concat({bigTableLayout().build(), dataLayout().build()}), cutShortThenSystem(),
      d88test::concat({systemLayout().build(), holesLayout().build()}),
      // The first table's 0x102 files run into the second table's numbers.
      d88test::concat({systemLayout().build(),
                       d88test::dataDisk(std::vector<std::int32_t>(0x101, 1), {400}).build()}),
      d88test::concat({systemLayout().build(), shortTableTrackLayout().build()}),
      d88test::concat({systemLayout().build(), unrecognisedDisk().build()})};
  const std::vector<std::string> resize{"--resize"};
  const std::string cannot = " cannot change size: ";
  const std::string header = "error: 000/D002 would change the header of disk 1\n";
  const std::string output = scratch_.file("new.d88");
  const std::string missing = scratch_.file("missing");
  const std::string plain = scratch_.file("plain");
  const std::string inMissing = (fs::path(missing) / "new.d88").string();
  const std::string inPlain = (fs::path(plain) / "new.d88").string();
  const std::string broken =
      "error: 001/D002 cannot be changed: its chain breaks at track 0A sector 02\n";
  struct Case {
    int image;
    std::vector<Edit> edits;  // besides one of BIOS that is fine
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {kTwo,
       {{"001/D001", 700, "#"}, {"001/D100", -1, ""}, {"001/D101", 399, "##"}},
       {},
       "error: 001/D001 is 701 bytes, the disk's file 700: files cannot change size (--resize "
       "lets later files move)\n"
       "error: 001/D100 is 91 bytes, the disk's file 92: files cannot change size\n"
       "error: 001/D101 is 401 bytes, the disk's file 400: files cannot change size (--resize "
       "lets later files move)\n"},
      // Cut short after its edit: its missing bytes are nowhere to be had.
      {kTwo,
       {{"000/BIOS", -1, ""}},
       {},
       "error: 000/BIOS is 9471 bytes, the disk's file 9472: files cannot change size\n"},
      {kBroken, {{"001/D002", 0, "#"}}, {}, broken},     // in the sector read
      {kBroken, {{"001/D002", 1899, "#"}}, {}, broken},  // in the zero-filled tail
      // S000's first bytes hold the last entries of the table.
      {kBigTable,
       {{"000/S000", 0, "#"}},
       {},
       "error: disk 0 would change its kind or its list of files (putting back 000/BIOS, "
       "000/S000)\n"},
      // Disk 1's name, its size field (which the scan reads), its last track offset.
      {kCut, {{"000/D002", kHeaderInD002, "#"}}, {}, header},
      {kCut, {{"000/D002", kHeaderInD002 + 0x1C, "#"}}, {}, header},
      {kCut, {{"000/D002", kLastFileSize - 1, "#"}}, {}, header},
      {kCut,
       {{"000/D002", kHeaderInD002, "#"}},
       {"--disk", "0"},
       "error: D002 would change the header of disk 1\n"},
      {kTwo, {}, {"--disk", "2"}, "error: the file has no disk 2\n"},
      // With --resize: one byte more than the room after the table.
      {kTwo,
       {{"000/S002", 1, std::string(13293, '#')}},
       resize,
       "error: 000/S002 grows the first table by 0x33ED bytes, but track 10 sector 01 holds "
       "bytes of DRIVER\n"},
      {kTwo,
       {{"001/D002", 5000, std::string(261908, '#')}},
       resize,
       "error: 001/D002 grows the first table by 0x3FF14 bytes, but track 42 sector 01 holds "
       "bytes of the second table's entries\n"},
      {kHoles,
       {{"001/D002", 5000, std::string(276, '#')}},
       resize,
       "error: 001/D002 grows the first table by 0x114 bytes, but track 02 sector 03 is not "
       "blank\n"},
      {kHoles,
       {{"001/D102", 4106, std::string(3175, '#')}},
       resize,
       "error: 001/D102 grows the second table by 0xC67 bytes, but track 44 has no sector 01\n"},
      {kTwo,
       {{"000/S000", 0x943, "#"}, {"001/D100", -1, ""}, {"001/D101", 400, "#"}},
       resize,
       "error: 000/S000" + cannot +
           "where the next file starts is part of what recognises the disk\n"
           "error: 001/D100" +
           cannot + "where the next file starts is part of what recognises the disk\n"},
      {kTwo,
       {{"000/DRIVER", -1, ""}},
       resize,
       "error: 000/DRIVER" + cannot + "BIOS and DRIVER have fixed sizes\n"},
      // A damaged table is not re-laid: D002's chain breaks after one sector.
      {kBroken,
       {{"001/D001", -1, ""}},
       resize,
       "error: 001/D001" + cannot + "D002 is not laid end to end: track 0A has no sector 02\n"},
      {kUnrecognised,
       {{"001/_001", 500, "#"}},
       resize,
       "error: 001/_001" + cannot +
           "the disk is not recognised, and its tables mix what both probes read\n"},
      {kShortTable,
       {{"001/D101", 400, "#"}},
       resize,
       "error: 001/D101" + cannot + "the second table's track 42 does not read all 4096 bytes\n"},
      // D102 starts at offset 0x90 of its sector; d88extract skips what
      // reaches past 327,680 bytes with its offset.
      {kTwo,
       {{"001/D102", 327680, "#"}},
       resize,
       "error: 001/D102 is 327681 bytes: no file of a table reaches past 327680 bytes\n"},
      {kTwo,
       {{"001/D102", 327680 - 0x90, "#"}},
       resize,
       "error: 001/D102" + cannot + "D102 would reach past 327680 bytes, its offset included\n"},
      {kTwice,
       {{"001/D101", 400, "#"}},
       resize,
       "error: 001/D101" + cannot + "two table files are named D101\n"},
      {kTwo,
       {},
       {"-o", inMissing},
       "error: cannot write " + inMissing + ": no folder " + missing + "\n"},
      {kTwo,
       {},
       {"-o", inPlain},
       "error: cannot write " + inPlain + ": no folder " + plain + "\n"}};
  // -n gives the message and status of the real run.
  for (const Case& c : cases) {
    for (const char* dryRun : {"", "-n"}) {
      prepare(images[c.image]);
      ASSERT_TRUE(d88test::writeFile(plain, Bytes{1}));
      edit({c.image == kCut ? "001/BIOS" : "000/BIOS", 0, "#"});
      for (const Edit& e : c.edits) {
        edit(e);
      }
      const bool oneDisk = c.args.size() == 2 && c.args[0] == "--disk" && c.args[1] == "0";
      std::vector<std::string> args{d88(), (oneDisk ? folder() / "000" : folder()).string()};
      args.insert(args.end(), c.args.begin(), c.args.end());
      if (*dryRun != '\0') {
        args.push_back(dryRun);
      }
      const auto result = runPut(args);
      EXPECT_EQ(result.status, 1) << c.err << dryRun;
      EXPECT_EQ(result.out, "") << c.err << dryRun;
      EXPECT_EQ(result.err, text(c.err)) << dryRun;
      EXPECT_FALSE(fs::exists(output)) << c.err << dryRun;
      expectUntouched(c.err);
      expectNoTemporary(c.err);
    }
  }
}

// With --resize, a re-laid table that would change another file is refused
// by name: the file put back, and the entry and the file it lies in, or the
// file of 0 bytes that would vanish or appear (d88extract skips one at
// offset 0 of its sector).
TEST_F(PutTest, SizeChangesThatWouldChangeOtherFilesAreRefusedByName) {
  // S101 starts at offset 0x77 of its sector: 137 bytes end the sector.
  const auto zeroAfterS101 = [](std::int32_t s101, std::int32_t s102) {
    return d88test::systemDisk({300, 1}, {s101, s102, 73}).build();
  };
  struct Case {
    Bytes image;
    std::vector<Edit> edits;
    std::string err;  // empty: put back
  };
  const std::string skips = ": d88extract skips a file of 0 bytes there\n";
  const Case cases[] = {
      {d88test::concat({bigTableLayout().build(), dataLayout().build()}),
       {{"000/S005", 1, "#"}},
       "error: 000/S005 cannot change size: the first table's entry of S08C would be rewritten, "
       "and it lies in bytes of S000\n"},
      // S006 takes the byte back: the entries from S007's on stay as they are.
      {d88test::concat({bigTableLayout().build(), dataLayout().build()}),
       {{"000/S005", 1, "#"}, {"000/S006", -1, ""}},
       ""},
      {zeroAfterS101(137, 0),
       {{"000/S101", 137, "#"}},
       "error: 000/S101 cannot change size: S102, of 0 bytes, would move off offset 0 of its "
       "sector and appear" +
           skips},
      {zeroAfterS101(137, 5),
       {{"000/S102", -5, ""}},
       "error: 000/S102 cannot change size: S102 would be of 0 bytes at offset 0 of its sector "
       "and vanish" +
           skips},
  };
  for (const Case& c : cases) {
    for (const char* dryRun : {"", "-n"}) {
      const std::string what = c.edits[0].file + " +" + std::to_string(c.edits.size() - 1) + dryRun;
      prepare(c.image);
      for (const Edit& e : c.edits) {
        edit(e);
      }
      const Tree edited = d88test::snapshot(folder());
      std::vector<std::string> args{"--resize"};
      if (*dryRun != '\0') {
        args.push_back(dryRun);
      }
      const auto result = put(args);
      EXPECT_EQ(result.status, c.err.empty() ? 0 : 1) << what;
      EXPECT_EQ(result.err, text(c.err)) << what;
      if (!c.err.empty() || *dryRun != '\0') {
        expectUntouched(what);
        continue;
      }
      // Extracted again, every file reads as the folder holds it.
      fs::remove_all(folder());
      fs::create_directories(folder());
      EXPECT_EQ(d88test::runIn(folder(), kExtract, {d88(), "-a"}, scratch_.path()).status, 0);
      EXPECT_EQ(d88test::snapshot(folder()), edited) << what;
    }
  }
}

TEST_F(PutTest, MissingFolderAndUnopenableFileAreErrors) {
  prepare(systemLayout().build());
  auto result = runPut({d88(), scratch_.file("nothing")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, text("error: cannot read folder " + scratch_.file("nothing") + "\n"));
  for (const std::string& path : {scratch_.file("missing.d88"), folder().string()}) {
    result = runPut({path, folder().string()});
    EXPECT_EQ(result.status, 1) << path;
    EXPECT_EQ(result.out, "") << path;
    EXPECT_EQ(result.err, text(kOpenError)) << path;
  }
  expectUntouched("");
}

TEST_F(PutTest, UsageHelpAndVersion) {
  prepare(systemLayout().build());
  edit({"000/BIOS", 0, "#"});  // that no usage error may put back
  // D: the D88 file, F: the folder, E: an empty argument.
  // Each with the line CLI11 gives, before the usage.
  const std::pair<std::string, std::string> usageErrors[] = {
      {"", "d88file is required"},
      {"D", "folder is required"},
      {"D F F", "The following argument was not expected: F"},
      {"D F -x", "The following argument was not expected: -x"},
      {"D F -o", "-o: 1 required output missing"},
      {"D F -o E", "-o: an empty output name"},
      {"D F -o a -o b", "-o: At Most 1 required but received 2"},
      {"D F --disk", "--disk: 1 required N:0 to 63 missing"},
      {"D F --disk 64", "--disk: not a number from 0 to 63: 64"},
      {"D F --disk -1", "--disk: not a number from 0 to 63: -1"},
      {"D F --disk 1x", "--disk: not a number from 0 to 63: 1x"},
      {"D F --disk 0x1", "--disk: not a number from 0 to 63: 0x1"},
      {"D F --disk 0 --disk 0", "--disk: At Most 1 required but received 2"},
      {"D F -- -n", "The following arguments were not expected: -n --"},
  };
  for (const auto& [wrong, why] : usageErrors) {
    std::vector<std::string> args;
    std::istringstream words(wrong);
    for (std::string word; words >> word;) {
      args.push_back(word == "D"   ? d88()
                     : word == "F" ? folder().string()
                     : word == "E" ? ""
                                   : word);
    }
    const auto result = runPut(args);
    EXPECT_EQ(result.status, 1) << wrong;
    EXPECT_EQ(result.out, "") << wrong;
    // The third name is the folder's.
    const std::string named =
        wrong == "D F F" ? std::string(why, 0, why.size() - 1) + folder().string() : why;
    EXPECT_EQ(result.err, text("error: " + named + "\nUsage: " + kPut + kUsage)) << wrong;
  }
  auto result = runPut({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, text("Usage: " + kPut + kUsage));
  result = runPut({"--version"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(std::regex_match(result.out, std::regex("d88put [0-9]+\\.[0-9]+\\.[0-9]+\r?\n")))
      << result.out;
  expectUntouched("");
  // After "--" every argument is a name, one that starts with '-' too.
  fs::copy_file(d88(), scratch_.file("-n"));
  result = runPut({"-n", "--", "-n", folder().string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            text(std::string("BIOS    disk: 000  trk: 05  sec: 01  ofs: 00  size: 2500\n") +
                 "dry run: put back: 1, unchanged: 7, ignored: 0\n"));
}

TEST_F(PutTest, ReportThatCannotBeWrittenIsAFailure) {
  // The report is what scripts read; the replacement, once made, stands.
  const std::string run = d88test::quoted(kPut) + " " + d88test::quoted(d88()) + " " +
                          d88test::quoted(folder().string());
  struct Case {
    std::string command;
    std::string why;
    std::string after;  // what the command adds to standard error
  };
  std::vector<Case> cases;
#ifndef _WIN32
  cases.push_back(
      {"{ RUN >/dev/full; echo \"status $?\" >&2; }", "No space left on device", "status 1\n"});
  // The reader is gone before the report is written: no death by SIGPIPE.
  cases.push_back(
      {"{ { sleep 0.3; RUN; echo \"status $?\" >&2; } | true; }", "Broken pipe", "status 1\n"});
#endif
  for (const Case& c : cases) {
    for (const bool dryRun : {false, true}) {
      prepare(twoDisks());
      edit({"000/BIOS", 0, "#"});
      std::string line = c.command;
      line.replace(line.find("RUN"), 3, run + (dryRun ? " -n" : ""));
      const auto result = d88test::runShell(scratch_.path(), line, scratch_.path());
      EXPECT_EQ(result.err, "error: cannot write the report: " + c.why +
                                (dryRun ? "" : " (" + d88() + " was written all the same)") + "\n" +
                                c.after)
          << line;
      EXPECT_EQ(d88test::readAll(d88()), dryRun ? before_.bytes : twoDisks({{"000/BIOS", 0, "#"}}))
          << line;
    }
  }
}

// ---------------------------------------------------------------------------
// What is looked at

TEST_F(PutTest, UnknownNamesAndFoldersAreIgnored) {
  prepare(twoDisks());
  // In the order of their lines: the top folder's, then each disk's, by name.
  struct Entry {
    const char* path;
    char kind;  // 'd' a folder, 'f' a file, 'p' a FIFO, 'l' a symbolic link to `target`
    const char* target;
    const char* line;  // null: none
  };
  const Entry entries[] = {
      {"002", 'd', "", "ignored: folder 002: no such disk in the file"},
      {"003", 'f', "", "ignored: 003: a file, not a folder"},
      {"004", 'l', "nowhere", "ignored: 004: a symbolic link to nothing"},
      {"1", 'd', "", "ignored: folder 1: no such disk in the file"},
      {"notes", 'd', "", "ignored: folder notes: no such disk in the file"},
      {"pipe", 'p', "", "ignored: pipe: a FIFO, not a folder"},
      {"top.txt", 'f', "", nullptr},
      {"000/README.txt", 'f', "", "ignored: 000/README.txt: no file of that name on disk 0"},
      // Neither opened nor read: a FIFO or /dev/zero would block or never end.
      {"000/pipe", 'p', "", "ignored: 000/pipe: a FIFO, not a file"},
      {"000/sub", 'd', "", "ignored: 000/sub: a folder, not a file"},
      {"001/D001", 'l', "/dev/zero", "ignored: 001/D001: a symbolic link to a device, not a file"},
      {"001/D101", 'l', "nowhere", "ignored: 001/D101: a symbolic link to nothing"},
      {"001/S000", 'f', "", "ignored: 001/S000: no file of that name on disk 1"}};
  std::string err;
  int ignored = 0;
  int unchanged = 13;
  for (const Entry& e : entries) {
    const fs::path path = folder() / e.path;
#ifdef _WIN32
    if (e.kind == 'p' || e.kind == 'l') {
      continue;
    }
#else
    if (e.kind == 'p') {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << e.path;
    }
#endif
    if (e.kind == 'd') {
      fs::create_directories(path);
    } else if (e.kind == 'f') {
      ASSERT_TRUE(d88test::writeFile(path.string(), Bytes{1}));
    } else if (e.kind == 'l') {
      unchanged -= fs::remove(path) ? 1 : 0;  // a file of the disk is one no longer
      fs::create_symlink(e.target, path);
    }
    if (e.line != nullptr) {
      err += e.line + std::string("\n");
      ++ignored;
    }
  }
#ifndef _WIN32
  // A link to a file is followed.
  fs::rename(folder() / "001/D100", scratch_.path() / "D100");
  fs::create_symlink(scratch_.path() / "D100", folder() / "001/D100");
#endif
  edit({"001/D100", 0, "#"});
  const auto result = put({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, text(err));
  EXPECT_EQ(result.out,
            text("D100    disk: 001  trk: 42  sec: 02  ofs: A4  size: 005C\n"
                 "put back: 1, unchanged: " +
                 std::to_string(unchanged) + ", ignored: " + std::to_string(ignored) + "\n"));
  EXPECT_EQ(differences(d88test::readAll(d88()), twoDisks({{"001/D100", 0, "#"}})),
            std::vector<std::size_t>{});
}

TEST_F(PutTest, DiskOptionTakesOneDisksFiles) {
  // The folder of disk N holds what d88extract -d writes for a file of that disk alone.
  struct Case {
    std::string folder;  // in the -a folder
    std::string disk;
    std::vector<Edit> edits;
    std::string err;
    std::string out;
  };
  std::string dataNames;
  for (const char* name : {"D000", "D001", "D002", "D100", "D101", "D102"}) {
    dataNames += "ignored: " + std::string(name) + ": no file of that name on disk 0\n";
  }
  const Case cases[] = {
      {"000",
       "0",
       {{"000/S001", 0x20, "#"}, {"000/NOTES", 0, "#"}},
       "ignored: NOTES: no file of that name on disk 0\n",
       "S001    disk: 000  trk: 0C  sec: 0B  ofs: E7  size: 012C\n"
       "put back: 1, unchanged: 7, ignored: 1\n"},
      {"001",
       "1",
       {{"001/D002", 0, "#"}},
       "",
       "D002    disk: 001  trk: 00  sec: 0E  ofs: 65  size: 1388\n"
       "put back: 1, unchanged: 5, ignored: 0\n"},
      {"001", "0", {{"001/D002", 0, "#"}}, dataNames, "put back: 0, unchanged: 0, ignored: 6\n"},
      // The -a folder itself: its disk folders are no files of disk 0.
      {"",
       "0",
       {{"000/BIOS", 0, "#"}},
       "ignored: 000: a folder, not a file\nignored: 001: a folder, not a file\n",
       "put back: 0, unchanged: 0, ignored: 2\n"}};
  for (const Case& c : cases) {
    const std::string what = c.folder + " as disk " + c.disk;
    prepare(twoDisks());
    for (const Edit& e : c.edits) {
      edit(e);
    }
    // No trailing separator: before a closing quote, Windows reads it as an escape.
    const fs::path given = c.folder.empty() ? folder() : folder() / c.folder;
    const auto result = runPut({d88(), given.string(), "--disk", c.disk});
    EXPECT_EQ(result.status, 0) << what;
    EXPECT_EQ(result.err, text(c.err)) << what;
    EXPECT_EQ(result.out, text(c.out)) << what;
    if (c.out.rfind("put back: 0", 0) == 0) {
      expectUntouched(what);
    } else {
      EXPECT_EQ(differences(d88test::readAll(d88()), twoDisks(c.edits)), std::vector<std::size_t>{})
          << what;
    }
  }
}

// ---------------------------------------------------------------------------
// Replacing the D88 file

#ifndef _WIN32
TEST_F(PutTest, InPlaceReplacesTheFileTheNameLeadsTo) {
  const Bytes expected = twoDisks({{"000/BIOS", 0, "#"}});
  const std::string hard = scratch_.file("hard.d88");
  const std::string output = scratch_.file("new.d88");
  const std::string split =
      "error: cannot replace " + d88() + ": it has 2 hard links, which replacing it would split ";
  const bool root = geteuid() == 0;
  struct Case {
    std::string setup;
    std::vector<std::string> args;
    std::string err;  // empty: replaced, keeping its owner, group and mode
    unsigned mode;
    bool unprivileged;  // run as a user who is not root
  };
  std::vector<Case> cases{
      {"symbolic link", {}, "", 0640, false},
      {"hard link", {}, split + "(give -o OUTPUT)\n", 0640, false},
      {"hard link",
       {"-o", hard},
       split + "(-o " + hard + " is the same file; give -o another file)\n",
       0640,
       false},
      {"read-only",
       {},
       "error: cannot replace " + d88() + ": you may not write it (give -o OUTPUT)\n",
       0444,
       true},
      // The mode is set after the last write, which would clear the setuid bits.
      {"setuid", {}, "", 06750, true}};
  if (root) {  // a user's file replaced by root stays the user's
    cases.push_back({"another owner", {}, "", 0600, false});
  }
  for (const Case& c : cases) {
    prepare(twoDisks());
    edit({"000/BIOS", 0, "#"});
    const fs::path real = c.setup == "symbolic link" ? scratch_.file("real.d88") : d88();
    if (c.setup == "symbolic link") {
      fs::rename(d88(), real);
      fs::create_symlink(real, d88());
    } else if (c.setup == "hard link") {
      fs::create_hard_link(d88(), hard);
    } else if (c.setup == "another owner") {
      ASSERT_EQ(chown(real.c_str(), 12345, 12345), 0);
    }
    const std::string program = c.unprivileged ? unprivileged() : d88test::quoted(kPut);
    ASSERT_EQ(chmod(real.c_str(), c.mode), 0);
    struct stat owner {};
    ASSERT_EQ(stat(real.c_str(), &owner), 0);
    const FileState state = stateOf(real);
    const auto result =
        d88test::runShell(scratch_.path(),
                          program + " " + d88test::quoted(d88()) + " " +
                              d88test::quoted(folder().string()) + arguments(c.args),
                          scratch_.path());
    EXPECT_EQ(result.status, c.err.empty() ? 0 : 1) << c.setup;
    EXPECT_EQ(result.err, text(c.err)) << c.setup;
    expectNoTemporary(c.setup);
    if (c.err.empty()) {
      struct stat after {};
      ASSERT_EQ(stat(real.c_str(), &after), 0);
      EXPECT_EQ(d88test::readAll(real), expected) << c.setup;
      EXPECT_TRUE(c.setup != "symbolic link" || fs::is_symlink(d88())) << c.setup;
      EXPECT_EQ(after.st_mode & 07777, c.mode) << c.setup;
      EXPECT_EQ(after.st_uid, owner.st_uid) << c.setup;
      EXPECT_EQ(after.st_gid, owner.st_gid) << c.setup;
      continue;
    }
    EXPECT_TRUE(same(stateOf(real), state)) << c.setup;
    // Written elsewhere, it is fine.
    EXPECT_EQ(put({"-o", output}).status, 0) << c.setup;
    EXPECT_EQ(d88test::readAll(output), expected) << c.setup;
  }
  // An existing output keeps its owner and mode; a new one is the caller's,
  // with the D88 file's mode.
  for (const bool existing : {true, false}) {
    prepare(twoDisks());
    ASSERT_EQ(chmod(d88().c_str(), 0604), 0);
    if (existing) {
      ASSERT_TRUE(d88test::writeFile(output, Bytes{1}));
      ASSERT_EQ(chmod(output.c_str(), 0660), 0);
      ASSERT_TRUE(!root || chown(output.c_str(), 23456, 23456) == 0);
    }
    ASSERT_EQ(put({"-o", output}).status, 0) << existing;
    struct stat after {};
    ASSERT_EQ(stat(output.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, existing ? 0660u : 0604u) << existing;
    EXPECT_EQ(after.st_uid, existing && root ? 23456u : geteuid()) << existing;
  }
}
#endif

TEST_F(PutTest, FailedWriteLeavesEverythingAsItWas) {
  prepare(twoDisks());
  const std::string temporary = fs::canonical(d88()).string() + ".d88put-tmp";
  const std::string output = scratch_.file("new.d88");
  const std::string aFolder = scratch_.file("folder.d88");
  const std::string other = scratch_.file("other");
  struct Case {
    std::string what;
    std::string prefix;  // for the shell: a limit, a lock or a fault
    std::vector<std::string> args;
    std::optional<std::string> err;  // none: only the shell's word for a signal
    int status;
    bool beforeWriting;  // refused before the first write, so -n says the same
  };
  const std::string noFile = ": it names a folder, not a file\n";
  std::vector<Case> cases{{"-o naming a folder",
                           "",
                           {"-o", aFolder},
                           "error: cannot write " + aFolder + noFile,
                           1,
                           true},
                          {"-o ending in a separator",
                           "",
                           {"-o", other + "/"},
                           "error: cannot write " + other + "/" + noFile,
                           1,
                           true}};
#ifndef _WIN32
  // Another run is writing the temporary file, and holds its lock.
  cases.push_back({"temporary file being written",
                   "flock " + d88test::quoted(temporary) + " ",
                   {},
                   "error: cannot create " + temporary + ": another d88put is writing it\n",
                   1,
                   true});
  const std::string limit = "trap '' XFSZ; ulimit -f 64; ";
  cases.push_back({"file size limit, in place",
                   limit,
                   {},
                   "error: cannot write " + temporary + ": File too large\n",
                   1,
                   false});
  cases.push_back({"file size limit, -o",
                   limit,
                   {"-o", output},
                   "error: cannot write " + output + ".d88put-tmp: File too large\n",
                   1,
                   false});
#endif
#ifdef D88_FAULT_SHIM
  cases.push_back({"fsync fails",
                   fault("eio"),
                   {},
                   "error: cannot write " + temporary + ": Input/output error\n",
                   1,
                   false});
  // Each ends the run with its own status, the temporary file removed.
  for (const auto& [name, number] : kEndingSignals) {
    cases.push_back(
        {std::string("SIG") + name, fault(name), {}, std::nullopt, 128 + number, false});
  }
#endif
  for (const Case& c : cases) {
    for (const bool dryRun : {false, true}) {
      if (dryRun && !c.beforeWriting) {
        continue;
      }
      const std::string what = c.what + (dryRun ? " -n" : "");
      prepare(twoDisks());
      fs::create_directories(aFolder);
      ASSERT_TRUE(d88test::writeFile(other, Bytes{7}));
      const bool locked = c.prefix.rfind("flock", 0) == 0;
      if (locked) {
        ASSERT_TRUE(d88test::writeFile(temporary, Bytes{7}));
      }
      edit({"000/BIOS", 0, "#"});
      std::vector<std::string> args = c.args;
      if (dryRun) {
        args.push_back("-n");
      }
      const auto result =
          d88test::runShell(scratch_.path(),
                            c.prefix + d88test::quoted(kPut) + " " + d88test::quoted(d88()) + " " +
                                d88test::quoted(folder().string()) + arguments(args),
                            scratch_.path());
      EXPECT_EQ(result.status, c.status) << what;
      EXPECT_EQ(result.out, "") << what;
      EXPECT_TRUE(!c.err || result.err == text(*c.err)) << what << ": " << result.err;
      EXPECT_FALSE(fs::exists(output)) << what;
      EXPECT_TRUE(fs::is_directory(aFolder)) << what;
      EXPECT_EQ(d88test::readAll(other), Bytes{7}) << what;
      expectUntouched(what);
      if (locked) {  // not this run's to remove
        EXPECT_EQ(d88test::readAll(temporary), Bytes{7}) << what;
        fs::remove(temporary);
      }
      expectNoTemporary(what);
    }
  }
}

TEST_F(PutTest, LeftoverTemporaryFileIsRemoved) {
  // Left by a run that was killed: nothing else writes it while the D88 file
  // is held, and it is removed without being opened for writing.
  const std::string other = scratch_.file("other");
  std::vector<std::string> kinds{"file"};
#ifndef _WIN32
  kinds.push_back("link");
  kinds.push_back("fifo");
#endif
  for (const std::string& kind : kinds) {
    for (const bool dryRun : {false, true}) {
      prepare(twoDisks());
      const std::string temporary = fs::canonical(d88()).string() + ".d88put-tmp";
      ASSERT_TRUE(d88test::writeFile(other, Bytes{7}));
      if (kind == "file") {
        ASSERT_TRUE(d88test::writeFile(temporary, Bytes{7}));
      } else if (kind == "link") {
        fs::create_symlink(other, temporary);
      } else {
        ASSERT_EQ(std::system(("mkfifo " + d88test::quoted(temporary)).c_str()), 0);
      }
      edit({"000/BIOS", 0, "#"});
      const auto result = put(dryRun ? std::vector<std::string>{"-n"} : std::vector<std::string>{});
      EXPECT_EQ(result.status, 0) << kind;
      EXPECT_EQ(result.err,
                dryRun ? "" : text("removed " + temporary + ", left by a run that was killed\n"))
          << kind;
      EXPECT_EQ(d88test::readAll(other), Bytes{7}) << kind;
      EXPECT_EQ(fs::exists(fs::symlink_status(temporary)), dryRun) << kind;
      if (!dryRun) {
        EXPECT_EQ(d88test::readAll(d88()), twoDisks({{"000/BIOS", 0, "#"}})) << kind;
      }
    }
  }
}

#ifdef D88_FAULT_SHIM
TEST_F(PutTest, RunsAtOnceAndChangesMeanwhile) {
  // The first run pauses once its temporary file is written; meanwhile
  // another run starts, or another program changes the D88 file.
  const std::string pause = scratch_.file("pause");
  const std::string busy = "error: " + d88() + " is being changed by another d88put or d88mount\n";
  const std::string changed = "error: " + d88() + " changed while d88put ran; nothing written\n";
  const std::string run = d88test::quoted(kPut) + " " + d88test::quoted(d88()) + " " +
                          d88test::quoted(folder().string());
  const Bytes edited = twoDisks({{"000/BIOS", 0, "#"}});
  Bytes overwritten = twoDisks();
  overwritten[100] = '%';
  struct Case {
    std::string what;
    std::string meanwhile;  // shell commands
    std::string out;        // theirs
    std::string err;        // the first run's
    Bytes after;            // the D88 file
  };
  const Case cases[] = {
      {"a second run", run + " 2>&1; echo $?", busy + "1\n", "", edited},
      {"a second run, -n", run + " -n 2>&1; echo $?", busy + "1\n", "", edited},
      {"a byte changed",
       "printf %% | dd of=" + d88test::quoted(d88()) + " bs=1 seek=100 conv=notrunc 2>/dev/null",
       "", changed, overwritten},
      {"replaced by a rename", "cp -p disk.d88 copy.d88 && mv copy.d88 disk.d88", "", changed,
       twoDisks()}};
  for (const Case& c : cases) {
    prepare(twoDisks());
    edit({"000/BIOS", 0, "#"});
    const auto result = d88test::runShell(
        scratch_.path(),
        "{ (" + fault("pause:" + pause) + run +
            " >first.out 2>first.err; echo $? >first.status) & " + "while [ ! -e " +
            d88test::quoted(pause + ".ready") + " ]; do sleep 0.01; done; " + c.meanwhile +
            "; touch " + d88test::quoted(pause + ".go") + "; wait; }",
        scratch_.path());
    EXPECT_EQ(result.out, c.out) << c.what;
    const std::string status = c.err.empty() ? "0\n" : "1\n";
    EXPECT_EQ(d88test::readAll(scratch_.file("first.status")), Bytes(status.begin(), status.end()))
        << c.what;
    EXPECT_EQ(d88test::readAll(scratch_.file("first.err")), Bytes(c.err.begin(), c.err.end()))
        << c.what;
    EXPECT_EQ(d88test::readAll(d88()), c.after) << c.what;
    expectNoTemporary(c.what);
  }
}
#endif

TEST_F(PutTest, NameWrittenTwiceGoesBackToTheFileWrittenLast) {
  // The first table's 0x102 files run into the second table's numbers.
  const FixedTableLayout data = d88test::dataDisk(std::vector<std::int32_t>(0x101, 1), {400});
  prepare(data.build());
  edit({"000/D100", 0, "#"});
  const auto result = put({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, text("D100    disk: 000  trk: 42  sec: 02  ofs: A4  size: 005C\n"
                             "put back: 1, unchanged: 257, ignored: 0\n"));
  EXPECT_EQ(differences(d88test::readAll(d88()), editedImage({data}, {{"000/D100", 0, "#"}})),
            std::vector<std::size_t>{});
}

TEST_F(PutTest, NamesOutsideAsciiReachTheFiles) {
  // ディスク.d88 and its folder フォルダ; 新.d88; 無い, a folder that is not there
  const std::string disk = "\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF.d88";
  const std::string files = "\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80";
  const std::string output = "\xE6\x96\xB0.d88";
  const std::string missing = "\xE7\x84\xA1\xE3\x81\x84";
  prepare(twoDisks());
  edit({"000/BIOS", 0, "#"});
  fs::rename(d88(), scratch_.path() / fs::u8path(disk));
  fs::rename(folder(), scratch_.path() / fs::u8path(files));
  auto result = runPut({disk, files, "-o", missing + "/" + output});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, text("error: cannot write " + missing + "/" + output + ": no folder " +
                             missing + "\n"));
  const std::string line = "BIOS    disk: 000  trk: 05  sec: 01  ofs: 00  size: 2500\n";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-o", output}, {}}) {
    std::vector<std::string> all{disk, files};
    all.insert(all.end(), args.begin(), args.end());
    result = runPut(all);
    EXPECT_EQ(result.status, 0) << args.size();
    EXPECT_EQ(result.out, text(line + "put back: 1, unchanged: 13, ignored: 0\n")) << args.size();
    EXPECT_EQ(d88test::readAll(scratch_.path() / fs::u8path(args.empty() ? disk : output)),
              twoDisks({{"000/BIOS", 0, "#"}}))
        << args.size();
  }
}

// ---------------------------------------------------------------------------
// Guards of the replacement: changes made meanwhile, the header's last byte,
// the temporary file's name and mode

#ifdef D88_FAULT_SHIM
// The shell prefix that makes d88put wait as it creates its temporary file,
// once every edit is checked and before the copy reads them again, until
// PATH.go exists (fault_shim.cpp).
std::string pausedAtCreation(const std::string& path) {
  return "ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 D88_TEST_CREATE=pause:" + path +
         " LD_PRELOAD=" + d88test::quoted(D88_FAULT_SHIM) + " ";
}

// A shell command line that starts `run` in the background, waits until it
// has created PATH.ready, runs `meanwhile`, lets it go on and waits for its
// end; its output goes to first.out and first.err, its status to
// first.status.
std::string meanwhileLine(const std::string& run, const std::string& pause,
                          const std::string& meanwhile) {
  return "{ (" + run + " >first.out 2>first.err; echo $? >first.status) & while [ ! -e " +
         d88test::quoted(pause + ".ready") + " ]; do sleep 0.01; done; " + meanwhile + "; touch " +
         d88test::quoted(pause + ".go") + "; wait; }";
}

// An edit that changes after the check (other bytes of the same size, or cut
// short) is not what was checked: the run says so and writes nothing.
TEST_F(PutTest, EditChangedAfterTheCheckIsNotWritten) {
  const std::string pause = scratch_.file("pause");
  const std::string output = scratch_.file("new.d88");
  struct Case {
    std::string what;
    std::string meanwhile;
    std::vector<std::string> args;
  };
  const std::string bios = d88test::quoted((folder() / "000" / "BIOS").string());
  const std::string d002 = d88test::quoted((folder() / "001" / "D002").string());
  const std::string overwrite = "printf %% | dd bs=1 seek=1 conv=notrunc 2>/dev/null of=";
  const std::string otherBytes = overwrite + bios + " && " + overwrite + d002;
  const std::string cutShort = "truncate -s -1 " + bios + " " + d002;
  const Case cases[] = {{"other bytes", otherBytes, {}},
                        {"other bytes, -o", otherBytes, {"-o", output}},
                        {"cut short", cutShort, {}}};
  for (const Case& c : cases) {
    prepare(twoDisks());
    edit({"000/BIOS", 0, "#"});
    edit({"001/D002", 0, "#"});
    const std::string run = pausedAtCreation(pause) + d88test::quoted(kPut) + " " +
                            d88test::quoted(d88()) + " " + d88test::quoted(folder().string()) +
                            arguments(c.args);
    const auto result =
        d88test::runShell(scratch_.path(), meanwhileLine(run, pause, c.meanwhile), scratch_.path());
    EXPECT_EQ(result.out, "") << c.what;
    EXPECT_EQ(d88test::readAll(scratch_.file("first.status")), (Bytes{'1', '\n'})) << c.what;
    EXPECT_EQ(d88test::readAll(scratch_.file("first.out")), Bytes{}) << c.what;
    // Which edit it names depends on which one the copy reads again first.
    const Bytes err = d88test::readAll(scratch_.file("first.err"));
    const std::string said(err.begin(), err.end());
    EXPECT_TRUE(said == "error: 000/BIOS changed while d88put ran; nothing written\n" ||
                said == "error: 001/D002 changed while d88put ran; nothing written\n")
        << c.what << ": " << said;
    expectUntouched(c.what);
    EXPECT_FALSE(fs::exists(output)) << c.what;
    expectNoTemporary(c.what);
  }
}

// Another program rewrites the D88 file in place while d88put runs, giving
// it back its size and its modification time (cp -p, rsync -t, touch -r):
// only the inode's change time tells, and the change is kept.
TEST_F(PutTest, RewriteInPlaceKeepingTheTimesIsNoticed) {
  const std::string pause = scratch_.file("pause");
  const std::string changed = "error: " + d88() + " changed while d88put ran; nothing written\n";
  Bytes overwritten = twoDisks();
  overwritten[100] = '%';
  const std::string byte = "printf %% | dd bs=1 seek=100 conv=notrunc 2>/dev/null of=";
  struct Case {
    std::string what;
    std::string setup;
    std::string change;  // the same file rewritten, its times given back
  };
  const Case cases[] = {
      {"touch -r", "touch -r disk.d88 stamp", byte + "disk.d88 && touch -r stamp disk.d88"},
      {"cp -p", "cp -p disk.d88 copy.d88 && " + byte + "copy.d88 && touch -r disk.d88 copy.d88",
       "cp -p copy.d88 disk.d88"}};
  for (const Case& c : cases) {
    prepare(twoDisks());
    edit({"000/BIOS", 0, "#"});
    const std::string run = fault("pause:" + pause) + d88test::quoted(kPut) + " " +
                            d88test::quoted(d88()) + " " + d88test::quoted(folder().string());
    // Done again until the change time differs from the one d88put read,
    // which the file system keeps in steps of a clock tick.
    const std::string meanwhile =
        c.setup + " && " + c.change +
        " && until [ \"$(stat -c %z disk.d88)\" != \"$(cat ctime)\" ]; do " + c.change + "; done";
    const auto result = d88test::runShell(
        scratch_.path(), "stat -c %z disk.d88 >ctime && " + meanwhileLine(run, pause, meanwhile),
        scratch_.path());
    EXPECT_EQ(result.status, 0) << c.what;
    EXPECT_EQ(result.out, "") << c.what;
    // The same file, size and modification time: the change time alone differs.
    const FileState after = stateOf(d88());
    EXPECT_EQ(after.inode, before_.inode) << c.what;
    EXPECT_TRUE(after.time == before_.time) << c.what;
    EXPECT_EQ(d88test::readAll(scratch_.file("first.status")), (Bytes{'1', '\n'})) << c.what;
    EXPECT_EQ(d88test::readAll(scratch_.file("first.err")), Bytes(changed.begin(), changed.end()))
        << c.what;
    EXPECT_EQ(after.bytes, overwritten) << c.what;
    expectNoTemporary(c.what);
  }
}

// A symbolic link made at the temporary file's name after the check for a
// leftover one is not written through: the run stops, the file the link
// leads to and the D88 file as they were.
TEST_F(PutTest, LinkMadeAtTheTemporaryNameIsNotWrittenThrough) {
  const std::string pause = scratch_.file("pause");
  const std::string output = scratch_.file("new.d88");
  const std::string other = scratch_.file("other");
  for (const bool toOutput : {false, true}) {
    prepare(twoDisks());
    edit({"000/BIOS", 0, "#"});
    ASSERT_TRUE(d88test::writeFile(other, Bytes{7}));
    const std::string temporary =
        (toOutput ? output : fs::canonical(d88()).string()) + ".d88put-tmp";
    const std::string run = pausedAtCreation(pause) + d88test::quoted(kPut) + " " +
                            d88test::quoted(d88()) + " " + d88test::quoted(folder().string()) +
                            (toOutput ? " -o " + d88test::quoted(output) : "");
    const auto result = d88test::runShell(
        scratch_.path(),
        meanwhileLine(run, pause,
                      "ln -s " + d88test::quoted(other) + " " + d88test::quoted(temporary)),
        scratch_.path());
    EXPECT_EQ(result.out, "") << toOutput;
    const std::string err = "error: cannot create " + temporary + ": File exists\n";
    EXPECT_EQ(d88test::readAll(scratch_.file("first.status")), (Bytes{'1', '\n'})) << toOutput;
    EXPECT_EQ(d88test::readAll(scratch_.file("first.err")), Bytes(err.begin(), err.end()))
        << toOutput;
    EXPECT_EQ(d88test::readAll(other), Bytes{7}) << toOutput;
    expectUntouched(toOutput ? "-o" : "in place");
    EXPECT_FALSE(fs::exists(output)) << toOutput;
    // The link is not this run's to remove.
    EXPECT_TRUE(fs::is_symlink(temporary)) << toOutput;
    fs::remove(temporary);
  }
}
#endif

// A disk whose track 2 lies inside its own header, at offset 0x1A0: the
// record header of its one sector is the track table's entries for tracks
// 96 to 99 (which are then no part of the disk), the sector's data the
// entries for tracks 100 to 163, the header's last 256 bytes. D002 is that
// sector from offset `d002Start` to its end, so that its byte N is the
// header's byte 0x1B0 + d002Start + N.
Bytes headerTrackDisk(std::int32_t d002Start) {
  FixedTableLayout data = d88test::dataDisk({}, {});
  const std::int32_t start = address(2, 1, 0);
  data.disk.table(
      0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, start + d002Start, start + 256});
  d88test::Disk disk = data.disk.disk();
  disk.trackOffset(2, 0x1A0)
      .trackOffset(96, 0x01010001)  // C 01, H 00, R 01, N 01
      .trackOffset(97, 1)           // one record, double density, no marks
      .trackOffset(98, 0)
      .trackOffset(99, 0x01000000);  // 256 bytes of data
  return disk.build();
}

// Every byte of a disk header is refused, the last one (the high byte of
// track 163's offset) too, from a file that reaches it or that is that byte
// alone, on the first disk and on a later one.
TEST_F(PutTest, PutOnTheHeaderIsRefusedToItsLastByte) {
  struct Case {
    bool second;  // the disk follows a system disk
    std::int32_t d002Start;
    std::int32_t offset;  // of the byte changed, in D002
  };
  const Case cases[] = {{false, 0, 0}, {false, 0, 255}, {false, 255, 0},
                        {true, 0, 0},  {true, 0, 255},  {true, 255, 0}};
  for (const Case& c : cases) {
    const std::string file = c.second ? "001/D002" : "000/D002";
    const std::string what =
        file + " from " + std::to_string(c.d002Start) + ", byte " + std::to_string(c.offset);
    const Bytes disk = headerTrackDisk(c.d002Start);
    for (const char* dryRun : {"", "-n"}) {
      prepare(c.second ? d88test::concat({systemLayout().build(), disk}) : disk);
      edit({file, c.offset, "#"});
      const auto result =
          put(*dryRun == '\0' ? std::vector<std::string>{} : std::vector<std::string>{dryRun});
      EXPECT_EQ(result.status, 1) << what << dryRun;
      EXPECT_EQ(result.out, "") << what << dryRun;
      EXPECT_EQ(result.err, text("error: " + file + " would change the header of disk " +
                                 (c.second ? "1" : "0") + "\n"))
          << what << dryRun;
      expectUntouched(what);
    }
  }
}

#ifndef _WIN32
// A new -o file takes the mode of the D88 file a symbolic link leads to,
// not the link's own (which reads as 0777).
TEST_F(PutTest, NewOutputTakesTheModeOfTheFileBehindALink) {
  const std::string output = scratch_.file("new.d88");
  const std::string real = scratch_.file("real.d88");
  for (const unsigned mode : {0604u, 0640u}) {
    prepare(twoDisks());
    edit({"000/BIOS", 0, "#"});
    fs::rename(d88(), real);
    fs::create_symlink(real, d88());
    ASSERT_EQ(chmod(real.c_str(), mode), 0);
    const auto result = put({"-o", output});
    EXPECT_EQ(result.status, 0) << mode;
    EXPECT_EQ(d88test::readAll(output), twoDisks({{"000/BIOS", 0, "#"}})) << mode;
    struct stat after {};
    ASSERT_EQ(stat(output.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, mode) << mode;
  }
}
#endif

#ifdef D88_FAULT_SHIM
// ---------------------------------------------------------------------------
// Signals around the rename, the moment the run commits

TEST_F(PutTest, SignalAfterTheRenameEndsTheRunAfterItsReport) {
  // d88put pauses at a flush, a signal is sent, then the flush goes on: the
  // temporary file's, before the rename, or the folder's, after it. The wait
  // for the pause is bounded, so that a run that never gets there fails.
  const std::string pause = scratch_.file("pause");
  const Bytes edited = twoDisks({{"000/BIOS", 0, "#"}});
  const std::string line = "BIOS    disk: 000  trk: 05  sec: 01  ofs: 00  size: 2500\n";
  const std::string report = line + "put back: 1, unchanged: 13, ignored: 0\n";
  const std::string resized = line + "put back: 1, moved: 0, unchanged: 13, ignored: 0\n";
  struct Case {
    std::string what;
    std::string prefix;  // for the shell
    bool afterRename;
    std::vector<std::string> args;
    std::string out;
    std::string replaced;  // the line's start, "" for none
    bool ends;             // the signal ends the run
  };
  const std::string inPlace = "d88put: disk.d88 was replaced";
  for (const auto& [name, number] : kEndingSignals) {
    const std::string signal = std::string("SIG") + name;
    const Case cases[] = {
        {"before the rename", "", false, {}, "", "", true},
        {"after the rename", "", true, {}, report, inPlace, true},
        {"after the rename, --resize", "", true, {"--resize"}, resized, inPlace, true},
        {"after the rename, -o",
         "",
         true,
         {"-o", "new.d88"},
         report,
         "d88put: new.d88 was written",
         true},
        // nohup: an ignored signal stays ignored.
        {"after the rename, ignored",
         std::string("trap '' ") + name + "; ",
         true,
         {},
         report,
         "",
         false}};
    for (const Case& c : cases) {
      const std::string what = signal + " " + c.what;
      prepare(twoDisks());
      edit({"000/BIOS", 0, "#"});
      const bool toOutput = !c.args.empty() && c.args[0] == "-o";
      (void)d88test::runShell(
          scratch_.path(),
          "{ " + c.prefix +
              "{ i=0; while [ ! -e pause.ready ] && [ $i -lt 2000 ]; do sleep 0.01; i=$((i+1)); "
              "done; kill -s " +
              name + " $(cat pause.ready); touch pause.go; } & (" +
              fault((c.afterRename ? "folder:pause:" : "pause:") + pause) + d88test::quoted(kPut) +
              " disk.d88 files" + arguments(c.args) +
              " >put.out 2>put.err); echo $? >status; wait; }",
          scratch_.path());
      // d88put's own streams: the shell's words for a signal go to its own.
      const auto written = [&](const char* name) {
        const Bytes bytes = d88test::readAll(scratch_.file(name));
        return std::string(bytes.begin(), bytes.end());
      };
      EXPECT_EQ(written("status"), std::to_string(c.ends ? 128 + number : 0) + "\n") << what;
      EXPECT_EQ(written("put.out"), c.out) << what;
      EXPECT_EQ(written("put.err"),
                c.replaced.empty() ? "" : c.replaced + "; stopped by " + signal + " after that\n")
          << what;
      if (!c.afterRename || toOutput) {
        expectUntouched(what);
      }
      if (c.afterRename) {
        EXPECT_EQ(d88test::readAll(toOutput ? scratch_.file("new.d88") : d88()), edited) << what;
      }
      EXPECT_FALSE(!toOutput && fs::exists(scratch_.file("new.d88"))) << what;
      expectNoTemporary(what);
    }
  }
}
#endif

}  // namespace
