// Arbitrary bytes as a D88 file: open it, select every disk, and read
// sectors, chains and ID lists with IDs, lengths and ranges taken from the
// input. Destinations are allocated at exactly the length asked for, so a
// write past it is a sanitizer report.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "d88/d88_image.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int kReadsPerDisk = 8;
constexpr std::int32_t kLongestRead = 70000;

d88::D88Image image;

std::int32_t anyId(FuzzedDataProvider& params) {
  return params.ConsumeIntegralInRange(-1, 256);
}

void readAround(FuzzedDataProvider& params) {
  const std::int32_t track = params.ConsumeIntegralInRange(-1, 165);
  const std::int32_t c = anyId(params);
  const std::int32_t h = anyId(params);
  const std::int32_t r = anyId(params);
  const std::int32_t n = params.ConsumeIntegralInRange(-1, 25);
  const std::int32_t len = params.ConsumeIntegralInRange(-1, kLongestRead);
  std::vector<std::uint8_t> dest(static_cast<std::size_t>(len > 0 ? len : 0));
  (void)image.readSector(track, c, h, r, n, dest.data(), len);
  (void)image.readSectors(track, c, h, r, n, dest.data(), len);
  // An ID list needs room for len rounded up to whole IDs.
  std::vector<std::uint8_t> ids(static_cast<std::size_t>(len > 0 ? (len + 3) / 4 * 4 : 0));
  (void)image.readSectorIds(track, ids.data(), len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzzsupport::writeInput(data, size);
  if (!image.open(path.c_str())) {
    return 0;
  }
  // Integers come from the end of the input, the file is all of it.
  FuzzedDataProvider params(data, size);
  for (std::int32_t disk = -1; disk <= image.diskCount(); ++disk) {
    (void)image.selectDisk(disk);
    image.setSectorRange(params.ConsumeIntegralInRange(-2, 257),
                         params.ConsumeIntegralInRange(-2, 257));
    for (int i = 0; i < kReadsPerDisk; ++i) {
      readAround(params);
    }
  }
  (void)image.open(nullptr);
  return 0;
}
