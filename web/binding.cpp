// The page's way into the libraries, on an image kept in Emscripten's
// in-memory file system: the listing exactly as d88info --json prints it,
// each file's bytes as d88extract -a writes them, and edited files put back
// with d88put's checks and messages.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <array>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "listing.h"
#include "listing_json.h"
#include "listing_text.h"
#include "listing_words.h"
#include "put_back.h"
#include "put_report.h"
#include "string_format.h"

namespace {

using emscripten::val;

// The page writes the image it is given here (Module.FS) and reads it back
// from here after a put-back.
constexpr char kImagePath[] = "/image.d88";
constexpr char kNewImagePath[] = "/image.d88.new";

// The image, and the image opened a second time, to read it with the
// changes laid over.
d88::D88Image image;
d88::D88Image patchedImage;
// The room its disks are read into.
TableBuffers tables;
ExtractBuffer chainBuffer;
const DiskBuffers buffers{tables, chainBuffer.data()};
// The files of the disk last asked for: a download of every file reads each
// disk's tables once.
DiskListing filesOf;
std::int32_t filesOfDisk = -1;

bool openImage() {
  filesOfDisk = -1;
  return image.open(kImagePath);
}

// The page's words for a file's verdict.
std::string verdictText(const FileListing& file) {
  const VerdictWords& words = verdictWords(file.verdict);
  if (file.verdict == FileVerdict::Incomplete) {
    return d88text::format("incomplete: chain breaks, read %04X of %04X bytes, rest zero-filled",
                           static_cast<unsigned>(file.bytesRead),
                           static_cast<unsigned>(file.file.size));
  }
  return words.reasonText == nullptr ? std::string(words.verdict)
                                     : std::string(words.verdict) + ": " + words.reasonText;
}

// What the page shows beside the listing, so that it has no rule of its
// own: the disk's folder in d88extract's tree and, by file, whether it is
// written, whether it is the last written of its name (the one the folder
// holds), and its verdict in words.
nlohmann::ordered_json diskMarks(const DiskListing& disk) {
  const std::vector<bool> last = lastOfTheirName(disk.files);
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < disk.files.size(); ++i) {
    files.push_back({{"written", isWritten(disk.files[i].verdict)},
                     {"last", static_cast<bool>(last[i])},
                     {"verdict", verdictText(disk.files[i])}});
  }
  return {{"folder", diskFolderName(disk.index).data()}, {"files", std::move(files)}};
}

// {json, marks}: the document d88info --json prints for the image at
// kImagePath (empty when it cannot be opened), and the page's marks of each
// disk (diskMarks), as a JSON array.
val listing() {
  val result = val::object();
  if (!openImage()) {
    result.set("json", std::string());
    result.set("marks", std::string("[]"));
    return result;
  }
  std::string json = jsonDocumentStart();
  nlohmann::ordered_json marks = nlohmann::ordered_json::array();
  describeImage(image, buffers, [&](const DiskListing& disk) {
    if (disk.index > 0) {
      json += kJsonDiskSeparator;
    }
    json += formatDiskJson(disk);
    marks.push_back(diskMarks(disk));
  });
  result.set("json", json + jsonDocumentEnd());
  result.set("marks", marks.dump());
  return result;
}

// Disk `disk` as d88info's text lists it (the page shows its track lines).
std::string diskText(std::int32_t disk) {
  if (disk < 0 || disk >= image.diskCount()) {
    return {};
  }
  filesOfDisk = -1;
  describeDisk(image, disk, buffers, filesOf);
  return formatDiskText(filesOf);
}

// The bytes d88extract -a writes for file `index` of disk `disk` (incomplete
// files zero-filled past the break), as a view for the caller to copy; null
// for a file it does not write.
val fileBytes(std::int32_t disk, std::int32_t index) {
  if (disk < 0 || disk >= image.diskCount()) {
    return val::null();
  }
  if (filesOfDisk != disk) {
    describeDisk(image, disk, buffers, filesOf, kFileListOnly);
    filesOfDisk = disk;
  }
  if (index < 0 || static_cast<std::size_t>(index) >= filesOf.files.size()) {
    return val::null();
  }
  const FileListing file = listFile(image, chainBuffer.data(), filesOf.files[index].file);
  if (!isWritten(file.verdict)) {
    return val::null();
  }
  return val(emscripten::typed_memory_view(static_cast<std::size_t>(file.file.size),
                                           chainBuffer.data() + file.file.offset));
}

// The page's writer: the changed image written beside the image in the
// in-memory file system, then renamed over it.
class MemoryFileWriter final : public ImageWriter {
 public:
  [[nodiscard]] bool writes(bool changes) const override { return changes; }

  [[nodiscard]] bool write(const std::function<bool(std::FILE*)>& copy,
                           const std::function<void()>& release,
                           Diagnostics& diagnostics) override {
    std::FILE* out = std::fopen(kNewImagePath, "wb");
    bool copied = out != nullptr && copy(out);
    copied = out != nullptr && std::fclose(out) == 0 && copied;
    release();
    if (copied && std::rename(kNewImagePath, kImagePath) == 0) {
      return true;
    }
    diagnostics.push_back({Severity::Error, "cannot write the changed image"});
    std::remove(kNewImagePath);
    return false;
  }
};

// Puts back `files`, an array of {disk, name, bytes}, as d88put does with a
// folder holding just them. On success the image at kImagePath is replaced
// by the changed one; on any error it stays as it was. Returns {accepted,
// out, err}: d88put's standard output and standard error.
val putBackEdits(const val& files) {
  MemoryEdits edits;
  const std::size_t count = files["length"].as<std::size_t>();
  for (std::size_t i = 0; i < count; ++i) {
    const val file = files[i];
    edits.add(file["disk"].as<int>(), file["name"].as<std::string>(),
              emscripten::convertJSArrayToNumberVector<std::uint8_t>(file["bytes"]));
  }
  PutPlan plan;
  MemoryFileWriter writer;
  std::string err;
  bool accepted = openImage() && patchedImage.open(kImagePath);
  if (accepted) {
    accepted = putBack(image, patchedImage, edits, writer, plan);
    for (const Diagnostic& diagnostic : plan.diagnostics) {
      err += diagnosticLine(diagnostic) + "\n";
    }
  }
  // The plan, and with it the overlay, ends here.
  patchedImage.setOverlay(nullptr);
  (void)patchedImage.open(nullptr);
  (void)openImage();
  const std::string out = accepted ? putReport(plan, false) : std::string();
  val result = val::object();
  result.set("accepted", accepted);
  result.set("out", out);
  result.set("err", err);
  return result;
}

}  // namespace

EMSCRIPTEN_BINDINGS(d88web) {
  emscripten::function("listing", &listing);
  emscripten::function("diskText", &diskText);
  emscripten::function("fileBytes", &fileBytes);
  emscripten::function("putBack", &putBackEdits);
}
