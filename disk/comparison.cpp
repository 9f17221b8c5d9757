#include "disk/comparison.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "disk/listing.h"
#include "disk/room.h"

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
  DiskSummary& summary = work.summaries[disk.index];
  summary.kind = disk.kind;
  summary.written.assign(disk.files.size(), false);
  // Of several files of one name the folder holds the one written last:
  // walking backwards, that is the first met, and it is compared while its
  // chain is in the buffer, so that each chain is read once.
  LastOfName last;
  for (std::size_t i = disk.files.size(); i-- > 0;) {
    FileListing& listing = disk.files[i];
    listing = listFile(work.original, work.buffer.get(), listing.file);
    summary.written[i] = isWritten(listing.verdict);
    const std::string name = listing.file.name.data();
    if (!isWritten(listing.verdict) || !last.claim(name) || names.count(name) == 0) {
      continue;
    }
    Diagnostic& message = messages[name];
    Refusal refusal;
    compareFile(work, disk, i, refusal, resizes);
    if (refusal.code != RefusalCode::None) {
      message = {Severity::Error, refusal};
    }
  }
  for (const std::string& name : names) {
    if (!last.claimed(name)) {
      Refusal notice;
      notice.code = RefusalCode::NoSuchFile;
      notice.file = work.edits.shownName(disk.index, name);
      notice.disk = disk.index;
      messages[name] = {Severity::Notice, notice};
    }
  }
  for (const auto& [name, message] : messages) {
    if (!message.text.empty() || message.refusal.code != RefusalCode::None) {
      work.add(message);
    }
  }
}

}  // namespace disk
