// d88put: puts edited files back into a D88 file. The folder holds what
// d88extract -a wrote (or, with --disk N, one disk's files); every file whose
// bytes differ goes back exactly where d88extract read it, after checks that
// every disk keeps its files and every other file its bytes. All or nothing.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/platform.h"
#include "cli/replace_file.h"
#include "cli/tool_text.h"
#include "d88/d88_image.h"
#include "disk/put_back.h"
#include "format/put_report.h"
#include "format/put_words.h"
#include "put/folder_edits.h"
#include "put/put_help.h"
#include "text/d88_text.h"

using namespace disk;
using namespace format;

namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultProgramName = "d88put";

struct Options {
  std::string d88;
  std::string folder;
  std::string output;  // empty: none
  std::string disk;    // empty: the folder holds every disk's subfolder
  bool dryRun = false;
  bool resize = false;
};

// The options, one line each, in the order the help lists them.
void defineOptions(CLI::App& app, Options& options, help::Language language) {
  app.add_option("d88file", options.d88, put_help::kD88File.in(language))
      ->required()
      ->type_name("");
  app.add_option("folder", options.folder, put_help::kFolder.in(language))
      ->required()
      ->type_name("");
  cli::numberIn(app, app.add_option("--disk", options.disk, put_help::kDisk.in(language)), "N", 0,
                d88::kMaxDisks - 1, language);
  // An empty name would read as no -o and replace the D88 file itself.
  app.add_option("-o", options.output, put_help::kOutput.in(language))
      ->type_name("output")
      ->check(CLI::Validator(
          [](const std::string& name) { return name.empty() ? "an empty output name" : ""; }, ""));
  app.add_flag("-n", options.dryRun, put_help::kDryRun.in(language));
  app.add_flag("--resize", options.resize, put_help::kResize.in(language));
}

void writeError(const std::string& text) {
  d88text::writeText(stderr, diagnosticLine({Severity::Error, text}) + "\n");
}

// d88put's writer: the D88 file (or -o's) replaced all or nothing, through a
// temporary file made durable, while the D88 file is held.
class FileReplacer final : public ImageWriter {
 public:
  FileReplacer(HeldFile& held, fs::path d88Path, fs::path destination, bool inPlace, bool dryRun,
               std::string hint)
      : held_(held),
        d88Path_(std::move(d88Path)),
        destination_(std::move(destination)),
        inPlace_(inPlace),
        dryRun_(dryRun),
        hint_(std::move(hint)) {}

  // Without changes the D88 file stays as it is; -o still gets its copy.
  [[nodiscard]] bool writes(bool changes) const override { return changes || !inPlace_; }

  [[nodiscard]] bool write(PatchedImage& image, Diagnostics& diagnostics) override {
    if (inPlace_) {
      const std::string refusal = inPlaceRefusal(destination_, hint_);
      if (!refusal.empty()) {
        diagnostics.push_back(
            {Severity::Error, "cannot replace " + d88Path_.u8string() + ": " + refusal});
        return false;
      }
    }
    Replacement replacement;
    replacement.destination = destination_;
    replacement.modeFrom = d88Path_;
    replacement.dryRun = dryRun_;
    // Another program (or a run that opened the file before another's
    // rename) may have changed it since it was read.
    replacement.beforeRename = [&]() {
      return held_.unchanged(d88Path_)
                 ? std::string()
                 : d88Path_.u8string() + " changed while d88put ran; nothing written";
    };
    replacement.releaseFiles = [&]() {
      // Windows cannot replace a file that is open.
      image.release();
#ifdef _WIN32
      held_.release();
#endif
    };
    std::vector<std::string> notices;
    std::string failure;
    const bool written = replaceFile(
        replacement,
        [&](std::FILE* file) {
          FileSink sink(file);
          return image.writeTo(sink);
        },
        notices, failure);
    for (const std::string& notice : notices) {
      diagnostics.push_back({Severity::Notice, notice});
    }
    if (!written) {
      diagnostics.push_back({Severity::Error, failure});
    }
    return written;
  }

 private:
  HeldFile& held_;
  fs::path d88Path_;
  fs::path destination_;
  bool inPlace_;
  bool dryRun_;
  std::string hint_;
};

