// Writes the "collection" benchmark tree: FILES (default 2,000) D88 files in
// folders two deep, 20 files a folder, with extensions in both letter cases.
// A mix of disks in every twenty files: eleven full-workload system disks (as
// make_full's), one whose second table has lost its end mark (random entries
// fill the rest of its track), two such disks in one file, a data disk, two
// disks that are not recognised (random bytes, and blank), the damaged data
// disk of the tests, a system disk cut short, a system disk followed by a
// blank disk, and a system disk with a track missing, whose chains break
// there; about 380 KB a file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/image_builder.h"

namespace {

namespace fs = std::filesystem;
using d88test::Bytes;

constexpr int kFullTracks = 80;        // make_full's disks: 40 cylinders, two sides
constexpr int kUnknownTracks = 40;     // a disk not recognised: 20 cylinders
constexpr int kFilesPerFolder = 20;    // and so the mix repeats in every folder
constexpr int kFoldersPerParent = 10;  // folders c00/s00 to c09/s09 and on
constexpr int kBrokenTrack = 40;       // the track missing from the last kind
constexpr int kCutPercent = 60;        // of a system disk cut short

unsigned nextRandom(unsigned& seed) {
  seed = seed * 1103515245u + 12345u;
  return seed >> 8;
}

// `count` sizes from low to high, scaled to fill `room`.
std::vector<std::int32_t> sizes(unsigned& seed, int count, std::int32_t low, std::int32_t high,
                                std::int32_t room) {
  std::vector<std::int64_t> raw;
  std::int64_t total = 0;
  for (int i = 0; i < count; ++i) {
    raw.push_back(low +
                  static_cast<std::int64_t>(nextRandom(seed) % static_cast<unsigned>(high - low)));
    total += raw.back();
  }
  std::vector<std::int32_t> out;
  for (const std::int64_t size : raw) {
    out.push_back(static_cast<std::int32_t>(size * room / total));
  }
  return out;
}

// A disk of make_full's workload: about 60 files filling 80 tracks.
d88test::FixedTableLayout fullDisk(unsigned seed) {
  const auto first = sizes(seed, 8, 100, 3000, 13000);
  const auto second = sizes(seed, 50, 200, 7000, 185000);
  return d88test::systemDisk(first, second, kFullTracks);
}

// A full disk whose second table (track 30) has lost its end mark: past its
// first entries the rest of the track is random bytes, which the table walk
// takes for some 1,300 more files sent all over the disk.
Bytes withoutEndMark(unsigned seed) {
  auto layout = fullDisk(seed);
  constexpr int kTableTrack = 30;
  constexpr int kKeptEntries = 8;
  Bytes entries(static_cast<std::size_t>(d88test::kFixedTableTrackSize - 3 * kKeptEntries));
  for (auto& byte : entries) {
    byte = static_cast<std::uint8_t>(nextRandom(seed));
  }
  layout.disk.put(d88test::address(kTableTrack, 1, 3 * kKeptEntries), entries);
  return layout.disk.disk().name("NOENDMARK").build();
}

Bytes dataDisk(unsigned seed) {
  const auto first = sizes(seed, 30, 500, 12000, 250000);
  const auto second = sizes(seed, 40, 500, 12000, 370000);
  return d88test::dataDisk(first, second).disk.disk().name("DATA").build();
}

// Sectors of random bytes (seed > 0), whose tables then name thousands of
// files, most of them skipped; or of zeros (seed 0), whose tables name none.
Bytes unknownDisk(unsigned seed) {
  d88test::Disk disk;
  disk.name("OTHER");
  for (int track = 0; track < kUnknownTracks; ++track) {
    Bytes data(16 * 256);
    for (auto& byte : data) {
      byte = seed == 0 ? 0 : static_cast<std::uint8_t>(nextRandom(seed));
    }
    disk.track(track,
               d88test::Track::formatted(static_cast<std::uint8_t>(track / 2),
                                         static_cast<std::uint8_t>(track % 2), 1, 1, 16, data));
  }
  return disk.build();
}

// The twenty kinds of file, in the order they repeat.
std::vector<Bytes> kinds() {
  std::vector<Bytes> out;
  for (unsigned seed = 0; seed < 11; ++seed) {
    out.push_back(fullDisk(1000u + seed).disk.disk().name("FULL").build());
  }
  out.push_back(withoutEndMark(1011u));
  out.push_back(d88test::concat({out[0], out[1]}));
  out.push_back(dataDisk(7u));
  out.push_back(unknownDisk(11u));
  out.push_back(unknownDisk(0));
  out.push_back(d88test::damagedFilesDisk().build());
  out.push_back(d88test::truncated(out[2], out[2].size() * kCutPercent / 100));
  out.push_back(d88test::concat({out[3], unknownDisk(0)}));
  auto broken = fullDisk(1020u);
  broken.disk.drop(kBrokenTrack);
  out.push_back(broken.disk.disk().name("BROKEN").build());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FOLDER [FILES]\n", argc > 0 ? argv[0] : "make_collection");
    return 2;
  }
  const int files = argc == 3 ? std::atoi(argv[2]) : 2000;
  if (files < 1) {
    std::fprintf(stderr, "FILES must be 1 or more\n");
    return 2;
  }
  const std::vector<Bytes> mix = kinds();
  static const char* const kExtensions[] = {".d88", ".D88", ".d77", ".88d"};
  std::int64_t bytes = 0;
  for (int i = 0; i < files; ++i) {
    const int folder = i / kFilesPerFolder;
    char name[64];
    std::snprintf(name, sizeof name, "c%02d/s%02d/disk%04d%s", folder / kFoldersPerParent,
                  folder % kFoldersPerParent, i, kExtensions[i % 4]);
    const fs::path path = fs::path(argv[1]) / name;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    const Bytes& file = mix[static_cast<std::size_t>(i % kFilesPerFolder)];
    if (!d88test::writeFile(path.string(), file)) {
      std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
      return 1;
    }
    bytes += static_cast<std::int64_t>(file.size());
  }
  std::printf("%d files, %lld bytes\n", files, static_cast<long long>(bytes));
  return 0;
}
