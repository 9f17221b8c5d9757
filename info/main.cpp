// d88info: shows what a D88 file holds, disk by disk (header fields, tracks
// with their sector records) and what d88extract would do with each disk,
// without writing anything: as text for people, or as JSON for scripts.
#include <cstdio>
#include <cstring>
#include <string>

#include "d88_text.h"
#include "extract_file.h"
#include "json_format.h"
#include "listing.h"
#include "messages.h"
#include "platform.h"
#include "text_format.h"
#include "tool_text.h"

namespace {

constexpr const char* kDefaultProgramName = "d88info";
constexpr const char* kUsage =
    "Usage: %s [--json] d88file\n"
    "       --json    : one JSON document (schema 1) instead of text\n"
    "       --help    : this text\n"
    "       --version : the version\n";

static_assert(kJsonSchemaVersion == 1, "the usage names the schema version");

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
  const char* program = programName(argc, argv, kDefaultProgramName);
  const Arguments arguments = parseArguments(argc, argv);
  if (const auto status = answerCommandLine(arguments.ok, arguments.help, arguments.version, kUsage,
                                            program, "d88info")) {
    return *status;
  }
  std::FILE* input = platform::openInput(platform::argumentPath(argc, argv, arguments.file));
  if (!diskImage.openFile(input)) {
    writeOpenError();
    return 1;
  }
  if (arguments.json) {
    d88text::writeText(stdout, jsonDocumentStart());
    describeImage(diskImage, [](const DiskListing& disk) {
      if (disk.index > 0) {
        d88text::writeText(stdout, kJsonDiskSeparator);
      }
      d88text::writeText(stdout, formatDiskJson(disk));
    });
    d88text::writeText(stdout, jsonDocumentEnd());
    return 0;
  }
  if (diskImage.diskCount() == 0) {
    d88text::writeText(stdout, kNoDiskImageText);
    return 0;
  }
  describeImage(diskImage,
                [](const DiskListing& disk) { d88text::writeText(stdout, formatDiskText(disk)); });
  return 0;
}
