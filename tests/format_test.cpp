// The listing's formats in-process: where the text and the JSON place a
// table's end and a track, and the page's parts of the JSON against the
// whole document d88info prints.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "disk/listing.h"
#include "format/listing_json.h"
#include "format/listing_text.h"
#include "tests/test_support.h"

using namespace disk;
using namespace format;

namespace {

using d88test::address;
using d88test::Bytes;
using Json = nlohmann::json;

// Every disk of a D88 file as describeDisk gives it.
std::vector<DiskListing> listingsOf(const Bytes& file) {
  const d88test::ScratchDir scratch;
  const std::string path = scratch.write("image.d88", file);
  d88::D88Image image;
  std::vector<DiskListing> disks;
  if (!image.open(path.c_str())) {
    ADD_FAILURE() << "cannot open " << path;
    return disks;
  }
  TableBuffers tables;
  std::vector<std::uint8_t> chain(kExtractBufferSize);
  describeImage(image, {tables, chain.data()},
                [&](const DiskListing& disk) { disks.push_back(disk); });
  return disks;
}

// The line of the text listing that starts with `start`; empty for none.
std::string lineStarting(const std::string& text, const std::string& start) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    if (line.compare(0, start.size(), start) == 0) {
      return line;
    }
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return {};
}

// A data disk's second table holds D100 up to track 66 sector 3 and D101 of
// `size` bytes after it: the table ends where D101 does, and the first table
// where D000 does (track 0 sector 11 offset A9).
TEST(ListingFormats, PlaceTheEndOfATableAtItsTrackSectorAndOffset) {
  struct Case {
    std::int32_t size;
    std::int32_t track, r, offset;  // where the second table's last file ends
    const char* text;
  };
  const Case cases[] = {
      {0x0FF, 66, 3, 0xFF, "ends at trk: 42  sec: 03  ofs: FF"},
      {0x100, 66, 4, 0x00, "ends at trk: 42  sec: 04  ofs: 00"},
      {0x101, 66, 4, 0x01, "ends at trk: 42  sec: 04  ofs: 01"},
      {0xDFF, 66, 16, 0xFF, "ends at trk: 42  sec: 10  ofs: FF"},
      {0xE00, 67, 1, 0x00, "ends at trk: 43  sec: 01  ofs: 00"},
      {0xE01, 67, 1, 0x01, "ends at trk: 43  sec: 01  ofs: 01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(address(66, 3, 0) + c.size, address(c.track, c.r, c.offset));
    const std::vector<DiskListing> disks = listingsOf(d88test::dataDisk({}, {c.size}).build());
    ASSERT_EQ(disks.size(), 1u);
    const std::string text = formatDiskText(disks[0]);
    EXPECT_EQ(lineStarting(text, "  first table: ").substr(0, 48),
              "  first table: ends at trk: 00  sec: 0B  ofs: A9");
    EXPECT_EQ(lineStarting(text, "  second table: ").substr(0, 65),
              std::string("  second table: ") + c.text + ", room to grow: ");
    const Json tables = Json::parse(formatDiskJson(disks[0]))["tables"];
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0]["end"], address(0, 11, 0xA9));
    EXPECT_EQ(tables[0]["track"], 0);
    EXPECT_EQ(tables[0]["r"], 11);
    EXPECT_EQ(tables[0]["offset"], 0xA9);
    EXPECT_EQ(tables[1]["end"], address(c.track, c.r, c.offset));
    EXPECT_EQ(tables[1]["track"], c.track);
    EXPECT_EQ(tables[1]["r"], c.r);
    EXPECT_EQ(tables[1]["offset"], c.offset);
  }
}

// Slot 2C + H is cylinder C's head H, in the text and in the JSON.
TEST(ListingFormats, NameEachTrackSlotsCylinderAndHead) {
  struct Case {
    std::int32_t slot, cylinder, head;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, 0, "  track   0 (C  0 H 0): 16 sectors:"},
      {1, 0, 1, "  track   1 (C  0 H 1): 16 sectors:"},
      {2, 1, 0, "  track   2 (C  1 H 0): 16 sectors:"},
      {21, 10, 1, "  track  21 (C 10 H 1): 16 sectors:"},
      {158, 79, 0, "  track 158 (C 79 H 0): 16 sectors:"},
      {159, 79, 1, "  track 159 (C 79 H 1): 16 sectors:"},
  };
  const std::vector<DiskListing> disks = listingsOf(d88test::dataDisk({}, {}).build());
  ASSERT_EQ(disks.size(), 1u);
  const std::string text = formatDiskText(disks[0]);
  const Json tracks = Json::parse(formatDiskJson(disks[0]))["tracks"];
  ASSERT_EQ(tracks.size(), 160u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string start = std::string(c.text).substr(0, 25);
    EXPECT_EQ(lineStarting(text, start).substr(0, std::string(c.text).size()), c.text);
    const Json& track = tracks[static_cast<std::size_t>(c.slot)];
    EXPECT_EQ(track["slot"], c.slot);
    EXPECT_EQ(track["cylinder"], c.cylinder);
    EXPECT_EQ(track["head"], c.head);
  }
}

