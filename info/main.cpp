// d88info: shows what a D88 file holds, disk by disk (header fields, tracks
// with their sector records) and what d88extract would do with each disk,
// without writing anything: as text for people, or as JSON for scripts.
#include <cstdio>
#include <cstring>
#include <string>

#include "d88_text.h"
#include "listing.h"
#include "listing_json.h"
#include "listing_text.h"
#include "platform.h"
#include "tool_text.h"

namespace {

// The D88 file being listed, and the room its disks are read into.
d88::D88Image image;
TableBuffers tables;
ExtractBuffer chainBuffer;

constexpr const char* kDefaultProgramName = "d88info";
constexpr const char* kUsage =
    "Usage: %s [--json] d88file\n"
    "       --json    : one JSON document (schema 3) instead of text\n"
    "       --help    : this text\n"
    "       --version : the version\n";

static_assert(kJsonSchemaVersion == 3, "the usage names the schema version");
constexpr char kChangedText[] = "error: the D88 file changed while d88info read it\n";

struct Arguments {
  bool ok = false;  // false: show the usage and fail
  bool help = false;
  bool version = false;
  bool json = false;
  int file = -1;  // the index of the D88 file's argument
};

// Options may come before or after the file; "--" ends them.
Arguments parseArguments(int argc, char** argv) {
  Arguments arguments;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      if (std::strcmp(arg, "--") == 0) {
        optionsEnded = true;
      } else if (std::strcmp(arg, "--json") == 0) {
        arguments.json = true;
      } else if (std::strcmp(arg, "--help") == 0) {
        arguments.help = true;
      } else if (std::strcmp(arg, "--version") == 0) {
        arguments.version = true;
      } else {
        return arguments;  // an unknown option
      }
    } else if (arguments.file < 0) {
      arguments.file = i;
    } else {
      return arguments;  // a second file
    }
  }
  arguments.ok = arguments.help || arguments.version || arguments.file >= 0;
  return arguments;
}

}  // namespace

int main(int argc, char** argv) {
  ignoreBrokenPipe();
  const char* program = programName(argc, argv, kDefaultProgramName);
  const Arguments arguments = parseArguments(argc, argv);
  if (const auto status = answerCommandLine(arguments.ok, arguments.help, arguments.version, kUsage,
                                            program, "d88info")) {
    return *status;
  }
  std::FILE* input = platform::openInput(platform::argumentPath(argc, argv, arguments.file));
  if (!image.openFile(input)) {
    writeOpenError();
    return 1;
  }
  // The scan counts only disks whose header the file holds whole: a header
  // that cannot be read again means the file changed under the listing,
  // which then stops where it is.
  bool changed = false;
  if (arguments.json) {
    writeResult(jsonDocumentStart());
    describeImage(image, {tables, chainBuffer.data()}, [&changed](const DiskListing& disk) {
      changed = changed || !disk.headerComplete;
      if (changed) {
        return;
      }
      if (disk.index > 0) {
        writeResult(kJsonDiskSeparator);
      }
      writeResult(formatDiskJson(disk));
    });
    if (!changed) {
      writeResult(jsonDocumentEnd());
    }
  } else if (image.diskCount() == 0) {
    writeResult(kNoDiskImageText);
  } else {
    describeImage(image, {tables, chainBuffer.data()}, [&changed](const DiskListing& disk) {
      changed = changed || !disk.headerComplete;
      if (!changed) {
        writeResult(formatDiskText(disk));
      }
    });
  }
  if (!resultWritten("listing")) {
    return 1;
  }
  if (changed) {
    d88text::writeText(stderr, kChangedText);
    return 1;
  }
  return 0;
}
