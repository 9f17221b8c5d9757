// End-to-end tests: the built d88extract runs in a fresh folder on images
// made with the builder; exit status, both output streams and the whole
// folder tree are compared byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
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
using d88test::FixedTableFile;
using d88test::FixedTableLayout;
using d88test::Tree;

using d88test::text;

// The Japanese texts as Shift_JIS bytes, written out independently of the tool.
// システムディスクを認識しました.
const std::string kSystemMessage =
    "\x83\x56\x83\x58\x83\x65\x83\x80\x83\x66\x83\x42\x83\x58\x83\x4E\x82\xF0\x94\x46\x8E\xAF"
    "\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";
// データディスクを認識しました.
const std::string kDataMessage =
    "\x83\x66\x81\x5B\x83\x5E\x83\x66\x83\x42\x83\x58\x83\x4E\x82\xF0\x94\x46\x8E\xAF\x82\xB5"
    "\x82\xDC\x82\xB5\x82\xBD.\n";
// ファイルをオープンできません
const std::string kOpenError =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1\n";

// The tool's absolute path, resolved against the folder the tests start in.
const std::string& toolPath() {
  static const std::string path = fs::absolute(D88EXTRACT_PATH).make_preferred().string();
  return path;
}

std::string reportLine(const FixedTableFile& file) {
  const int track = file.address / d88test::kFixedTableTrackSize;
  const int r = file.address % d88test::kFixedTableTrackSize / d88test::kFixedTableSectorSize + 1;
  const int offset = file.address % d88test::kFixedTableSectorSize;
  char line[128];
  std::snprintf(line, sizeof line, "%-6s  trk: %02X  sec: %02X  ofs: %02X  size: %04X\n",
                file.name.c_str(), track, r, offset, static_cast<unsigned>(file.size));
  return line;
}

bool isAlwaysWritten(const std::string& name) {
  return name == "BIOS" || name == "DRIVER" || (name >= "S117" && name <= "S11D");
}

// Standard system disk of the tests: files 0x101..0x11F in the second table.
FixedTableLayout standardSystem() {
  std::vector<std::int32_t> second;
  for (int i = 0; i < 31; ++i) {
    second.push_back(60 + 13 * i);
  }
  return d88test::systemDisk({300, 1}, second);
}

FixedTableLayout standardData() {
  return d88test::dataDisk({700, 5000}, {400, 4106});
}

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(input());
    fs::create_directories(work());
    fs::create_directories(capture());
  }
  fs::path input() const { return scratch_.path() / "in"; }
  fs::path work() const { return scratch_.path() / "run"; }
  fs::path capture() const { return scratch_.path() / "capture"; }

  std::string image(const Bytes& bytes, const std::string& name = "disk.d88") const {
    const std::string path = (input() / name).string();
    EXPECT_TRUE(d88test::writeFile(path, bytes));
    return path;
  }
  d88test::RunResult run(const std::vector<std::string>& args) const {
    return d88test::runIn(work(), toolPath(), args, capture());
  }

 public:
  Tree tree() const { return d88test::snapshot(work()); }

 protected:
  // Adds the expected files of a layout to a tree, in folder `prefix`.
  static void expectFiles(Tree& tree, const std::string& prefix, const FixedTableLayout& layout,
                          bool all) {
    if (!prefix.empty()) {
      tree[prefix] = std::nullopt;
    }
    for (const FixedTableFile& file : layout.files) {
      if (all || isAlwaysWritten(file.name)) {
        tree[prefix.empty() ? file.name : prefix + "/" + file.name] =
            layout.disk.contents(file.address, file.size);
      }
    }
  }
  // The report lines without -a, less the line of one file.
  static std::string linesWithout(const FixedTableLayout& layout, const std::string& name) {
    std::string lines = reportLines(layout, false);
    const std::size_t at = lines.find(name + " ");
    return lines.erase(at, lines.find('\n', at) + 1 - at);
  }
  static std::string reportLines(const FixedTableLayout& layout, bool all) {
    std::string out;
    for (const FixedTableFile& file : layout.files) {
      if (all || isAlwaysWritten(file.name)) {
        out += reportLine(file);
      }
    }
    return out;
  }

  d88test::ScratchDir scratch_;
};