// Two disks: the page's parts are d88info's document,
// but the name as the text listing writes it and no verdict before the
// chains are read.
Bytes pageImage() {
  const Bytes named = d88test::dataDisk({300}, {}).disk.disk().name("A\\\"B").build();
  const Bytes damaged = d88test::damagedFilesDisk().build();
  return d88test::concat({named, damaged});
}

TEST(PageJson, DiskHeaderIsTheListingsWithTheTextListingsName) {
  const std::vector<DiskListing> disks = listingsOf(pageImage());
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(formatDiskHeaderJson(disks[0]),
            R"({"index":0,"offset":0,"headerComplete":true,"name":"A\\\\\\\"B",)"
            R"("nameHex":"415C224200000000000000000000000000","writeProtect":0,"mediaType":0,)"
            R"("media":"2D","sizeField":)" +
                std::to_string(disks[0].sizeField) +
                // データディスクを認識しました.
                ",\"kind\":\"data disk\",\"message\":\"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\xE3"
                "\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF\xE3\x82\x92\xE8\xAA\x8D\xE8\xAD"
                "\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.\",\"files\":["
                R"({"name":"D000","track":0,"sector":2,"offset":164,"size":2309,)"
                R"("writtenWithoutAll":false},)"
                R"({"name":"D001","track":0,"sector":11,"offset":169,"size":300,)"
                R"("writtenWithoutAll":false},)"
                R"({"name":"D100","track":66,"sector":2,"offset":164,"size":92,)"
                R"("writtenWithoutAll":false}]})");
  // A header that no longer reads whole (the file changed since its scan).
  DiskListing cut;
  cut.index = 2;
  cut.offset = 0x1234;
  EXPECT_EQ(formatDiskHeaderJson(cut), R"({"index":2,"offset":4660,"headerComplete":false})");
  EXPECT_EQ(formatDiskHeaderJson(cut), formatDiskJson(cut));
  EXPECT_EQ(formatFilesJson(cut), "[]");
  for (const DiskListing& disk : disks) {
    SCOPED_TRACE(disk.index);
    const Json whole = Json::parse(formatDiskJson(disk));
    Json header = Json::parse(formatDiskHeaderJson(disk));
    if (disk.headerComplete) {
      // disk N: offset 0x...  name "NAME"  media ...
      const std::string text = formatDiskText(disk);
      const std::size_t from = text.find("  name \"") + 8;
      EXPECT_EQ(header["name"], text.substr(from, text.find("\"  media ") - from));
      header["name"] = whole["name"];
      ASSERT_EQ(header["files"].size(), whole["files"].size());
      for (std::size_t i = 0; i < whole["files"].size(); ++i) {
        Json file = whole["files"][i];
        file.erase("verdict");
        file.erase("bytesRead");
        file.erase("reason");
        EXPECT_EQ(header["files"][i], file) << i;
      }
      header["files"] = whole["files"];
      header["tracks"] = whole["tracks"];
      header["tables"] = whole["tables"];
    }
    EXPECT_EQ(header, whole);
  }
}

TEST(PageJson, FilesAreTheListingsFilesWithTheirVerdicts) {
  const std::vector<DiskListing> disks = listingsOf(pageImage());
  ASSERT_EQ(disks.size(), 2u);
  for (const DiskListing& disk : disks) {
    SCOPED_TRACE(disk.index);
    const Json whole = Json::parse(formatDiskJson(disk));
    EXPECT_EQ(Json::parse(formatFilesJson(disk)), whole.value("files", Json::array()));
  }
  // Each fate's fields, as the page reads them.
  const std::string files = formatFilesJson(disks[1]);
  EXPECT_NE(files.find(R"({"name":"D002","track":10,"sector":1,"offset":16,"size":1900,)"
                       R"("writtenWithoutAll":false,"verdict":"incomplete","bytesRead":240})"),
            std::string::npos)
      << files;
  EXPECT_NE(files.find(R"("verdict":"skipped","reason":"negativeSize"})"), std::string::npos)
      << files;
  EXPECT_NE(files.find(R"("verdict":"skipped","reason":"firstSectorUnreadable"})"),
            std::string::npos)
      << files;
}

}  // namespace
