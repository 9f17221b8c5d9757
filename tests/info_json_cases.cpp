// Writes the damaged D88 files that info_json_schema.py runs d88info --json
// on: every way a listing can come out short or odd, each as CASE.d88 in the
// folder given.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "builder/image_builder.h"

namespace {

using d88test::address;
using d88test::Bytes;

constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kNameTerminator = 0x10;
constexpr std::size_t kWriteProtect = 0x1A;

d88test::SectorRecord record(std::uint8_t r, std::uint8_t density, std::uint8_t deletedMark,
                             std::uint8_t status) {
  d88test::SectorRecord out;
  out.r = r;
  out.data = Bytes(256, 0);
  out.density = density;
  out.deletedMark = deletedMark;
  out.status = status;
  return out;
}

// A fixed-table disk of only the tracks given: listings that validate quickly.
Bytes withTracks(d88test::FixedTableDisk disk, const std::vector<int>& kept) {
  for (int track = 0; track < d88test::kFixedTableTracks; ++track) {
    if (std::find(kept.begin(), kept.end(), track) == kept.end()) {
      disk.drop(track);
    }
  }
  return disk.build();
}

// The disk of files of every fate, with only the tracks it reads.
Bytes brokenChains() {
  return withTracks(d88test::damagedFilesDisk().disk, {0, 2, 4, 10, 66});
}

std::vector<std::pair<std::string, Bytes>> cases() {
  // Files of the second table up to track 35.
  const Bytes system = d88test::systemDisk({300, 512}, {100, 200, 5000}, 40).build();
  std::vector<std::pair<std::string, Bytes>> out;
  out.emplace_back("empty", Bytes{});
  out.emplace_back("no-disk", Bytes(kHeaderSize - 1, 0));
  out.emplace_back("header-only", d88test::Disk().name("HEAD").build());
  // Cut in the data of the sixth record of track 34: the walks of tracks 34
  // to 39 end short, and the file across tracks 33 to 35 breaks off.
  out.emplace_back("truncated-mid-record",
                   d88test::truncated(system, kHeaderSize + (34 * 16 + 5) * (16 + 256) + 100));
  out.emplace_back("second-header-cut",
                   d88test::truncated(d88test::concat({system, system}), system.size() + 300));
  out.emplace_back("broken-chains", brokenChains());
  // The data disk's second table gone: not recognised, yet its first table
  // still lists files, named with '_'.
  d88test::FixedTableLayout unknown = d88test::dataDisk({700}, {300});
  out.emplace_back("unrecognised-with-files", withTracks(unknown.disk, {0}));

  d88test::Track flags;
  flags.sector(record(1, 0x40, 0x00, 0x00))
      .sector(record(2, 0x01, 0x10, 0x00))
      .sector(record(3, 0x00, 0xFF, 0xB0))
      .sector(record(4, 0xFF, 0x10, 0xFF));
  d88test::Track zeroFirst;  // an unformatted track
  zeroFirst.sector(0, 0, 1, 1, Bytes(256, 0)).sectorCount(0);
  d88test::Track zeroLater;
  d88test::SectorRecord zero = record(2, 0, 0, 0);
  zero.sectorCount = 0;
  zeroLater.sector(record(1, 0, 0, 0)).sector(zero).sector(record(3, 0, 0, 0));
  d88test::Track longTrack;  // more records than the listing first makes room for
  for (int r = 0; r < 100; ++r) {
    longTrack.sector(0, 1, static_cast<std::uint8_t>(r), 0, Bytes(r % 3 == 0 ? 0 : 128, 0));
  }
  d88test::Track cut;  // counts 5, holds 2: the file ends in the third header
  cut.sector(0, 0, 1, 1, Bytes(256, 0)).sector(0, 0, 2, 1, Bytes(256, 0)).sectorCount(5);
  Bytes odd = d88test::Disk()
                  .name("\xB1\x80\x83\x66\x01\\x80\x81")
                  .mediaType(0x99)
                  .track(0, flags)
                  .track(1, zeroFirst)
                  .track(2, zeroLater)
                  .track(3, longTrack)
                  .track(163, cut)
                  .trackOffset(152, 0x2A0)  // the first offset past a 160-slot table
                  .trackOffset(160, 8)
                  .trackOffset(161, 0x29F)
                  .trackOffset(162, 0x80000000u)
                  .build();
  odd[kNameTerminator] = 0xFF;
  odd[kWriteProtect] = 0x10;
  out.emplace_back("odd-tracks", d88test::truncated(odd, odd.size() - 4));
  // A negative size: every track lies past it, and the scan ends there.
  Bytes negative = d88test::Disk().name("NEG").sizeField(0xFFFFFFFFu).track(0, flags).build();
  negative[kWriteProtect] = 0xFF;
  out.emplace_back("negative-size", d88test::concat({negative, d88test::Disk().build()}));
  // Every media type with a name.
  std::vector<Bytes> media;
  for (const std::uint8_t type : {0x10, 0x20, 0x30, 0x40}) {
    media.push_back(d88test::Disk().mediaType(type).build());
  }
  out.emplace_back("media-types", d88test::concat(media));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argc > 0 ? argv[0] : "info_json_cases");
    return 2;
  }
  for (const auto& [name, bytes] : cases()) {
    const std::string path = std::string(argv[1]) + "/" + name + ".d88";
    if (!d88test::writeFile(path, bytes)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
