#include "d88/buffered_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

// A file of `size` bytes, each the low byte of its position.
std::FILE* patternFile(std::int64_t size) {
  std::FILE* file = std::tmpfile();
  for (std::int64_t i = 0; i < size; ++i) {
    std::fputc(static_cast<int>(i & 0xFF), file);
  }
  std::fflush(file);
  return file;
}

// Walks of 272-byte records (a header and a 256-byte sector) forwards and
// backwards over a file: every byte arrives as the file holds it, and the
// host reads stay near one pass, including across the blocks' ends.
TEST(BufferedFile, RecordWalksReadTheFileAboutOnce) {
  constexpr std::int64_t kRecord = 272;
  constexpr std::int64_t kRecords = 400;
  constexpr std::int64_t kSize = kRecord * kRecords;
  struct Case {
    const char* name;
    bool backwards;
  };
  for (const Case& c : {Case{"forwards", false}, Case{"backwards", true}}) {
    d88::BufferedFile file;
    ASSERT_TRUE(file.adopt(patternFile(kSize)));
    std::vector<std::uint8_t> bytes(kRecord);
    for (std::int64_t i = 0; i < kRecords; ++i) {
      const std::int64_t at = (c.backwards ? kRecords - 1 - i : i) * kRecord;
      ASSERT_EQ(file.readAt(at, bytes.data(), kRecord), kRecord) << c.name;
      for (std::int64_t k = 0; k < kRecord; ++k) {
        ASSERT_EQ(bytes[static_cast<std::size_t>(k)], static_cast<std::uint8_t>((at + k) & 0xFF))
            << c.name << " at " << at + k;
      }
    }
    // One pass plus a block's worth of edges; half-block refills read 2x.
    EXPECT_LE(file.hostBytesRead(), kSize + kSize / 8 + d88::BufferedFile::kBlockSize) << c.name;
  }
}

// Ranges at the file's last bytes, and ones across a block's end, read whole.
TEST(BufferedFile, RangesAtBlockEndsAndTheFileEnd) {
  constexpr std::int64_t kBlock = d88::BufferedFile::kBlockSize;
  constexpr std::int64_t kSize = 3 * kBlock + 100;
  d88::BufferedFile file;
  ASSERT_TRUE(file.adopt(patternFile(kSize)));
  struct Case {
    std::int64_t at;
    std::int64_t count;
    std::int64_t got;
  };
  for (const Case& c :
       {Case{kBlock - 1, 2, 2}, Case{kBlock - 100, kBlock - 1, kBlock - 1}, Case{kSize - 1, 1, 1},
        Case{kSize - 10, 20, 10}, Case{kSize, 1, 0}, Case{2 * kBlock - 1, kBlock - 1, kBlock - 1},
        Case{1, kBlock - 1, kBlock - 1}, Case{0, 1, 1}}) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(c.count));
    ASSERT_EQ(file.readAt(c.at, bytes.data(), c.count), c.got) << c.at;
    for (std::int64_t k = 0; k < c.got; ++k) {
      ASSERT_EQ(bytes[static_cast<std::size_t>(k)], static_cast<std::uint8_t>((c.at + k) & 0xFF))
          << c.at << "+" << k;
    }
  }
}

}  // namespace
