// Writes sample.d88: a system disk and a data disk whose files hold lines of
// text naming the file and the byte offset, so a reader can tell them apart.
#include <cstdio>
#include <vector>

#include "builder/image_builder.h"

namespace {

std::vector<std::int32_t> sizes(int count, std::int32_t first, std::int32_t step) {
  std::vector<std::int32_t> out;
  for (int i = 0; i < count; ++i) {
    out.push_back(first + step * i);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.d88\n", argc > 0 ? argv[0] : "make_sample");
    return 2;
  }
  // System disk: three more files in the first table; in the second, files
  // 0x101 to 0x11E, so that 0x117 to 0x11D (the ones always written) exist.
  const d88test::FixedTableLayout system =
      d88test::systemDisk({300, 512, 1000}, sizes(30, 100, 37));
  // Data disk: a few files in each table, one of them longer than a track.
  const d88test::FixedTableLayout data = d88test::dataDisk({700, 1500, 256}, {400, 4106});
  const d88test::Bytes file = d88test::concat(
      {system.disk.disk().name("SYSTEM").build(), data.disk.disk().name("DATA").build()});
  if (!d88test::writeFile(argv[1], file)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
