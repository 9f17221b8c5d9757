// Writes the fuzzers' seed corpus into a folder: well-formed system, data and
// unrecognised disks, multi-image files and damaged variants, all made with
// the image builder and kept small by leaving out empty tracks.
#include <cstdio>
#include <string>
#include <vector>

#include "builder/image_builder.h"

namespace {

using d88test::address;
using d88test::Bytes;
using d88test::FixedTableDisk;

// Leaves out the tracks that hold only zeros.
FixedTableDisk compact(FixedTableDisk disk) {
  for (int track = 0; track < d88test::kFixedTableTracks; ++track) {
    const Bytes bytes = disk.contents(address(track, 1, 0), d88test::kFixedTableTrackSize);
    bool empty = true;
    for (std::uint8_t byte : bytes) {
      empty = empty && byte == 0;
    }
    if (empty) {
      disk.drop(track);
    }
  }
  return disk;
}

struct Seed {
  std::string name;
  Bytes bytes;
};

std::vector<Seed> seeds() {
  const Bytes system =
      compact(d88test::systemDisk({300, 40, 700}, std::vector<std::int32_t>(31, 90)).disk).build();
  const Bytes data = compact(d88test::dataDisk({700, 5000}, {400, 4106}).disk).build();
  FixedTableDisk unknown;
  unknown.put(address(1, 1, 0), d88test::textContents("X", 600));
  unknown.table(0, {address(1, 1, 0), address(1, 1, 100), address(1, 3, 88)});
  const Bytes unrecognised = compact(unknown).build();

  std::vector<Seed> out{
      {"system", system},
      {"data", data},
      {"unrecognised", unrecognised},
      {"multi", d88test::concat({system, data, unrecognised})},
      {"empty", {}},
      {"header-only", d88test::Disk().build()},
      {"crafted", d88test::craftedDisk(40).build()},
  };
  // Cut short inside a header, a track and a sector.
  for (std::size_t cut : {std::size_t{100}, std::size_t{0x2B0 + 8}, system.size() / 2}) {
    out.push_back({"truncated-" + std::to_string(cut), d88test::truncated(system, cut)});
  }
  // Size fields of zero and negative, and a track offset of 2^31.
  Bytes zeroSize = data;
  d88test::putLe32(zeroSize, 0x1C, 0);
  out.push_back({"zero-size", d88test::concat({zeroSize, data})});
  Bytes negative = data;
  d88test::putLe32(negative, 0x1C, 0xFFFFFF00u);
  out.push_back({"negative-size", negative});
  Bytes farTrack = system;
  d88test::putLe32(farTrack, 0x20 + 4 * 12, 0x80000000u);
  out.push_back({"far-track", farTrack});
  // A table track whose records claim no sectors, and one with short sectors.
  d88test::FixedTableLayout zeroCount = d88test::systemDisk({}, {});
  zeroCount.disk.replace(30, d88test::Track().sector(15, 0, 1, 1, Bytes(256, 0)).sectorCount(0));
  out.push_back({"zero-count", compact(zeroCount.disk).build()});
  d88test::FixedTableLayout shortSectors = d88test::dataDisk({2000}, {});
  d88test::SectorRecord shortRecord;
  shortRecord.c = 1;
  shortRecord.r = 1;
  shortRecord.data = Bytes(40, 0x41);
  shortRecord.dataLength = 0x2000;
  shortSectors.disk.replace(2, d88test::Track().sector(shortRecord));
  out.push_back({"short-sectors", compact(shortSectors.disk).build()});
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argc > 0 ? argv[0] : "make_seeds");
    return 2;
  }
  for (const Seed& seed : seeds()) {
    const std::string path = std::string(argv[1]) + "/" + seed.name + ".d88";
    if (!d88test::writeFile(path, seed.bytes)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
