// A file's stamp: the same file through every name and handle that leads
// to it, another file not, and any change of its bytes seen.
#include "cli/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(FileStamp, TellsTheSameFileThroughEveryNameThatLeadsToIt) {
  const d88test::ScratchDir scratch;
  const fs::path file = scratch.write("disk.d88", d88test::Bytes(100, 0x41));
  const fs::path other = scratch.write("other.d88", d88test::Bytes(100, 0x41));
  fs::create_hard_link(file, scratch.path() / "hard.d88");
  fs::create_directory(scratch.path() / "sub");
  struct Case {
    const char* what;
    fs::path path;
    bool known;
    bool same;
  };
  std::vector<Case> cases = {
      {"the name itself", file, true, true},
      {"a hard link", scratch.path() / "hard.d88", true, true},
      {"a path through a folder and back", scratch.path() / "sub" / ".." / "disk.d88", true, true},
      {"another file with the same bytes", other, true, false},
      {"a folder", scratch.path() / "sub", true, false},
      {"no file", scratch.path() / "none.d88", false, false},
  };
#ifndef _WIN32
  fs::create_symlink(file, scratch.path() / "link.d88");
  cases.push_back({"a symbolic link", scratch.path() / "link.d88", true, true});
#endif
  const platform::FileStamp stamp = platform::stampOf(file);
  ASSERT_TRUE(stamp.known);
  EXPECT_EQ(stamp.size, 100u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const platform::FileStamp now = platform::stampOf(c.path);
    EXPECT_EQ(now.known, c.known);
    EXPECT_EQ(platform::sameFile(now, stamp), c.same);
    EXPECT_EQ(platform::sameStamp(now, stamp), c.same);
  }
  std::FILE* open = platform::openFile(file, "rb");
  ASSERT_NE(open, nullptr);
  EXPECT_TRUE(platform::sameStamp(platform::stampOf(open), stamp));
  std::fclose(open);
  EXPECT_FALSE(platform::stampOf(static_cast<std::FILE*>(nullptr)).known);
  EXPECT_FALSE(platform::sameFile(platform::FileStamp{}, platform::FileStamp{}));
}

TEST(FileStamp, ChangesWithTheFilesBytesButNotItsIdentity) {
  const d88test::ScratchDir scratch;
  const fs::path file = scratch.write("disk.d88", d88test::Bytes(100, 0x41));
  const platform::FileStamp before = platform::stampOf(file);
  // One byte more: the size tells, whatever the clock's resolution.
  std::FILE* out = platform::openFile(file, "ab");
  ASSERT_NE(out, nullptr);
  std::fputc(0x42, out);
  std::fclose(out);
  const platform::FileStamp after = platform::stampOf(file);
  EXPECT_TRUE(platform::sameFile(after, before));
  EXPECT_FALSE(platform::sameStamp(after, before));
  EXPECT_EQ(after.size, 101u);
  // Renamed over by another file: another identity under the same name.
  const fs::path other = scratch.write("other.d88", d88test::Bytes(101, 0x41));
  fs::rename(other, file);
  EXPECT_FALSE(platform::sameFile(platform::stampOf(file), after));
}

// The folder a file lies in, as the folder to write it in is found.
TEST(FolderOf, IsTheParentOrTheCurrentFolder) {
  struct Case {
    fs::path file;
    fs::path folder;
  };
  const Case cases[] = {
      {"disk.d88", "."},       {"./disk.d88", "."},   {"out/disk.d88", "out"},
      {"a/b/disk.d88", "a/b"}, {"../disk.d88", ".."}, {"/disk.d88", "/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::folderOf(c.file), c.folder) << c.file;
  }
}

}  // namespace