// ---------------------------------------------------------------------------
// Whole runs on well-formed disks

TEST_F(ExtractTest, SystemDiskWritesItsFixedFilesAndSevenTableFiles) {
  const FixedTableLayout system = standardSystem();
  const auto result = run({image(system.build())});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, text(kSystemMessage + "BIOS    trk: 05  sec: 01  ofs: 00  size: 2500\n"
                                              "DRIVER  trk: 10  sec: 01  ofs: 00  size: 2823\n"
                                              "S117    trk: 22  sec: 0F  ofs: 5A  size: 015A\n"
                                              "S118    trk: 22  sec: 10  ofs: B4  size: 0167\n"
                                              "S119    trk: 23  sec: 02  ofs: 1B  size: 0174\n"
                                              "S11A    trk: 23  sec: 03  ofs: 8F  size: 0181\n"
                                              "S11B    trk: 23  sec: 05  ofs: 10  size: 018E\n"
                                              "S11C    trk: 23  sec: 06  ofs: 9E  size: 019B\n"
                                              "S11D    trk: 23  sec: 08  ofs: 39  size: 01A8\n"));
  Tree expected;
  expectFiles(expected, "000", system, false);
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractTest, ExtractAllWritesEveryTableFile) {
  struct Case {
    const char* what;
    FixedTableLayout layout;
    std::string message;
  };
  const Case cases[] = {{"system", standardSystem(), kSystemMessage},
                        {"data", standardData(), kDataMessage}};
  for (const Case& c : cases) {
    fs::remove_all(work());
    fs::create_directories(work());
    const auto result = run({image(c.layout.build()), "-a"});
    EXPECT_EQ(result.status, 0) << c.what;
    EXPECT_EQ(result.err, "") << c.what;
    EXPECT_EQ(result.out, text(c.message + reportLines(c.layout, true))) << c.what;
    Tree expected;
    expectFiles(expected, "000", c.layout, true);
    EXPECT_EQ(tree(), expected) << c.what;
  }
}

TEST_F(ExtractTest, DataDiskWithoutExtractAllPrintsOnlyItsMessage) {
  const auto result = run({image(standardData().build())});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, text(kDataMessage));
  EXPECT_EQ(tree(), (Tree{{"000", std::nullopt}}));
}

