// The page's way into the libraries, on an image kept in Emscripten's
// in-memory file system: the listing exactly as d88info --json prints it,
// each file's bytes as d88extract -a writes them, and edited files put back
// with d88put's checks and messages.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "disk/listing.h"
#include "disk/put_back.h"
#include "disk/summary.h"
#include "format/catalogue.h"
#include "format/listing_json.h"
#include "format/listing_text.h"
#include "format/put_report.h"
#include "format/put_words.h"
#include "text/d88_text.h"
#include "text/string_format.h"

using namespace disk;
using namespace format;

namespace {

using emscripten::val;

// The page writes the image it is given here (Module.FS) and reads it back
// from here after a put-back.
constexpr char kImagePath[] = "/image.d88";

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

// The document d88info --json prints for the image at kImagePath (empty
// when it cannot be opened), as {json}.
val listing() {
  val result = val::object();
  if (!openImage()) {
    result.set("json", std::string());
    return result;
  }
  std::string json = jsonDocumentStart();
  describeImage(image, buffers, [&](const DiskListing& disk) {
    if (disk.index > 0) {
      json += kJsonDiskSeparator;
    }
    json += formatDiskJson(disk);
  });
  result.set("json", json + jsonDocumentEnd());
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

// The changed image's bytes, in memory.
class BytesSink final : public ByteSink {
 public:
  [[nodiscard]] bool write(const std::uint8_t* bytes, std::size_t count) override {
    this->bytes.insert(this->bytes.end(), bytes, bytes + count);
    return true;
  }
  std::vector<std::uint8_t> bytes;
};

// The page's writer: the changed image made in memory, then written over
// the image in the in-memory file system.
class MemoryFileWriter final : public ImageWriter {
 public:
  [[nodiscard]] bool writes(bool changes) const override { return changes; }

  [[nodiscard]] bool write(PatchedImage& image, Diagnostics& diagnostics) override {
    BytesSink sink;
    const bool copied = image.writeTo(sink);
    image.release();
    std::FILE* out = copied ? std::fopen(kImagePath, "wb") : nullptr;
    const bool written = out != nullptr && std::fwrite(sink.bytes.data(), 1, sink.bytes.size(),
                                                       out) == sink.bytes.size();
    if (out != nullptr && std::fclose(out) == 0 && written) {
      return true;
    }
    diagnostics.push_back({Severity::Error, "cannot write the changed image"});
    return false;
  }
};

// Puts back `files`, an array of {disk, name, bytes}, as d88put does with a
// folder holding just them, and with `resize` as d88put --resize does. On
// success the image at kImagePath is replaced by the changed one; on any
// error it stays as it was. Returns {accepted, out, err}: d88put's standard
// output and standard error.
val putBackEdits(const val& files, bool resize) {
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
    PlanOptions options;
    options.resize = resize;
    accepted = putBack(image, patchedImage, edits, writer, plan, options);
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

namespace {

// ---- The explorer: a summary of every disk, a map of one, a file's bytes
// as a hex dump and as text.

// A D88 file holds its disks' sizes as signed 32-bit numbers: a larger file
// cannot be one.
constexpr double kLargestImage = 2147483647.0;
static_assert(kLargestImage == static_cast<double>(INT32_MAX), "the largest D88 size field");
constexpr std::int32_t kHexLineBytes = 16;
// A file's bytes for the preview, kept until the next file is opened.
std::vector<std::uint8_t> previewBytes;

// Whether the bytes read as plain ASCII text (printable, tab, CR, LF).
bool readsAsText(const std::uint8_t* bytes, std::size_t size) {
  return std::all_of(bytes, bytes + size, [](std::uint8_t byte) {
    return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\r' || byte == '\n';
  });
}

// Megabytes of a size, as the warnings give it.
std::string megabytes(double size) {
  return d88text::format("%.0f", size / 1e6);
}

// Why the file does not look like a D88 file, or why a disk is cut short,
// as the key of the page's words and their numbers; null when nothing is
// amiss. A first disk whose size field is negative, or reaches past the
// file with a media type no writer uses, or whose name and size field read
// as text, is taken for another kind of file.
nlohmann::ordered_json diskWarning(const DiskListing& disk, std::int64_t fileSize) {
  if (!disk.headerComplete) {
    return nullptr;
  }
  const std::int64_t end = static_cast<std::int64_t>(disk.offset) + disk.sizeField;
  const bool pastEnd = end > fileSize;
  if (disk.index == 0) {
    // The size field's bytes as the file holds them, little-endian.
    std::array<std::uint8_t, 4> size{};
    for (std::size_t i = 0; i < size.size(); ++i) {
      size[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(disk.sizeField) >> (8 * i));
    }
    const bool text = readsAsText(disk.nameField.data(), disk.nameField.size()) &&
                      readsAsText(size.data(), size.size());
    const bool knownMedia = std::string_view(mediaName(disk.mediaType)) != "unknown";
    if (disk.sizeField < 0 || (pastEnd && (text || !knownMedia))) {
      return {{"key", "warnForeignSize"},
              {"claims", megabytes(static_cast<double>(disk.sizeField))},
              {"fileSize", fileSize}};
    }
    if (text) {
      return {{"key", "warnForeignText"}};
    }
  }
  if (pastEnd) {
    return {{"key", "warnCutShort"}, {"claims", disk.sizeField}, {"holds", fileSize - disk.offset}};
  }
  return nullptr;
}

// A disk as formatDiskHeaderJson gives it, with the page's own fields: its
// folder in d88extract's tree, its warning, and the tracks it has and those
// past its size.
nlohmann::ordered_json diskSummary(const DiskListing& disk, std::int64_t fileSize) {
  nlohmann::ordered_json json = nlohmann::ordered_json::parse(formatDiskHeaderJson(disk));
  json["folder"] = diskFolderName(disk.index).data();
  json["warning"] = diskWarning(disk, fileSize);
  if (disk.headerComplete) {
    const auto pastSize = std::count_if(disk.tracks.begin(), disk.tracks.end(),
                                        [](const TrackListing& track) { return track.pastSize; });
    json["tracks"] = static_cast<std::int64_t>(disk.tracks.size()) - pastSize;
    json["pastSize"] = pastSize;
  }
  return json;
}

// The files of disk `disk` as formatFilesJson lists them, each marked with
// whether it is written, whether it is the last written of its name (the
// one the folder holds) and whether it can be replaced: the rows of its
// table, read when they are first shown.
std::string diskFiles(std::int32_t disk) {
  if (disk < 0 || disk >= image.diskCount()) {
    return "[]";
  }
  filesOfDisk = -1;
  describeDisk(image, disk, buffers, filesOf, {false, true});
  const std::vector<bool> last = lastOfTheirName(filesOf.files);
  nlohmann::ordered_json files = nlohmann::ordered_json::parse(formatFilesJson(filesOf));
  for (std::size_t i = 0; i < filesOf.files.size(); ++i) {
    const FileVerdict verdict = filesOf.files[i].verdict;
    files[i]["written"] = isWritten(verdict);
    files[i]["last"] = static_cast<bool>(last[i]);
    files[i]["changeable"] = last[i] && isChangeable(verdict);
  }
  return files.dump();
}

// {fileSize, disks}: what the page shows of every disk at once, as JSON:
// by disk its header fields, the name as d88info's text writes it, a
// warning when it does not look like a disk, its tracks, and where its
// files lie. No chain is read.
std::string summary() {
  nlohmann::ordered_json disks = nlohmann::ordered_json::array();
  std::int64_t fileSize = 0;
  if (openImage()) {
    fileSize = image.fileSize();
    for (std::int32_t i = 0; i < image.diskCount(); ++i) {
      describeDisk(image, i, buffers, filesOf, {true, false});
      disks.push_back(diskSummary(filesOf, fileSize));
    }
    filesOfDisk = -1;
  }
  return nlohmann::ordered_json{{"fileSize", fileSize}, {"disks", std::move(disks)}}.dump();
}

// Whether a file of `size` bytes can be a D88 file at all.
bool mayBeImage(double size) {
  return size >= 0 && size <= kLargestImage;
}

// The disk index a folder name of d88extract's tree stands for; -1 for a
// name it never gives.
std::int32_t diskOfFolder(const std::string& name) {
  return isDiskFolderName(name) ? std::stoi(name) : -1;
}

// The map of disk `disk`: by track slot the sectors of the layout's
// geometry, each with the files whose chains read it, whether a chain asks
// for it and does not find it (or finds it cut short), and whether the
// track's walk holds it; the table tracks named.
std::string diskMap(std::int32_t disk) {
  if (disk < 0 || disk >= image.diskCount()) {
    return "null";
  }
  filesOfDisk = -1;
  DiskListing listing;
  describeDisk(image, disk, buffers, listing);
  const DiskLayout& layout = layoutOf(listing.kind);
  const TrackGeometry& geometry = layout.geometry;
  const std::int32_t perTrack = geometry.sectorsPerTrack();
  // Cells by slot, then sector.
  struct Cell {
    std::vector<std::int32_t> owners;
    bool missing = false;
    bool stored = false;
  };
  std::vector<Cell> cells(static_cast<std::size_t>(d88::kTrackCount * perTrack));
  const auto cellOf = [&](std::int32_t slot, std::int32_t r) -> Cell* {
    // A damaged table can name a track or sector outside the grid.
    if (slot < 0 || slot >= d88::kTrackCount || r < geometry.firstSector ||
        r > geometry.lastSector) {
      return nullptr;
    }
    return &cells[static_cast<std::size_t>(slot * perTrack + r - geometry.firstSector)];
  };
  std::int32_t lastSlot = -1;
  for (const TrackListing& track : listing.tracks) {
    for (const d88::SectorRecordInfo& record : track.records) {
      if (record.id.c == d88::cylinderOfSlot(track.slot) &&
          record.id.h == d88::headOfSlot(track.slot) && record.id.n == geometry.sizeCode) {
        if (Cell* cell = cellOf(track.slot, record.id.r)) {
          cell->stored = true;
          lastSlot = std::max(lastSlot, track.slot);
        }
      }
    }
  }
  std::vector<d88::ChainStep> steps;
  for (std::size_t i = 0; i < listing.files.size(); ++i) {
    const DiskFile& file = listing.files[i].file;
    steps.clear();
    (void)planFileChain(image, file, steps);
    const std::int32_t wanted = file.offset + file.size;
    for (const d88::ChainStep& step : steps) {
      if (Cell* cell = cellOf(step.sector.track, step.sector.r)) {
        cell->owners.push_back(static_cast<std::int32_t>(i));
        // A missing sector, or one whose stored bytes end before the step.
        cell->missing = cell->missing || step.position < 0 ||
                        step.length < std::min(geometry.sectorSize(), wanted - step.chainOffset);
        lastSlot = std::max(lastSlot, step.sector.track);
      }
    }
  }
  nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
  for (std::int32_t slot = 0; slot <= lastSlot; ++slot) {
    nlohmann::ordered_json row = nlohmann::ordered_json::array();
    for (std::int32_t r = geometry.firstSector; r <= geometry.lastSector; ++r) {
      const Cell& cell = *cellOf(slot, r);
      row.push_back({{"o", cell.owners}, {"m", cell.missing}, {"s", cell.stored}});
    }
    tracks.push_back(std::move(row));
  }
  nlohmann::ordered_json tables = nlohmann::ordered_json::array();
  if (listing.kind != DiskKind::Unknown) {
    tables = {layout.tables[0].track, layout.tables[1].track};
  }
  nlohmann::ordered_json fixed = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < layout.fixed.count; ++i) {
    fixed.push_back(layout.fixed.files[i].name);
  }
  return nlohmann::ordered_json{{"firstSector", geometry.firstSector},
                                {"sizeCode", geometry.sizeCode},
                                {"tables", tables},
                                {"fixed", fixed},
                                {"tracks", tracks}}
      .dump();
}

// Keeps the bytes of file `index` of disk `disk` for the preview; returns
// their count, -1 for a file that is not written.
double previewOpen(std::int32_t disk, std::int32_t index) {
  previewBytes.clear();
  const val bytes = fileBytes(disk, index);
  if (bytes.isNull()) {
    return -1;
  }
  const std::uint8_t* start =
      chainBuffer.data() + filesOf.files[static_cast<std::size_t>(index)].file.offset;
  previewBytes.assign(start, start + bytes["length"].as<std::size_t>());
  return static_cast<double>(previewBytes.size());
}

// The character a hex dump shows for the byte at `at`, and how many bytes
// it stands for: printable ASCII as it is, a Shift_JIS character decoded,
// anything else '.'.
std::pair<std::string, std::size_t> dumpCharacter(std::size_t at) {
  const std::uint8_t byte = previewBytes[at];
  if (byte >= 0x20 && byte < 0x7F) {
    return {std::string(1, static_cast<char>(byte)), 1};
  }
  if (byte < 0x80) {
    return {".", 1};
  }
  const std::size_t left = previewBytes.size() - at;
  const std::string pair =
      d88text::decodeCp932(&previewBytes[at], std::min<std::size_t>(2, left), false);
  // One character from two bytes: no continuation byte starts a second one.
  const auto starts = std::count_if(pair.begin(), pair.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  });
  if (left >= 2 && starts == 1 && pair[0] != '\\') {
    return {pair, 2};
  }
  const std::string single = d88text::decodeCp932(&previewBytes[at], 1, false);
  return {single[0] == '\\' ? std::string(".") : single, 1};
}

// Lines `first` to `first + count - 1` of the preview's hex dump, laid out
// as xxd lays them out: offset, 16 bytes in pairs, their characters. A
// character of two bytes shows at its first byte, its second byte as a
// space.
std::string previewHex(double first, double count) {
  std::string text;
  const std::size_t size = previewBytes.size();
  std::size_t at = static_cast<std::size_t>(first) * kHexLineBytes;
  const std::size_t end = std::min(size, at + static_cast<std::size_t>(count) * kHexLineBytes);
  // A character begun on the line before covers this line's first byte.
  std::size_t covered = at;
  if (at > 0 && at < size) {
    for (covered = 0; covered < at;) {
      covered += dumpCharacter(covered).second;
    }
  }
  for (; at < end; at += kHexLineBytes) {
    d88text::appendFormat(text, "%08zx:", at);
    const std::size_t lineEnd = std::min(size, at + kHexLineBytes);
    for (std::size_t i = at; i < at + kHexLineBytes; ++i) {
      if (i % 2 == 0) {
        text += ' ';
      }
      text += i < lineEnd ? d88text::format("%02x", static_cast<unsigned>(previewBytes[i])) : "  ";
    }
    text += "  ";
    for (std::size_t i = at; i < lineEnd;) {
      if (i < covered) {
        text += ' ';
        ++i;
        continue;
      }
      const auto [shown, bytes] = dumpCharacter(i);
      text += shown;
      covered = i + bytes;
      i += bytes == 2 && i + 1 == lineEnd ? 1 : bytes;
    }
    text += '\n';
  }
  return text;
}

// The preview's bytes as Shift_JIS text, decoded as d88info decodes names
// (what no character decodes to as \xNN), with its tabs and line ends kept
// as they are.
std::string previewText() {
  std::string text;
  const std::uint8_t* bytes = previewBytes.data();
  const std::size_t size = previewBytes.size();
  std::size_t start = 0;
  for (std::size_t i = 0; i <= size; ++i) {
    const bool kept = i < size && (bytes[i] == '\r' || bytes[i] == '\n' || bytes[i] == '\t');
    if (i == size || kept) {
      text += d88text::decodeCp932(bytes + start, i - start, false);
      if (kept) {
        text += static_cast<char>(bytes[i]);
      }
      start = i + 1;
    }
  }
  return text;
}

// ---- A catalogue of several D88 files, each summed up as d88info --summary
// sums it up. The page writes the files one at a time to kCataloguePath.

constexpr char kCataloguePath[] = "/catalogue.d88";
ListingSummary catalogueTotal;
std::int64_t catalogueInputs = 0;
std::int64_t catalogueFailed = 0;

void catalogueStart() {
  catalogueTotal = {};
  catalogueInputs = 0;
  catalogueFailed = 0;
}

// The line d88info --summary --json prints for the file at kCataloguePath,
// shown as `shown`; the file counts towards the total.
std::string catalogueAdd(const std::string& shown) {
  ++catalogueInputs;
  // Its own reader: the image on show stays open as it is.
  d88::D88Image file;
  if (!file.open(kCataloguePath)) {
    ++catalogueFailed;
    return jsonFailureLine(shown, InputFailure::CannotOpen);
  }
  filesOfDisk = -1;
  ListingSummary summary;
  DiskListing disk;
  // A file that changed while it was read, as d88info counts it.
  if (!summariseImage(file, buffers, disk, summary)) {
    ++catalogueFailed;
    return jsonFailureLine(shown, InputFailure::Changed);
  }
  catalogueTotal += summary;
  return summaryJsonLine(shown, summary);
}

// The total line d88info --summary --json ends with.
std::string catalogueEnd() {
  return summaryJsonTotal(catalogueInputs, catalogueFailed, catalogueTotal);
}
}  // namespace

EMSCRIPTEN_BINDINGS(d88explorer) {
  emscripten::function("summary", &summary);
  emscripten::function("diskFiles", &diskFiles);
  emscripten::function("mayBeImage", &mayBeImage);
  emscripten::function("diskOfFolder", &diskOfFolder);
  emscripten::function("diskMap", &diskMap);
  emscripten::function("previewOpen", &previewOpen);
  emscripten::function("previewHex", &previewHex);
  emscripten::function("previewText", &previewText);
  emscripten::function("catalogueStart", &catalogueStart);
  emscripten::function("catalogueAdd", &catalogueAdd);
  emscripten::function("catalogueEnd", &catalogueEnd);
}
