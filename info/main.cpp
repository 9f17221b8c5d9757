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

// One D88 file, as before collections: the listing streamed disk by disk,
// nothing but the open error when it cannot be opened.
int listOneFile(const std::filesystem::path& path, bool json) {
  if (!image.openFile(platform::openInput(path))) {
    writeOpenError();
    return 1;
  }
  // The scan counts only disks whose header the file holds whole: a header
  // that cannot be read again means the file changed under the listing,
  // which then stops where it is.
  bool changed = false;
  if (json) {
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

enum class Output { Text, Json, SummaryText, SummaryJson };

// Lists one input of a collection whole, with the thread's reader.
FileResult listInput(Reader& reader, const Input& input, Output output) {
  FileResult result;
  if (output == Output::Text) {
    result.out = "== " + input.shown + "\n";
  }
  if (input.failure != InputFailure::None) {
    result.failure = input.failure;
    result.err = "error: cannot list the folder " + input.shown + ": " + input.reason + "\n";
    return result;
  }
  d88::D88Image& d88 = reader.image;
  if (!d88.openFile(platform::openInput(input.path))) {
    result.failure = InputFailure::CannotOpen;
    result.err = input.shown + ": " + d88text::messageText(messages::kOpenError) + "\n";
    return result;
  }
  result.bytes = d88.fileSize();
  const bool summary = output == Output::SummaryText || output == Output::SummaryJson;
  std::string listing = output == Output::Json ? jsonLineStart(input.shown) : std::string();
  if (output == Output::Text && d88.diskCount() == 0) {
    listing = kNoDiskImageText;
  }
  for (std::int32_t index = 0; index < d88.diskCount(); ++index) {
    describeDisk(d88, index, reader.buffers(), reader.disk,
                 summary ? kSummaryParts : DescribeParts{});
    // A header found by the scan that no longer reads whole: the file changed.
    if (!reader.disk.headerComplete) {
      result.failure = InputFailure::Changed;
      result.err = "error: " + input.shown + " changed while d88info read it\n";
      break;
    }
    result.summary.add(reader.disk);
    if (output == Output::Text) {
      listing += formatDiskText(reader.disk);
    } else if (output == Output::Json) {
      listing += (index > 0 ? kJsonLineDiskSeparator : "") + formatDiskJson(reader.disk);
    }
  }
  // Closes the file: a collection may hold more files than may be open.
  (void)d88.open(nullptr);
  if (output == Output::Json) {
    result.out = result.failure == InputFailure::None
                     ? listing + jsonLineEnd()
                     : jsonFailureLine(input.shown, result.failure);
  } else if (output == Output::Text) {
    // The disks before the change are listed, as for one file.
    result.out += listing;
  }
  return result;
}

// Lists or sums up every input, in the order given; 1 when any failed.
int listCollection(const Options& options, std::size_t threads) {
  const std::vector<Input> inputs = collectInputs(options.paths, options.recursive);
  const Output output = options.summary ? (options.json ? Output::SummaryJson : Output::SummaryText)
                                        : (options.json ? Output::Json : Output::Text);
  std::size_t pathWidth = 0;
  for (const Input& input : inputs) {
    pathWidth = std::max(pathWidth, d88text::displayWidth(input.shown));
  }
  const SummaryTable table(pathWidth);
  if (output == Output::SummaryText) {
    writeResult(table.header());
  }
  Progress progress(inputs.size(), inputs.size() > kProgressInputs && platform::isTerminal(stderr));
  const bool sharedTerminal = platform::isTerminal(stdout) && platform::isTerminal(stderr);
  ListingSummary total;
  std::int64_t failed = 0;
  listInOrder(
      inputs, threads, options.summary ? threads * kSummaryWindowPerThread : threads,
      [output](Reader& reader, const Input& input) { return listInput(reader, input, output); },
      [&](const Input& input, FileResult& result) {
        const bool ok = result.failure == InputFailure::None;
        failed += ok ? 0 : 1;
        // A file that changed while it was read counts for nothing.
        if (ok) {
          total += result.summary;
        }
        if (output == Output::SummaryText) {
          result.out = ok ? table.row(input.shown, result.summary)
                          : table.failedRow(input.shown, result.failure);
        } else if (output == Output::SummaryJson) {
          result.out = ok ? summaryJsonLine(input.shown, result.summary)
                          : jsonFailureLine(input.shown, result.failure);
        }
        if (sharedTerminal || !result.err.empty()) {
          progress.clear();
        }
        writeResult(result.out);
        if (!result.err.empty()) {
          std::fflush(stdout);
          d88text::writeText(stderr, result.err);
        }
        progress.advance(result.bytes);
      });
  if (output == Output::SummaryText) {
    writeResult(table.total(static_cast<std::int64_t>(inputs.size()), failed, total));
  } else if (output == Output::SummaryJson) {
    writeResult(summaryJsonTotal(static_cast<std::int64_t>(inputs.size()), failed, total));
  }
  progress.finish();
  if (!resultWritten("listing")) {
    return 1;
  }
  return failed > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  ignoreBrokenPipe();
  const std::vector<std::string> arguments = platform::utf8Arguments(argc, argv);
  CLI::App app;
  const help::Language language = help::languageOfRun();
  prepareCommandLine(app, programName(argc, argv, kDefaultProgramName), "d88info", language);
  Options options;
  app.add_flag("--json", options.json, info_help::kJson.in(language));
  static_assert(kJsonSchemaVersion == 5, "the help names the schema version");
  app.add_flag("--summary", options.summary, info_help::kSummary.in(language));
  app.add_flag("-r", options.recursive, info_help::kRecursive.in(language));
  numberIn(app, app.add_option("-j", options.threads, info_help::kThreads.in(language)), "N", 1,
           kMostThreads, language);
  app.add_option("PATH", options.paths, info_help::kPath.in(language))->required()->type_name("");
  if (const auto status = parseCommandLine(app, arguments)) {
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