// The D88 file as it is, and opened a second time, to read it with the
// changes laid over.
d88::D88Image originalImage;
d88::D88Image patchedImage;

}  // namespace

int main(int argc, char** argv) {
  cli::ignoreBrokenPipe();
  CLI::App app;
  const help::Language language = help::languageOfRun();
  cli::prepareCommandLine(app, cli::programName(argc, argv, kDefaultProgramName), "d88put",
                          language);
  Options options;
  defineOptions(app, options, language);
  if (const auto status = cli::parseCommandLine(app, platform::utf8Arguments(argc, argv))) {
    return *status;
  }
  const std::optional<std::int32_t> disk =
      options.disk.empty() ? std::nullopt : std::optional<std::int32_t>(std::stoi(options.disk));
  const fs::path d88Path = platform::pathFromUtf8(options.d88);
  // Held before it is read, so that what is read is what is held.
  HeldFile held;
  const HeldFile::Result holding = held.hold(d88Path);
  const std::string holdFailure = std::strerror(errno);
  if (!originalImage.openFile(platform::openInput(d88Path)) ||
      !patchedImage.openFile(platform::openInput(d88Path))) {
    cli::writeOpenError();
    return 1;
  }
  if (holding != HeldFile::Result::Held) {
    writeError(holding == HeldFile::Result::Busy
                   ? d88Path.u8string() + " is being changed by another d88put or d88mount"
                   : "cannot lock " + d88Path.u8string() + ": " + holdFailure);
    return 1;
  }
  std::error_code error;
  // An output that is the D88 file itself is the same as none.
  fs::path output;
  std::string hint = "(give -o OUTPUT)";
  if (!options.output.empty()) {
    output = platform::pathFromUtf8(options.output);
    // A name ending in a separator can only be a folder's.
    if (!output.has_filename() || fs::is_directory(output, error)) {
      writeError("cannot write " + output.u8string() + ": it names a folder, not a file");
      return 1;
    }
    if (platform::sameFile(platform::stampOf(output), platform::stampOf(d88Path))) {
      hint = "(-o " + output.u8string() + " is the same file; give -o another file)";
      output.clear();
    }
  }
  const bool inPlace = output.empty();
  const fs::path destination = inPlace ? fileToReplace(d88Path) : output;
  const fs::path outputFolder = platform::folderOf(destination);
  if (!inPlace && !fs::is_directory(outputFolder, error)) {
    writeError("cannot write " + output.u8string() + ": no folder " + outputFolder.u8string());
    return 1;
  }

  FolderEdits edits(platform::pathFromUtf8(options.folder), disk);
  FileReplacer writer(held, d88Path, destination, inPlace, options.dryRun, hint);
  PutPlan plan;
  PlanOptions planOptions;
  planOptions.resize = options.resize;
  const bool done = putBack(originalImage, patchedImage, edits, writer, plan, planOptions);
  // From the rename on, a signal waits for the report: the run then ends
  // with it, after saying that the file, named as it was given, is the new
  // one.
  const auto end = [&](int status) {
    endHeldSignal([&](const char* signal) {
      d88text::writeText(stderr, std::string(kDefaultProgramName) + ": " +
                                     (inPlace ? d88Path.u8string() + " was replaced"
                                              : output.u8string() + " was written") +
                                     "; stopped by " + signal + " after that\n");
    });
    return status;
  };
  std::fflush(stdout);
  for (const Diagnostic& diagnostic : plan.diagnostics) {
    d88text::writeText(stderr, diagnosticLine(diagnostic) + "\n");
  }
  if (!done) {
    return end(1);
  }
  const bool writes = writer.writes(!plan.putBack.empty());
  // The report is what scripts read: one that cannot be written is a failure,
  // though the file stays replaced.
  writePutReport(plan, options.dryRun, [](const std::string& line) { cli::writeResult(line); });
  if (!cli::resultWritten("report", writes && !options.dryRun ? " (" + destination.u8string() +
                                                                    " was written all the same)"
                                                              : std::string())) {
    return end(1);
  }
  return end(0);
}
