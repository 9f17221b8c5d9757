// d88extract: extracts the files of every disk image in a D88 file into
// numbered folders and reports each file on standard output.
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/platform.h"
#include "cli/tool_text.h"
#include "extract/extract_file.h"
#include "extract/messages.h"

using namespace disk;

namespace {

constexpr const char* kDefaultProgramName = "d88extract";

struct Options {
  bool makeSubdirectories = true;
  bool extractAll = false;
};

// Options are looked for from the second argument on; the first is always
// the file path, whatever it looks like.
Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "-d") == 0) {
      options.makeSubdirectories = false;
    } else if (std::strcmp(argv[i], "-a") == 0) {
      options.extractAll = true;
    }
  }
  return options;
}

void printUsage(const char* program) {
  std::fprintf(stderr, messages::kUsage, program);
  std::fputs(messages::kUsageNoSubdirectories, stderr);
  std::fputs(messages::kUsageExtractAll, stderr);
}

// Creates (if need be) and enters the disk's folder.
[[nodiscard]] bool enterDiskDirectory(const char* name) {
  std::error_code error;
  // An existing folder is reused; whether creation worked shows when entering.
  std::filesystem::create_directory(name, error);
  std::filesystem::current_path(name, error);
  return !error;
}

// Runs the extraction of every disk image; returns the exit status.
int extractAllDisks(const Options& options) {
  int status = 0;
  platform::StartDirectory start;
  if (options.makeSubdirectories && diskImage.diskCount() > 0) {
    // Without the starting folder there is no safe way back after each disk.
    if (!start.remember()) {
      std::fputs(messages::kNoCurrentDirectory, stderr);
      return 1;
    }
  }
  for (std::int32_t disk = 0; disk < diskImage.diskCount(); ++disk) {
    // An unselectable disk reads as empty: it yields no files.
    (void)selectDisk(diskImage, disk);
    if (!options.makeSubdirectories) {
      extractDisk(options.extractAll);
      continue;
    }
    const DiskFolderName name = diskFolderName(disk);
    // Something other than a folder in the way: the disk's files would land
    // in the wrong place, so the disk is skipped.
    if (!enterDiskDirectory(name.data())) {
      std::fprintf(stderr, messages::kCannotEnterDirectory, name.data());
      status = 1;
      continue;
    }
    extractDisk(options.extractAll);
    // Going back to the folder itself, not to "..": the disk's folder may be
    // a link elsewhere.
    if (!start.returnTo()) {
      std::fprintf(stderr, messages::kCannotReturn, start.describe().c_str());
      return 1;
    }
  }
  return anyWriteFailed() ? 1 : status;
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = cli::programName(argc, argv, kDefaultProgramName);
  if (argc < 2) {
    printUsage(program);
    return 1;
  }
  const Options options = parseOptions(argc, argv);
  std::FILE* input = platform::openInput(platform::argumentPath(argc, argv, 1));
  inputIdentity = platform::stampOf(input);
  if (!diskImage.openFile(input)) {
    std::fputs(messages::kOpenError, stderr);
    return 1;
  }
  return extractAllDisks(options);
}
