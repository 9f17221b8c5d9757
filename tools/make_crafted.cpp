// Writes crafted.d88: a data disk of about 1 MB whose tracks 2 and 3 hold
// tens of thousands of empty records before their real sectors, with file
// tables that send 680 files' chains (13,000 sector lookups) across them.
// A reader that walks a track from its start for every sector takes
// quadratic time on it.
#include <cstdio>
#include <cstdlib>

#include "builder/image_builder.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTPUT.d88 [JUNK_RECORDS_PER_TRACK]\n",
                 argc > 0 ? argv[0] : "make_crafted");
    return 2;
  }
  const int junk = argc == 3 ? std::atoi(argv[2]) : d88test::kCraftedJunkPerTrack;
  if (junk < 0 || junk > 65000) {
    std::fprintf(stderr, "junk records per track must be 0 to 65000\n");
    return 2;
  }
  if (!d88test::writeFile(argv[1], d88test::craftedDisk(junk).build())) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
