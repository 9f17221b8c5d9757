// Arbitrary bytes as a D88 file: recognise and extract every disk, without
// and with extract-all, into a scratch folder that is emptied after each
// input; then list the file in both of d88info's formats.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "disk/file_tables.h"
#include "disk/listing.h"
#include "extract/extract_file.h"
#include "format/listing_json.h"
#include "format/listing_text.h"
#include "fuzz/fuzz_support.h"

using namespace disk;
using namespace format;

namespace {

const std::filesystem::path& outputFolder() {
  static const std::filesystem::path folder = [] {
    const auto path = fuzzsupport::scratchRoot() / "out";
    std::filesystem::create_directories(path);
    // Report lines are not what is tested; keep the console quiet.
    if (std::freopen(
#ifdef _WIN32
            "NUL",
#else
            "/dev/null",
#endif
            "w", stdout) == nullptr) {
      std::abort();
    }
    return path;
  }();
  return folder;
}

void emptyFolder(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::filesystem::remove_all(entry.path());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& folder = outputFolder();
  const std::string path = fuzzsupport::writeInput(data, size);
  if (!diskImage.open(path.c_str())) {
    return 0;
  }
  // The fuzzer's own paths are relative to where it started: go back there.
  const std::filesystem::path started = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  for (bool extractAll : {false, true}) {
    for (std::int32_t disk = 0; disk < diskImage.diskCount(); ++disk) {
      (void)selectDisk(diskImage, disk);
      extractDisk(extractAll);
    }
  }
  std::size_t listed = 0;
  describeImage(diskImage, processBuffers(), [&](const DiskListing& disk) {
    listed += formatDiskText(disk).size() + formatDiskJson(disk).size();
  });
  // Every disk gets a header line and an object, however damaged.
  if (diskImage.diskCount() > 0 && listed == 0) {
    std::abort();
  }
  (void)diskImage.open(nullptr);
  std::filesystem::current_path(started);
  emptyFolder(folder);
  return 0;
}
