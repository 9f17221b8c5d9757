// d88put: puts edited files back into a D88 file. The folder holds what
// d88extract -a wrote (or, with --disk N, one disk's files); every file whose
// bytes differ goes back exactly where d88extract read it, after checks that
// every disk keeps its files and every other file its bytes. All or nothing.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "d88_image.h"
#include "d88_text.h"
#include "extract_file.h"
#include "messages.h"
#include "platform.h"
#include "put_back.h"
#include "replace_file.h"
#include "tool_text.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultProgramName = "d88put";
constexpr const char* kUsage =
    "Usage: %s d88file folder [--disk N] [-o output] [-n]\n"
    "       --disk N    : the folder holds the files of disk N itself\n"
    "       -o output   : write the new D88 file there, leave d88file as it is\n"
    "       -n          : check and report, write nothing\n"
    "       --help      : this text\n"
    "       --version   : the version\n";

struct Arguments {
  bool ok = false;
  bool help = false;
  bool version = false;
  bool dryRun = false;
  int d88 = -1;
  int folder = -1;
  int output = -1;
  std::optional<std::int32_t> disk;
};

// A disk number: decimal, 0 to 63.
bool parseDisk(const char* text, std::int32_t& disk) {
  if (std::strlen(text) == 0 || std::strlen(text) > 2 ||
      std::strspn(text, "0123456789") != std::strlen(text)) {
    return false;
  }
  disk = std::atoi(text);
  return disk < d88::kMaxDisks;
}

Arguments parseArguments(int argc, char** argv) {
  Arguments arguments;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0) {
      arguments.help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
      arguments.version = true;
    } else if (std::strcmp(arg, "-n") == 0) {
      arguments.dryRun = true;
    } else if (std::strcmp(arg, "-o") == 0 && i + 1 < argc && arguments.output < 0 &&
               argv[i + 1][0] != '\0') {
      // An empty name would read as no -o and replace the D88 file itself.
      arguments.output = ++i;
    } else if (std::strcmp(arg, "--disk") == 0 && i + 1 < argc && !arguments.disk) {
      std::int32_t disk = 0;
      if (!parseDisk(argv[++i], disk)) {
        return arguments;
      }
      arguments.disk = disk;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      return arguments;  // an unknown option, or one given twice
    } else if (positional == 0) {
      arguments.d88 = i;
      ++positional;
    } else if (positional == 1) {
      arguments.folder = i;
      ++positional;
    } else {
      return arguments;  // a third name
    }
  }
  arguments.ok = arguments.help || arguments.version || positional == 2;
  return arguments;
}

void writeError(const std::string& text) {
  d88text::writeText(stderr, "error: " + text + "\n");
}

// The D88 file opened a second time, to read it with the changes laid over.
d88::D88Image patchedImage;

}  // namespace

int main(int argc, char** argv) {
  const char* program = programName(argc, argv, kDefaultProgramName);
  const Arguments arguments = parseArguments(argc, argv);
  if (const auto status = answerCommandLine(arguments.ok, arguments.help, arguments.version, kUsage,
                                            program, "d88put")) {
    return *status;
  }
  const fs::path d88Path = platform::argumentPath(argc, argv, arguments.d88);
  if (!diskImage.openFile(platform::openInput(d88Path)) ||
      !patchedImage.openFile(platform::openInput(d88Path))) {
    writeOpenError();
    return 1;
  }
  const platform::FileIdentity d88Identity = platform::identityOf(d88Path);
  // An output that is the D88 file itself is the same as none.
  fs::path output;
  if (arguments.output >= 0) {
    output = platform::argumentPath(argc, argv, arguments.output);
    if (platform::sameFile(platform::identityOf(output), d88Identity)) {
      output.clear();
    }
  }
  const bool inPlace = output.empty();
  const fs::path destination = inPlace ? fileToReplace(d88Path) : output;
  std::error_code error;
  const fs::path outputFolder =
      destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
  if (!inPlace && !fs::is_directory(outputFolder, error)) {
    writeError("cannot write " + output.u8string() + ": no folder " + outputFolder.u8string());
    return 1;
  }

  PutPlan plan;
  const PutRequest request{platform::argumentPath(argc, argv, arguments.folder), arguments.disk};
  planPutBack(diskImage, patchedImage, request, plan);
  std::fflush(stdout);
  for (const std::string& message : plan.messages) {
    d88text::writeText(stderr, message + "\n");
  }
  const bool changes = !plan.putBack.empty();
  if (plan.errors == 0 && changes && inPlace) {
    const std::string refusal = inPlaceRefusal(destination);
    if (!refusal.empty()) {
      writeError("cannot replace " + d88Path.u8string() + ": " + refusal);
      plan.errors++;
    }
  }
  if (plan.errors > 0) {
    return 1;
  }
  // Without changes the D88 file stays as it is; -o still gets its copy.
  if (!arguments.dryRun && (changes || !inPlace)) {
    std::string failure;
    const bool written = replaceFile(
        destination, d88Path,
        [&](std::FILE* out) {
          const bool copied = copyPatched(patchedImage, out);
          // Windows cannot replace a file that is open.
          (void)diskImage.open(nullptr);
          (void)patchedImage.open(nullptr);
          return copied;
        },
        failure);
    if (!written) {
      writeError(failure);
      return 1;
    }
  }
  d88text::writeText(stdout, putReport(plan, arguments.dryRun));
  return 0;
}
