// d88info: shows what a D88 file holds, disk by disk (header fields, tracks
// with their sector records) and what d88extract would do with each disk,
// without writing anything: as text for people, or as JSON for scripts.
// Given many files, or folders to walk, it lists them on several threads in
// the order given, or sums each up in one row of a catalogue.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "cli/platform.h"
#include "cli/tool_text.h"
#include "disk/listing.h"
#include "disk/summary.h"
#include "format/catalogue.h"
#include "format/listing_json.h"
#include "format/listing_text.h"
#include "info/collection.h"
#include "info/info_help.h"
#include "info/inputs.h"
#include "text/d88_text.h"
#include "text/tool_messages.h"

using namespace disk;
using namespace format;

namespace {

constexpr const char* kDefaultProgramName = "d88info";
constexpr char kChangedText[] = "error: the D88 file changed while d88info read it\n";
// More inputs than this, and stderr a terminal: a progress line.
constexpr std::size_t kProgressInputs = 20;
// Summaries are a row each: this many per thread may wait for the writer.
constexpr std::size_t kSummaryWindowPerThread = 16;
constexpr long kMostThreads = 256;

struct Options {
  bool json = false;
  bool summary = false;
  bool recursive = false;
  std::string threads;  // empty: one per core
  std::vector<std::string> paths;
};

// The one D88 file of a plain run, and the room its disks are read into.
d88::D88Image image;
TableBuffers tables;
ExtractBuffer chainBuffer;
DiskListing oneDisk;

// Whether a file the image still holds open is as it was when it was
// opened: its stamp now that of the start, and its size then the one the
// reads were held to. (A size alone can come back, and a time of change can
// stay the same over several changes, the clock's step being coarse: a file
// cut and written again between the stamp and the reader's own look at its
// size is seen by the size the reader took.)
bool keptStill(const d88::D88Image& image, std::FILE* file, const platform::FileStamp& before) {
  return platform::sameStamp(before, platform::stampOf(file)) &&
         static_cast<std::int64_t>(before.size) == image.openedSize();
}

// One D88 file, as before collections: the text streamed disk by disk, the
// JSON document written whole once the file is known not to have changed,
// nothing but the open error when it cannot be opened. A file that changed
// under the reads (a header or a read cut short, another size or time of
// change at the end) ends the run with the changed error: the text stops
// where it is, the JSON is not written at all.
int listOneFile(const std::filesystem::path& path, bool json) {
  std::FILE* file = platform::openInput(path);
  const platform::FileStamp before = platform::stampOf(file);
  if (!image.openFile(file)) {
    cli::writeOpenError();
    return 1;
  }
  const DiskBuffers buffers{tables, chainBuffer.data()};
  bool unchanged = true;
  // The document held disk by disk, each as it was formatted: no copy of
  // the whole grows as it would in one string.
  std::vector<std::string> document;
  if (json) {
    document.push_back(jsonDocumentStart());
    unchanged =
        describeUnchanged(image, buffers, oneDisk, {}, [&document](const DiskListing& disk) {
          document.push_back((disk.index > 0 ? kJsonDiskSeparator : "") + formatDiskJson(disk));
        });
    document.push_back(jsonDocumentEnd());
  } else if (image.diskCount() == 0) {
    cli::writeResult(kNoDiskImageText);
  } else {
    unchanged = describeUnchanged(image, buffers, oneDisk, {}, [](const DiskListing& disk) {
      cli::writeResult(formatDiskText(disk));
    });
  }
  unchanged = unchanged && keptStill(image, file, before);
  if (json && unchanged) {
    for (const std::string& part : document) {
      cli::writeResult(part);
    }
  }
  if (!cli::resultWritten("listing")) {
    return 1;
  }
  if (!unchanged) {
    d88text::writeText(stderr, kChangedText);
    return 1;
  }
  return 0;
}

enum class Output { Text, Json, SummaryText, SummaryJson };

// Lists one input of a collection whole, with the thread's reader. A file
// that changed while it was read (see listOneFile) is a failed input: no
// JSON line of its listing, no row of its counts.
FileResult listInput(const Inputs& inputs, Reader& reader, const Input& input, Output output) {
  FileResult result;
  result.shown = inputs.shown(input);
  const std::string& shown = result.shown;
  if (output == Output::Text) {
    result.out = "== " + shown + "\n";
  }
  if (input.failure != InputFailure::None) {
    result.failure = input.failure;
    result.err = "error: cannot list the folder " + shown + ": " + input.reason + "\n";
    return result;
  }
  d88::D88Image& d88 = reader.image;
  std::FILE* file = inputs.openFile(input, reader.folder);
  const platform::FileStamp before = platform::stampOf(file);
  if (!d88.openFile(file)) {
    result.failure = InputFailure::CannotOpen;
    result.err = shown + ": " + d88text::messageText(messages::kOpenError) + "\n";
    return result;
  }
  result.bytes = d88.fileSize();
  std::string listing = output == Output::Json ? jsonLineStart(shown) : std::string();
  bool unchanged = true;
  if (output == Output::SummaryText || output == Output::SummaryJson) {
    unchanged = summariseImage(d88, reader.buffers(), reader.disk, result.summary);
  } else {
    if (output == Output::Text && d88.diskCount() == 0) {
      listing = kNoDiskImageText;
    }
    unchanged = describeUnchanged(
        d88, reader.buffers(), reader.disk, {}, [&listing, output](const DiskListing& disk) {
          if (output == Output::Text) {
            listing += formatDiskText(disk);
          } else {
            listing += (disk.index > 0 ? kJsonLineDiskSeparator : "") + formatDiskJson(disk);
          }
        });
  }
  unchanged = unchanged && keptStill(d88, file, before);
  // Closes the file: a collection may hold more files than may be open.
  (void)d88.open(nullptr);
  if (!unchanged) {
    result.failure = InputFailure::Changed;
    result.summary = {};
    result.err = "error: " + shown + " changed while d88info read it\n";
  }
  if (output == Output::Json) {
    result.out = unchanged ? listing + jsonLineEnd() : std::string();
  } else if (output == Output::Text) {
    // The disks read before the change was seen are listed, as for one file.
    result.out += listing;
  }
  return result;
}

// Lists or sums up every input, in the order given; 1 when any failed.
int listCollection(const Options& options, std::size_t threads) {
  const Inputs inputs = collectInputs(options.paths, options.recursive);
  const Output output = options.summary ? (options.json ? Output::SummaryJson : Output::SummaryText)
                                        : (options.json ? Output::Json : Output::Text);
  const SummaryTable table(inputs.widestShown);
  if (output == Output::SummaryText) {
    cli::writeResult(table.header());
  }
  const std::size_t count = inputs.files.size();
  Progress progress(count, count > kProgressInputs && platform::isTerminal(stderr));
  const bool sharedTerminal = platform::isTerminal(stdout) && platform::isTerminal(stderr);
  ListingSummary total;
  std::int64_t failed = 0;
  listInOrder(
      inputs.files, threads, options.summary ? threads * kSummaryWindowPerThread : threads,
      [&inputs, output](Reader& reader, const Input& input) {
        return listInput(inputs, reader, input, output);
      },
      [&](const Input&, FileResult& result) {
        const bool ok = result.failure == InputFailure::None;
        failed += ok ? 0 : 1;
        // A file that changed while it was read counts for nothing.
        if (ok) {
          total += result.summary;
        }
        if (output == Output::SummaryText) {
          result.out = ok ? table.row(result.shown, result.summary)
                          : table.failedRow(result.shown, result.failure);
        } else if (output == Output::SummaryJson) {
          result.out = ok ? summaryJsonLine(result.shown, result.summary)
                          : jsonFailureLine(result.shown, result.failure);
        } else if (output == Output::Json && !ok) {
          // Every failed input has its line, as in the summary.
          result.out = jsonFailureLine(result.shown, result.failure);
        }
        if (sharedTerminal || !result.err.empty()) {
          progress.clear();
        }
        cli::writeResult(result.out);
        if (!result.err.empty()) {
          std::fflush(stdout);
          d88text::writeText(stderr, result.err);
        }
        progress.advance(result.bytes);
        // Output that cannot be written ends the run: nothing more is read.
        return !cli::resultFailing();
      });
  // The total starts a line of its own, not the progress line's.
  if (sharedTerminal || cli::resultFailing()) {
    progress.clear();
  }
  // A run stopped by its output has no total and no last progress line.
  if (!cli::resultFailing()) {
    if (output == Output::SummaryText) {
      cli::writeResult(table.total(static_cast<std::int64_t>(count), failed, total));
    } else if (output == Output::SummaryJson) {
      cli::writeResult(summaryJsonTotal(static_cast<std::int64_t>(count), failed, total));
    }
    progress.finish();
  }
  if (!cli::resultWritten("listing")) {
    return 1;
  }
  return failed > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  cli::ignoreBrokenPipe();
  const std::vector<std::string> arguments = platform::utf8Arguments(argc, argv);
  CLI::App app;
  const help::Language language = help::languageOfRun();
  cli::prepareCommandLine(app, cli::programName(argc, argv, kDefaultProgramName), "d88info",
                          language);
  Options options;
  app.add_flag("--json", options.json, info_help::kJson.in(language));
  static_assert(kJsonSchemaVersion == 6, "the help names the schema version");
  app.add_flag("--summary", options.summary, info_help::kSummary.in(language));
  app.add_flag("-r", options.recursive, info_help::kRecursive.in(language));
  cli::numberIn(app, app.add_option("-j", options.threads, info_help::kThreads.in(language)), "N",
                1, kMostThreads, language);
  app.add_option("PATH", options.paths, info_help::kPath.in(language))->required()->type_name("");
  if (const auto status = cli::parseCommandLine(app, arguments)) {
    return *status;
  }
  const std::size_t cores = std::max(1U, std::thread::hardware_concurrency());
  const std::size_t threads = options.threads.empty() ? cores : std::stoul(options.threads);
  // One file without the collection's options lists as it always has.
  if (options.paths.size() == 1 && !options.recursive && !options.summary) {
    return listOneFile(platform::pathFromUtf8(options.paths.front()), options.json);
  }
  return listCollection(options, threads);
}