TEST_F(ExtractTest, UnrecognisedDiskIsSilentAndWalksTracks0And66WithExtractAll) {
  // Tables on the data tracks whose first entries are not the data values.
  d88test::FixedTableDisk disk;
  disk.put(address(1, 1, 0), d88test::textContents("X", 600));
  disk.table(0, {address(1, 1, 0), address(1, 1, 100), address(1, 3, 88)});
  const std::string path = image(disk.build());
  auto result = run({path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(tree(), (Tree{{"000", std::nullopt}}));
  result = run({path, "-a"});
  EXPECT_EQ(result.out, text("_000    trk: 01  sec: 01  ofs: 00  size: 0064\n"
                             "_001    trk: 01  sec: 01  ofs: 64  size: 01F4\n"));
  EXPECT_EQ(tree(), (Tree{{"000", std::nullopt},
                          {"000/_000", disk.contents(address(1, 1, 0), 100)},
                          {"000/_001", disk.contents(address(1, 1, 100), 500)}}));
}

TEST_F(ExtractTest, EachImageGetsItsOwnFolder) {
  const FixedTableLayout system = standardSystem();
  const FixedTableLayout data = standardData();
  // Nine images without tracks follow: nothing of the disks before them may
  // be recognised on them, and the eleventh folder is decimal "010".
  std::vector<Bytes> images{system.build(), data.build()};
  images.resize(11, d88test::Disk().build());
  const auto result = run({image(d88test::concat(images)), "-a"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, text(kSystemMessage + reportLines(system, true) + kDataMessage +
                             reportLines(data, true)));
  Tree expected;
  expectFiles(expected, "000", system, true);
  expectFiles(expected, "001", data, true);
  for (const char* empty : {"002", "003", "004", "005", "006", "007", "008", "009", "010"}) {
    expected[empty] = std::nullopt;
  }
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractTest, NoSubdirectoriesPutsEveryDiskInTheStartingFolder) {
  // Two system disks with different BIOS bytes: the second one's files win.
  FixedTableLayout first = standardSystem();
  FixedTableLayout second = standardSystem();
  second.disk.put(d88test::kBiosAddress, Bytes(16, 0x42));
  const auto result = run({image(d88test::concat({first.build(), second.build()})), "-d"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, text(kSystemMessage + reportLines(first, false) + kSystemMessage +
                             reportLines(second, false)));
  Tree expected;
  expectFiles(expected, "", second, false);
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractTest, OptionsInEitherOrderAndRepeatedBehaveAlike) {
  const FixedTableLayout data = standardData();
  const std::string path = image(data.build());
  struct Case {
    std::vector<std::string> args;
    bool all;
    std::string folder;  // where the files go: "" with -d
  };
  // Options are whole words: "-all" or "-dd" are other arguments, ignored.
  const Case cases[] = {{{path, "-a", "-d"}, true, ""},
                        {{path, "-d", "-a"}, true, ""},
                        {{path, "-d", "-x", "-a", "-a", "-D"}, true, ""},
                        {{path, "-d", "-all", "-ab", "-A"}, false, ""},
                        {{path, "-dd", "-a"}, true, "000"}};
  for (const Case& c : cases) {
    fs::remove_all(work());
    fs::create_directories(work());
    const auto result = run(c.args);
    EXPECT_EQ(result.status, 0) << c.args[2];
    EXPECT_EQ(result.out, text(kDataMessage + reportLines(data, c.all))) << c.args[2];
    Tree expected;
    expectFiles(expected, c.folder, data, c.all);
    EXPECT_EQ(tree(), expected) << c.args[2];
  }
}

TEST_F(ExtractTest, FirstArgumentIsAlwaysThePath) {
  const std::string path = image(standardData().build());
  auto result = run({"-a", path});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, text(kOpenError));
  EXPECT_EQ(tree(), Tree{});
  // ... and a file that is really named "-a" is opened.
  ASSERT_TRUE(d88test::writeFile((work() / "-a").string(), standardData().build()));
  result = run({"-a", path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, text(kDataMessage));
}

TEST_F(ExtractTest, RunningTwiceReusesFoldersAndOverwritesFiles) {
  const FixedTableLayout system = standardSystem();
  const std::string path = image(system.build());
  ASSERT_EQ(run({path}).status, 0);
  // A longer stale file must come back at the disk's size.
  ASSERT_TRUE(d88test::writeFile((work() / "000" / "S117").string(), Bytes(5000, 0x55)));
  const auto result = run({path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, text(kSystemMessage + reportLines(system, false)));
  Tree expected;
  expectFiles(expected, "000", system, false);
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractTest, UsageAndOpenErrors) {
  auto result = run({});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            text("Usage: " + toolPath() +
                 " [d88file] [-d] [-a]\n"
                 // "       -d : サブディレクトリを作成しない"
                 "       -d : \x83\x54\x83\x75\x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A"
                 "\x82\xF0\x8D\xEC\x90\xAC\x82\xB5\x82\xC8\x82\xA2\n"
                 // "       -a : 全てのファイルを切り出す"
                 "       -a : \x91\x53\x82\xC4\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0"
                 "\x90\xD8\x82\xE8\x8F\x6F\x82\xB7\n"));
  for (const std::string& path : {(input() / "missing.d88").string(), input().string()}) {
    result = run({path, "-a"});
    EXPECT_EQ(result.status, 1) << path;
    EXPECT_EQ(result.out, "") << path;
    EXPECT_EQ(result.err, text(kOpenError)) << path;
  }
  EXPECT_EQ(tree(), Tree{});
}

TEST_F(ExtractTest, FileWithoutCompleteHeaderCreatesNothing) {
  for (std::size_t size : {std::size_t{0}, std::size_t{687}}) {
    const auto result = run({image(Bytes(size, 0))});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(tree(), Tree{});
  }
}

// ---------------------------------------------------------------------------
// Damaged disks

TEST_F(ExtractTest, SystemValueInOnlyOneTableFallsToTheDataProbe) {
  FixedTableLayout data = standardData();
  // The system disk's first table, but not its second.
  data.disk.table(12, {d88test::kSystemFirstTable0, d88test::kSystemFirstTable1});
  const auto result = run({image(data.build())});
  EXPECT_EQ(result.out, text(kDataMessage));
}

TEST_F(ExtractTest, MissingFixedFileStillLeavesASystemDisk) {
  FixedTableLayout system = standardSystem();
  system.disk.drop(5);  // the first track of BIOS
  const auto result = run({image(system.build())});
  std::string lines = reportLines(system, false);
  lines.erase(0, lines.find('\n') + 1);  // no BIOS line
  EXPECT_EQ(result.out, text(kSystemMessage + lines));
  Tree expected;
  expectFiles(expected, "000", system, false);
  expected.erase("000/BIOS");
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractTest, DamagedSizesAreSkippedSilently) {
  // A data disk whose first table goes backwards, holds files of size 0 with
  // and without an offset, and files that end exactly at and one byte past
  // the 327,680-byte extraction buffer.
  FixedTableLayout data = standardData();
  const std::int32_t fullBuffer = address(67, 1, 0x10);  // offset 0x10 + size 0x4FFF0
  data.disk.put(fullBuffer, d88test::textContents("Z", 0x4FFF0));
  data.disk.table(
      0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, address(3, 1, 0),  // D001 ends here
          address(2, 1, 0),      // D002: negative size
          address(2, 1, 0),      // D003: size 0 at offset 0, reads nothing
          fullBuffer,            // D004: 0x41010 bytes
          fullBuffer,            // D005: size 0 at offset 0x10, an empty file
          address(147, 1, 0),    // D006: offset + size = the whole buffer
          address(227, 1, 1),    // D007: offset + size = the buffer + 1
          address(227, 1, 2)});  // D008: an absent track
  const auto result = run({image(data.build()), "-a"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  std::string second = reportLines(data, true);
  second.erase(0, second.find("D100"));
  EXPECT_EQ(result.out, text(kDataMessage +
                             "D000    trk: 00  sec: 02  ofs: A4  size: 0905\n"
                             "D001    trk: 00  sec: 0B  ofs: A9  size: 2557\n"
                             "D004    trk: 02  sec: 01  ofs: 00  size: 41010\n"
                             "D005    trk: 43  sec: 01  ofs: 10  size: 0000\n"
                             "D006    trk: 43  sec: 01  ofs: 10  size: 4FFF0\n" +
                             second));
  const Tree files = tree();
  EXPECT_EQ(files.count("000/D002") + files.count("000/D003") + files.count("000/D007") +
                files.count("000/D008"),
            0u);
  EXPECT_EQ(files.at("000/D005"), Bytes{});
  EXPECT_EQ(files.at("000/D006"), data.disk.contents(fullBuffer, 0x4FFF0));
}

TEST_F(ExtractTest, BrokenChainIsZeroFilledAndWarned) {
  // D001 fills the buffer with text; D002 breaks after its first sector, so
  // its tail must be zeros, not D001's bytes.
  FixedTableLayout data = d88test::dataDisk({2000}, {});
  const std::int32_t brokenStart = address(10, 1, 0x10);
  data.disk.put(brokenStart, d88test::textContents("B", 240));
  data.disk.table(
      0, {d88test::kDataFirstTable0, d88test::kDataFirstTable1, brokenStart, brokenStart + 1900});
  data.disk.replace(
      10, d88test::Track().sector(5, 0, 1, 1, data.disk.contents(address(10, 1, 0), 256)));
  const auto result = run({image(data.build()), "-a"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, text(kDataMessage + "D000    trk: 00  sec: 02  ofs: A4  size: 0905\n"
                                            "D001    trk: 00  sec: 0B  ofs: A9  size: 9567\n"
                                            "D002    trk: 0A  sec: 01  ofs: 10  size: 076C\n"
                                            "D100    trk: 42  sec: 02  ofs: A4  size: 005C\n"));
  EXPECT_EQ(result.err,
            text("warning: D002 incomplete: read 00F0 of 076C bytes, rest zero-filled\n"));
  Bytes expected = data.disk.contents(brokenStart, 240);
  expected.resize(1900, 0);
  EXPECT_EQ(tree().at("000/D002"), expected);
}

TEST_F(ExtractTest, UnwritableFileIsReportedAndTheRestGoesOn) {
  const FixedTableLayout system = standardSystem();
  // A folder named like an output file: the file cannot be created.
  fs::create_directories(work() / "000" / "S118");
  const auto result = run({image(system.build())});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, text("error: cannot write S118\n"));
  EXPECT_EQ(result.out, text(kSystemMessage + linesWithout(system, "S118")));
  Tree expected;
  expectFiles(expected, "000", system, false);
  expected["000/S118"] = std::nullopt;
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractTest, FileThatFailsMidWriteIsRemoved) {
  const FixedTableLayout system = standardSystem();
  // Created fine, then every write fails for want of space.
  fs::create_directories(work() / "000");
  std::error_code error;
  fs::create_symlink("/dev/full", work() / "000" / "S119", error);
  if (error || !fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full to link to here";
  }
  const auto result = run({image(system.build())});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, text("error: cannot write S119\n"));
  EXPECT_EQ(result.out, text(kSystemMessage + linesWithout(system, "S119")));
  // Still there, it would read as an endless file of zeros.
  ASSERT_FALSE(fs::is_symlink(work() / "000" / "S119"));
  Tree expected;
  expectFiles(expected, "000", system, false);
  expected.erase("000/S119");
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractTest, FolderThatCannotBeEnteredSkipsItsDisk) {
  const FixedTableLayout data = standardData();
  ASSERT_TRUE(d88test::writeFile((work() / "000").string(), Bytes{1, 2, 3}));
  const auto result = run({image(d88test::concat({data.build(), data.build()})), "-a"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, text("error: cannot enter directory 000\n"));
  EXPECT_EQ(result.out, text(kDataMessage + reportLines(data, true)));
  Tree expected{{"000", Bytes{1, 2, 3}}};
  expectFiles(expected, "001", data, true);
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractTest, FolderLinkedElsewhereDoesNotMoveLaterDisks) {
  const FixedTableLayout data = standardData();
  const fs::path elsewhere = scratch_.path() / "elsewhere" / "deep";
  fs::create_directories(elsewhere);
  std::error_code error;
  fs::create_directory_symlink(elsewhere, work() / "000", error);
  if (error) {
    GTEST_SKIP() << "no symbolic links here: " << error.message();
  }
  const auto result = run({image(d88test::concat({data.build(), data.build()})), "-a"});
  EXPECT_EQ(result.status, 0);
  Tree expected;
  expectFiles(expected, "001", data, true);
  Tree actual = tree();
  actual.erase("000");
  EXPECT_EQ(actual, expected);
  Tree linked;
  expectFiles(linked, "", data, true);
  EXPECT_EQ(d88test::snapshot(elsewhere), linked);
}

// ---------------------------------------------------------------------------
// The D88 file itself, and how it is given

TEST_F(ExtractTest, TheImageItselfIsNeverWritten) {
  const FixedTableLayout system = standardSystem();
  const Bytes bytes = system.build();
  struct Case {
    const char* what;
    std::string folder;   // where the disk's files go: "" with -d
    std::string refused;  // the output name that leads to the image
  };
  const Case cases[] = {{"image named like an output file, -d", "", "BIOS"},
                        {"image saved in the disk's folder", "000", "S117"},
                        {"symbolic link to the image", "000", "DRIVER"},
                        {"hard link to the image", "000", "DRIVER"}};
  for (const Case& c : cases) {
    fs::remove_all(work());
    fs::create_directories(work() / "000");
    const std::string at = c.folder.empty() ? c.refused : c.folder + "/" + c.refused;
    std::string path = image(bytes);
    std::vector<std::string> args{path};
    std::error_code error;
    if (c.what[0] == 's') {
      fs::create_symlink(path, work() / at, error);
    } else if (c.what[0] == 'h') {
      fs::create_hard_link(path, work() / at, error);
    } else {
      ASSERT_TRUE(d88test::writeFile((work() / at).string(), bytes));
      args = {at};
      if (c.folder.empty()) {
        args.push_back("-d");
      }
    }
    if (error) {
      continue;  // no links of this kind here
    }
    const auto result = run(args);
    EXPECT_EQ(result.status, 1) << c.what;
    EXPECT_EQ(result.err,
              text("error: cannot write " + c.refused + ": it is the D88 file being read\n"))
        << c.what;
    EXPECT_EQ(result.out, text(kSystemMessage + linesWithout(system, c.refused))) << c.what;
    Tree expected{{"000", std::nullopt}};
    expectFiles(expected, c.folder, system, false);
    expected[at] = bytes;
    EXPECT_EQ(tree(), expected) << c.what;
    EXPECT_EQ(d88test::readAll(path), bytes) << c.what;
  }
}

TEST_F(ExtractTest, JapaneseFileNameOpensAsAnAsciiOne) {
  const FixedTableLayout system = standardSystem();
  const std::string ascii = image(system.build());
  // "ゲーム.d88" in UTF-8; Windows gets it through the wide command line.
  const std::string japanese = "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0.d88";
  fs::copy_file(ascii, input() / fs::u8path(japanese));
  const auto expected = run({ascii, "-a"});
  const Tree expectedTree = tree();
  fs::remove_all(work());
  fs::create_directories(work());
  const auto result = run({input().string() + "/" + japanese, "-a"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, expected.out);
  EXPECT_EQ(tree(), expectedTree);
}

#ifndef _WIN32
TEST_F(ExtractTest, InputThatCannotBePositionedIsAnOpenError) {
  const FixedTableLayout data = standardData();
  const std::string path = d88test::quoted(image(data.build()));
  const std::string tool = d88test::quoted(toolPath());
  Tree extracted;
  expectFiles(extracted, "000", data, true);
  struct Case {
    std::string command;
    int status;
    std::string out;
    std::string err;
    Tree tree;
  };
  const Case cases[] = {
      {"cat " + path + " | " + tool + " /dev/stdin -a", 1, "", kOpenError, {}},
      {tool + " /dev/stdin -a <" + path, 0, kDataMessage + reportLines(data, true), "", extracted},
      // A device that can be positioned reads as one disk of nothing.
      {tool + " /dev/zero -a", 0, "", "", {{"000", std::nullopt}}}};
  for (const Case& c : cases) {
    fs::remove_all(work());
    fs::create_directories(work());
    const auto result = d88test::runShell(work(), c.command, capture());
    EXPECT_EQ(result.status, c.status) << c.command;
    EXPECT_EQ(result.out, c.out) << c.command;
    EXPECT_EQ(result.err, c.err) << c.command;
    EXPECT_EQ(tree(), c.tree) << c.command;
  }
}

// Leaves the folders made one level at a time, and removes them the same way.
class DeepFolder {
 public:
  DeepFolder(const fs::path& base, int levels) : start_(fs::current_path()) {
    if (chdir(base.c_str()) != 0) {
      return;
    }
    for (; depth_ < levels; ++depth_) {
      if (mkdir(kLevel.c_str(), 0755) != 0 || chdir(kLevel.c_str()) != 0) {
        return;
      }
    }
  }
  ~DeepFolder() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(".", ignored)) {
      fs::remove_all(entry.path().filename(), ignored);
    }
    for (; depth_ > 0; --depth_) {
      if (chdir("..") != 0 || rmdir(kLevel.c_str()) != 0) {
        break;
      }
    }
    fs::current_path(start_, ignored);
  }
  DeepFolder(const DeepFolder&) = delete;
  DeepFolder& operator=(const DeepFolder&) = delete;
  [[nodiscard]] int depth() const { return depth_; }

 private:
  inline static const std::string kLevel = std::string(200, 'd');
  fs::path start_;
  int depth_ = 0;
};

TEST_F(ExtractTest, DeepWorkingFolderReturnsAfterEveryDisk) {
  const FixedTableLayout data = standardData();
  const std::string path = image(d88test::concat({data.build(), data.build()}));
  // The tool's path is resolved against the folder the tests start in.
  const std::string command = d88test::quoted(toolPath()) + " " + d88test::quoted(path) + " -a >" +
                              d88test::quoted((capture() / "out").string()) + " 2>" +
                              d88test::quoted((capture() / "err").string());
  // 25 levels of 201 bytes: longer than any path the system takes.
  const DeepFolder deep(work(), 25);
  ASSERT_EQ(deep.depth(), 25);
  const int raw = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
  const Bytes out = d88test::readAll(capture() / "out");
  EXPECT_EQ(std::string(out.begin(), out.end()),
            kDataMessage + reportLines(data, true) + kDataMessage + reportLines(data, true));
  EXPECT_EQ(d88test::readAll(capture() / "err"), Bytes{});
  Tree expected;
  expectFiles(expected, "000", data, true);
  expectFiles(expected, "001", data, true);
  EXPECT_EQ(d88test::snapshot("."), expected);
}
#endif

// ---------------------------------------------------------------------------
// Hostile images

// Runs "-a" on a crafted disk and compares everything with what the tables
// describe; later files of the same name replace earlier ones.
void expectCraftedRun(ExtractTest& test, const d88test::CraftedLayout& crafted,
                      const d88test::RunResult& result) {
  std::string lines = kDataMessage;
  Tree expected{{"000", std::nullopt}};
  for (const FixedTableFile& file : crafted.files) {
    lines += reportLine(file);
    expected["000/" + file.name] = crafted.disk.contents(file.address, file.size);
  }
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, text(lines));
  EXPECT_EQ(test.tree(), expected);
}

TEST_F(ExtractTest, CraftedDiskGivesWhatItsTablesDescribe) {
  const d88test::CraftedLayout crafted = d88test::craftedDisk(3000);
  ASSERT_GT(crafted.files.size(), 600u);
  expectCraftedRun(*this, crafted, run({image(crafted.build()), "-a"}));
}

// Without an index each of the 13,000 lookups walks 31,000 records: this
// test then runs for many minutes and hits its time limit.
TEST_F(ExtractTest, CraftedMegabyteImageTakesSeconds) {
  const d88test::CraftedLayout crafted = d88test::craftedDisk(d88test::kCraftedJunkPerTrack);
  const Bytes file = crafted.build();
  ASSERT_GT(file.size(), 1000000u);
  const auto started = std::chrono::steady_clock::now();
  const auto result = run({image(file), "-a"});
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
  expectCraftedRun(*this, crafted, result);
  EXPECT_LT(seconds.count(), 20.0);
}

}  // namespace
