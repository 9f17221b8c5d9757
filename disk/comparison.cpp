#include "disk/comparison.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "disk/listing.h"
#include "disk/room.h"
#include "disk/table_ends.h"

namespace disk {

namespace {

// Whether moving later files would take file `file` of `disk` at `size`
// bytes, the only size change of its table.
bool resizeWouldTake(PlanWork& work, const RecognisedDisk& disk, std::size_t file,
                     std::uint64_t size) {
  if (whyFixedSize(disk, file) != RefusalCode::None || !fitsExtractBuffer(size)) {
    return false;
  }
  const DiskFile& of = disk.file(file);
  const DiskUsage& usage = work.usageOf(disk);
  const TableFit fit(work.original, usage, disk.kind, of.table, disk.tables);
  if (!fit.fixedSize(of.entry).empty() || !fit.unfitFrom(of.entry).empty()) {
    return false;
  }
  const std::int32_t at = fit.addressOf(of.entry);
  const std::int32_t by = static_cast<std::int32_t>(size) - (fit.addressOf(of.entry + 1) - at);
  // Only whether the growth fits is asked.
  const TableRoom blank =
      measureRoom(work.original, usage, fit.addressOf(fit.shape().lastEntry()), std::max(by, 1));
  return fit.refusedChange(of.entry, by, blank).empty();
}

// Whether two table files of `disk` are named `name`: the folder holds one
// file of a name, and which of the two it means is unknown.
bool namedTwice(const RecognisedDisk& disk, const std::string& name) {
  std::int32_t named = 0;
  for (const FileListing& listing : disk.files) {
    named += listing.file.table >= 0 && name == listing.file.name.data() ? 1 : 0;
  }
  return named > 1;
}

// The edit of another size than the disk's file `file`: kept whole for the
// re-laying when sizes may change and this one can; refused otherwise.
void compareSize(PlanWork& work, const RecognisedDisk& disk, std::size_t file, std::uint64_t size,
                 Refusal& refusal, std::vector<ResizeEdit>& resizes) {
  const DiskFile& of = disk.file(file);
  refusal.size = size;
  if (!work.options.resize) {
    refusal.code = RefusalCode::OtherSize;
    refusal.was = of.size;
    refusal.resizeWouldTake = resizeWouldTake(work, disk, file, size);
    return;
  }
  if (const RefusalCode fixed = whyFixedSize(disk, file); fixed != RefusalCode::None) {
    refusal.code = fixed;
    return;
  }
  if (namedTwice(disk, of.name.data())) {
    refusal.code = RefusalCode::NamedTwice;
    refusal.name = of.name.data();
    return;
  }
  // No table file reaches past the extraction buffer.
  if (!fitsExtractBuffer(size)) {
    refusal.code = RefusalCode::PastExtractBuffer;
    refusal.was = kExtractBufferSize;
    return;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!work.edits.read(disk.index, of.name.data(), bytes)) {
    refusal.code = RefusalCode::CannotRead;
    return;
  }
  resizes.push_back({file, refusal.file, std::move(bytes)});
}

// Compares an edit with file `file` of `disk`, whose chain was just read
// into the buffer; a refusal goes to `refusal`.
void compareFile(PlanWork& work, RecognisedDisk& disk, std::size_t file, Refusal& refusal,
                 std::vector<ResizeEdit>& resizes) {
  const FileListing& listing = disk.files.at(file);
  const DiskFile& of = listing.file;
  const std::string name = of.name.data();
  refusal.file = work.edits.shownName(disk.index, name);
  const std::optional<std::uint64_t> size = work.edits.sizeOf(disk.index, name);
  if (!size) {
    refusal.code = RefusalCode::CannotRead;
    return;
  }
  if (*size != static_cast<std::uint64_t>(of.size)) {
    compareSize(work, disk, file, *size, refusal, resizes);
    return;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
  if (!work.edits.read(disk.index, name, bytes)) {
    refusal.code = RefusalCode::CannotRead;
    return;
  }
  if (std::equal(bytes.begin(), bytes.end(), work.buffer.get() + of.offset)) {
    ++work.plan.unchanged;
    work.countedUnchanged.insert(file);
    return;
  }
  std::vector<FileSpan> spans = fileSpansOf(work.original, of, work.steps);
  // Bytes past a break in the chain have no place on the disk.
  if (!isChangeable(listing.verdict)) {
    const d88::ChainStep& broken = work.steps.back();
    refusal.code = RefusalCode::ChainBreaks;
    refusal.track = broken.sector.track;
    refusal.r = broken.sector.r;
    return;
  }
  work.changed.push_back({disk.index, file, of, refusal.file, std::move(bytes), std::move(spans)});
}

// The disk's notices and refusals, in name order: an edit of no file on the
// disk is a notice, or a new file of a table.
void addMessages(PlanWork& work, const RecognisedDisk& disk, const std::set<std::string>& names,
                 const LastOfName& last, std::map<std::string, Diagnostic>& messages) {
  std::vector<std::string> unknown;
  std::copy_if(names.begin(), names.end(), std::back_inserter(unknown),
               [&](const std::string& name) { return !last.claimed(name); });
  findAddedFiles(work, disk, unknown, messages);
  for (const auto& [name, message] : messages) {
    if (!message.text.empty() || message.refusal.code != RefusalCode::None) {
      work.add(message);
    }
  }
}

}  // namespace

RefusalCode whyFixedSize(const RecognisedDisk& disk, std::size_t file) {
  if (disk.kind == DiskKind::Unknown) {
    return RefusalCode::UnknownDisk;
  }
  const DiskFile& of = disk.file(file);
  if (of.table < 0) {
    return RefusalCode::FixedFile;
  }
  return of.entry == 0 ? RefusalCode::FirstEntry : RefusalCode::None;
}

void compareDisk(PlanWork& work, RecognisedDisk& disk, const DiskEdits& edits,
                 std::vector<ResizeEdit>& resizes) {
  // By name, so that they come in name order.
  std::map<std::string, Diagnostic> messages;
  for (const auto& [name, text] : edits.ignored) {
    messages[name] = {Severity::Notice, text};
  }
  const std::set<std::string> names(edits.names.begin(), edits.names.end());
  work.countedUnchanged.clear();
  work.added.clear();
  work.removed.clear();
  DiskSummary& summary = work.summaries[disk.index];
  summary.kind = disk.kind;
  summary.written.assign(disk.files.size(), false);
  // Of several files of one name the folder holds the one written last.
  // The files are read in disk order, as the chains lie, and a file whose
  // name no other has is compared while its chain is in the buffer; the
  // names a damaged table gives twice are settled afterwards, backwards.
  std::map<std::string, int> named;
  for (const FileListing& listing : disk.files) {
    ++named[listing.file.name.data()];
  }
  LastOfName last;
  auto compare = [&](std::size_t i) {
    const std::string name = disk.files[i].file.name.data();
    if (!isWritten(disk.files[i].verdict) || !last.claim(name) || names.count(name) == 0) {
      return;
    }
    Refusal refusal;
    compareFile(work, disk, i, refusal, resizes);
    if (refusal.code != RefusalCode::None) {
      messages[name] = {Severity::Error, refusal};
    }
  };
  for (std::size_t i = 0; i < disk.files.size(); ++i) {
    FileListing& listing = disk.files[i];
    listing = listFile(work.original, work.buffer.get(), listing.file);
    summary.written[i] = isWritten(listing.verdict);
    if (named[listing.file.name.data()] == 1) {
      compare(i);
    }
  }
  for (std::size_t i = disk.files.size(); i-- > 0;) {
    const FileListing& listing = disk.files[i];
    if (named[listing.file.name.data()] > 1 && isWritten(listing.verdict) &&
        !last.claimed(listing.file.name.data()) && names.count(listing.file.name.data()) != 0) {
      // The chain is read again into the buffer the comparison reads.
      (void)listFile(work.original, work.buffer.get(), listing.file);
      compare(i);
    }
  }
  findRemovals(work, disk, resizes);
  addMessages(work, disk, names, last, messages);
}

}  // namespace disk
