// Writes the "full" benchmark image: DISKS (default 64) system disks of 40
// cylinders, 2 sides, 16 sectors of 256 bytes, every track present, whose
// tables describe about 60 files of varied sizes each.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "builder/image_builder.h"

namespace {

constexpr int kTracks = 80;                        // 40 cylinders, two sides
constexpr int kFirstTableFiles = 8;                // after the fixed file 0x000
constexpr int kSecondTableFiles = 50;              // after the fixed file 0x100
constexpr std::int32_t kFirstTableRoom = 13000;    // up to track 15, before DRIVER
constexpr std::int32_t kSecondTableRoom = 185000;  // up to the end of track 79

// Sizes drawn from a fixed sequence, scaled to fill `room`.
std::vector<std::int32_t> sizes(unsigned& seed, int count, std::int32_t low, std::int32_t high,
                                std::int32_t room) {
  std::vector<std::int64_t> raw;
  std::int64_t total = 0;
  for (int i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    raw.push_back(low + static_cast<std::int64_t>((seed >> 8) % static_cast<unsigned>(high - low)));
    total += raw.back();
  }
  std::vector<std::int32_t> out;
  for (std::int64_t size : raw) {
    out.push_back(static_cast<std::int32_t>(size * room / total));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTPUT.d88 [DISKS]\n", argc > 0 ? argv[0] : "make_full");
    return 2;
  }
  const int disks = argc == 3 ? std::atoi(argv[2]) : 64;
  if (disks < 1 || disks > 64) {
    std::fprintf(stderr, "DISKS must be 1 to 64\n");
    return 2;
  }
  std::vector<d88test::Bytes> images;
  for (int disk = 0; disk < disks; ++disk) {
    unsigned seed = 1000u + static_cast<unsigned>(disk);
    const auto first = sizes(seed, kFirstTableFiles, 100, 3000, kFirstTableRoom);
    const auto second = sizes(seed, kSecondTableFiles, 200, 7000, kSecondTableRoom);
    images.push_back(d88test::systemDisk(first, second, kTracks).disk.disk().name("FULL").build());
  }
  if (!d88test::writeFile(argv[1], d88test::concat(images))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
