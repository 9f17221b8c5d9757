#include "disk/put_back.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "disk/chain.h"
#include "disk/file_tables.h"
#include "disk/listing.h"
#include "disk/room.h"
#include "text/string_format.h"

namespace {

// Large enough for reads that bypass the reader's blocks, small enough to
// keep the memory of a copy low.
constexpr std::int64_t kCopyBlock = 64 * 1024;

// A file whose changed bytes are laid over the image.
struct ChangedFile {
  std::int32_t disk;
  std::size_t file;  // index in the disk's listing
  DiskFile entry;
  std::string name;
  // Its bytes until they are laid over the image; then the plan's laid
  // edits read them again when needed, so that memory holds one edit.
  std::vector<std::uint8_t> bytes;
  std::vector<FileSpan> spans;
  std::uint32_t laid = 0;  // its number among the laid edits
};

std::size_t hashOf(const std::vector<std::uint8_t>& bytes) {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

using d88text::format;

bool overlaps(const std::vector<FileSpan>& a, const std::vector<FileSpan>& b) {
  for (const FileSpan& x : a) {
    for (const FileSpan& y : b) {
      if (x.position < y.position + y.length && y.position < x.position + x.length) {
        return true;
      }
    }
  }
  return false;
}

class Planner {
 public:
  Planner(d88::D88Image& original, d88::D88Image& patched, EditSource& edits,
          const PlanOptions& options, PutPlan& plan)
      : original_(original), patched_(patched), edits_(edits), options_(options), plan_(plan) {}

  void run() {
    plan_.resize = options_.resize;
    Diagnostics survey;
    edits_.survey(original_.diskCount(), survey);
    for (const Diagnostic& diagnostic : survey) {
      add(diagnostic);
    }
    for (std::int32_t disk = 0; disk < original_.diskCount(); ++disk) {
      DiskEdits edits;
      std::string failure;
      const std::size_t firstPut = changed_.size();
      if (edits_.editsOf(disk, edits, failure)) {
        compareDisk(disk, edits);
      } else if (!failure.empty()) {
        refuse(failure);
      }
      layPuts(firstPut);
    }
    if (!changed_.empty()) {
      patched_.setOverlay(&plan_.overlay);
      const std::vector<bool> headerChanged = checkHeaders();
      for (std::int32_t disk = 0; disk < original_.diskCount(); ++disk) {
        // A disk whose header would change has its error already; its
        // files, read through the changed header, would only restate it.
        if (!headerChanged[static_cast<std::size_t>(disk)]) {
          checkDisk(disk);
        }
      }
    }
    for (const ChangedFile& put : changed_) {
      const DiskFile& file = put.entry;
      plan_.putBack.push_back(
          {file.name, put.disk, file.track, file.r, file.offset, file.size, put.file});
    }
  }

 private:
  // Lays the files put back from changed_[first] on, those of the disk just
  // compared, and lets their bytes go. In disk and extraction order: where
  // two files share bytes, the later one's bytes are laid last, as they
  // would be written.
  void layPuts(std::size_t first) {
    const auto begin = changed_.begin() + static_cast<std::ptrdiff_t>(first);
    std::sort(begin, changed_.end(),
              [](const ChangedFile& a, const ChangedFile& b) { return a.file < b.file; });
    for (auto put = begin; put != changed_.end(); ++put) {
      put->laid =
          plan_.laid.add(put->disk, put->entry.name.data(), put->name, std::move(put->bytes));
      std::int64_t done = 0;
      for (const FileSpan& span : put->spans) {
        plan_.overlay.putFrom(span.position, span.length, put->laid, done);
        done += span.length;
      }
    }
  }

  // Every notice of a put-back says what it ignored.
  void add(const Diagnostic& diagnostic) {
    ++(diagnostic.severity == Severity::Error ? plan_.errors : plan_.ignored);
    plan_.diagnostics.push_back(diagnostic);
  }
  void refuse(const std::string& text) { add({Severity::Error, text}); }

  void compareDisk(std::int32_t disk, const DiskEdits& edits) {
    // By name, so that they come in name order.
    std::map<std::string, Diagnostic> messages;
    for (const auto& [name, text] : edits.ignored) {
      messages[name] = {Severity::Notice, text};
    }
    const std::set<std::string> names(edits.names.begin(), edits.names.end());
    describeDisk(original_, disk, {tables_, buffer_.get()}, scratch_, kFileListOnly);
    usageOf_ = -1;
    firstTableFiles_ = 0;
    walkTable(tables_[0], 0, [&](const TableFile&) { ++firstTableFiles_; });
    resizes_.clear();
    countedUnchanged_.clear();
    DiskSummary& summary = summaries_[disk];
    summary.kind = scratch_.kind;
    summary.written.assign(scratch_.files.size(), false);
    // Of several files of one name the folder holds the one written last:
    // walking backwards, that is the first met, and it is compared while its
    // chain is in the buffer, so that each chain is read once.
    LastOfName last;
    for (std::size_t i = scratch_.files.size(); i-- > 0;) {
      const FileListing listing = listFile(original_, buffer_.get(), scratch_.files[i].file);
      summary.written[i] = isWritten(listing.verdict);
      const std::string name = listing.file.name.data();
      if (!isWritten(listing.verdict) || !last.claim(name)) {
        continue;
      }
      if (names.count(name) != 0) {
        compareFile(disk, listing, i, messages[name]);
      }
    }
    for (const std::string& name : names) {
      if (!last.claimed(name)) {
        messages[name] = {Severity::Notice,
                          "ignored: " + edits_.shownName(disk, name) +
                              format(": no file of that name on disk %d", static_cast<int>(disk))};
      }
    }
    for (const auto& [name, message] : messages) {
      if (!message.text.empty()) {
        add(message);
      }
    }
    if (!resizes_.empty()) {
      planResizes(disk);
    }
  }

  // Where a file of the disk just described lies: a fixed file (table -1),
  // or a table and its index there.
  struct FilePlace {
    std::int32_t table = -1;
    std::int32_t index = 0;
  };
  FilePlace placeOf(std::size_t file) const {
    const DiskFile& of = scratch_.files.at(file).file;
    return {of.table, of.entry};
  }

  // Why a file of the disk just described cannot change size; empty when it may.
  std::string whyFixedSize(std::size_t file) const {
    if (scratch_.kind == DiskKind::Unknown) {
      return "the disk is not recognised, and its tables mix what both probes read";
    }
    const FilePlace place = placeOf(file);
    if (place.table < 0) {
      return "BIOS and DRIVER have fixed sizes";
    }
    if (place.index == 0) {
      return "where the next file starts is part of what recognises the disk";
    }
    return std::string();
  }

  // Whether --resize would take file `file` of the disk just described at
  // `size` bytes, the only size change of its table.
  bool resizeWouldTake(std::size_t file, std::uint64_t size) {
    const FilePlace place = placeOf(file);
    if (!whyFixedSize(file).empty() || !fitsExtractBuffer(size)) {
      return false;
    }
    // One collection of the disk's byte users serves every file.
    if (usageOf_ != scratch_.index) {
      usage_.collect(original_, scratch_.kind, tables_);
      usageOf_ = scratch_.index;
    }
    const TableFit fit(original_, usage_, scratch_.kind, place.table, tables_);
    if (!fit.fixedSize(place.index).empty() || !fit.unfitFrom(place.index).empty()) {
      return false;
    }
    const std::int32_t at = fit.addressOf(place.index);
    const TableRoom blank = measureRoom(original_, usage_, fit.addressOf(fit.shape().lastEntry()));
    return fit
        .refusedChange(place.index,
                       static_cast<std::int32_t>(size) - (fit.addressOf(place.index + 1) - at),
                       blank)
        .empty();
  }

  // Compares an edit with the chain just read into the buffer; an error
  // goes to `message`.
  void compareFile(std::int32_t disk, const FileListing& listing, std::size_t index,
                   Diagnostic& message) {
    const DiskFile& file = listing.file;
    const std::string name = file.name.data();
    const std::string shown = edits_.shownName(disk, name);
    const auto fail = [&](const std::string& text) { message = {Severity::Error, text}; };
    const std::optional<std::uint64_t> size = edits_.sizeOf(disk, name);
    if (!size) {
      fail("cannot read " + shown);
      return;
    }
    if (*size != static_cast<std::uint64_t>(file.size)) {
      const std::string fixed = whyFixedSize(index);
      if (!options_.resize) {
        fail(format("%s is %llu bytes, the disk's file %d: files cannot change size", shown.c_str(),
                    static_cast<unsigned long long>(*size), static_cast<int>(file.size)) +
             (resizeWouldTake(index, *size) ? " (--resize lets later files move)" : ""));
        return;
      }
      if (!fixed.empty()) {
        fail(shown + " cannot change size: " + fixed);
        return;
      }
      // The folder holds one file of a name; which of two it means is unknown.
      std::int32_t named = 0;
      for (std::size_t i = layoutOf(scratch_.kind).fixed.count; i < scratch_.files.size(); ++i) {
        named += name == scratch_.files[i].file.name.data() ? 1 : 0;
      }
      if (named > 1) {
        fail(shown + " cannot change size: two table files are named " + name);
        return;
      }
      // No table file reaches past the extraction buffer.
      if (!fitsExtractBuffer(*size)) {
        fail(format("%s is %llu bytes: no file of a table reaches past %d bytes", shown.c_str(),
                    static_cast<unsigned long long>(*size), static_cast<int>(kExtractBufferSize)));
        return;
      }
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
      if (!edits_.read(disk, name, bytes)) {
        fail("cannot read " + shown);
        return;
      }
      resizes_.push_back({index, shown, std::move(bytes)});
      return;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
    if (!edits_.read(disk, name, bytes)) {
      fail("cannot read " + shown);
      return;
    }
    if (std::equal(bytes.begin(), bytes.end(), buffer_.get() + file.offset)) {
      ++plan_.unchanged;
      countedUnchanged_.insert(index);
      return;
    }
    std::vector<FileSpan> spans = fileSpansOf(original_, file, steps_);
    // Bytes past a break in the chain have no place on the disk.
    if (!isChangeable(listing.verdict)) {
      const d88::ChainStep& broken = steps_.back();
      fail(format("%s cannot be changed: its chain breaks at track %02X sector %02X", shown.c_str(),
                  static_cast<unsigned>(broken.sector.track),
                  static_cast<unsigned>(broken.sector.r)));
      return;
    }
    changed_.push_back({disk, index, file, shown, std::move(bytes), std::move(spans)});
  }

  // A table file of another size, read whole.
  struct ResizeEdit {
    std::size_t file;
    std::string shown;
    std::vector<std::uint8_t> bytes;
  };

  // A table laid end to end again from its first changed file `first` on:
  // the old and new addresses of entries first to the last entry.
  struct RelaidTable {
    std::int32_t table = 0;
    TableShape shape;
    std::int32_t first = 0;
    std::vector<std::int32_t> oldAt;
    std::vector<std::int32_t> newAt;
    std::uint8_t blank = 0;
    std::vector<ResizeEdit*> edits;
  };

  std::size_t listingIndex(std::int32_t table, std::int32_t index) const {
    return layoutOf(scratch_.kind).fixed.count +
           static_cast<std::size_t>((table == 0 ? 0 : firstTableFiles_) + index);
  }
  std::string tableFile(std::int32_t table, std::int32_t index) const {
    return tableFileName(scratch_.kind, tableNumber(table, index)).data();
  }

  // Plans the size changes of the disk just compared, table by table, and
  // lays them over the image only when every table of the disk fits.
  void planResizes(std::int32_t disk) {
    DiskUsage& usage = usage_;
    if (usageOf_ != scratch_.index) {
      usage.collect(original_, scratch_.kind, tables_);
      usageOf_ = scratch_.index;
    }
    std::vector<RelaidTable> planned;
    bool refused = false;
    for (std::int32_t table = 0; table < 2; ++table) {
      RelaidTable relaid;
      relaid.table = table;
      for (ResizeEdit& edit : resizes_) {
        if (placeOf(edit.file).table == table) {
          relaid.edits.push_back(&edit);
        }
      }
      if (relaid.edits.empty()) {
        continue;
      }
      std::sort(relaid.edits.begin(), relaid.edits.end(),
                [](const ResizeEdit* a, const ResizeEdit* b) { return a->file < b->file; });
      if (planTable(usage, relaid)) {
        planned.push_back(std::move(relaid));
      } else {
        refused = true;
      }
    }
    if (refused) {
      return;
    }
    const std::vector<FileListing> files = scratch_.files;
    for (RelaidTable& relaid : planned) {
      layTable(disk, relaid, files);
    }
  }

  // Whether a table's files from its first changed one on were laid end to
  // end, still are with their new sizes, and the growth fits the room after
  // the table; refuses otherwise.
  bool planTable(const DiskUsage& usage, RelaidTable& relaid) {
    const std::int32_t table = relaid.table;
    const char* word = tableWord(table);
    const std::string& shown = relaid.edits.front()->shown;
    const auto fail = [&](const std::string& why) {
      refuse(shown + " cannot change size: " + why);
      return false;
    };
    const TableFit fit(original_, usage, scratch_.kind, table, tables_);
    relaid.shape = fit.shape();
    const std::int32_t first = placeOf(relaid.edits.front()->file).index;
    const std::int32_t last = relaid.shape.lastEntry();
    relaid.first = first;
    if (const std::string why = fit.unfitFrom(first); !why.empty()) {
      return fail((fit.unwhole().empty() ? "" : format("the %s table's ", word)) + why);
    }
    for (std::int32_t index = first; index <= last; ++index) {
      relaid.oldAt.push_back(fit.addressOf(index));
    }
    std::size_t edit = 0;
    relaid.newAt.push_back(relaid.oldAt.front());
    for (std::int32_t index = first; index < last; ++index) {
      const std::int32_t at = relaid.oldAt[static_cast<std::size_t>(index - first)];
      const std::int32_t size = relaid.oldAt[static_cast<std::size_t>(index - first + 1)] - at;
      std::int32_t newSize = size;
      if (edit < relaid.edits.size() && relaid.edits[edit]->file == listingIndex(table, index)) {
        newSize = static_cast<std::int32_t>(relaid.edits[edit++]->bytes.size());
      }
      const std::int32_t newAt = relaid.newAt.back();
      if (const std::string why = relaidFileFault(fit.nameOf(index), at, size, newAt, newSize);
          !why.empty()) {
        return fail(why);
      }
      relaid.newAt.push_back(newAt + newSize);
    }
    // Only an entry that lies in a file's bytes can change that file.
    for (const std::int32_t index : fit.entriesInFiles()) {
      if (index <= first) {
        continue;
      }
      if (const std::string why =
              fit.rewrittenEntryFault(index, relaid.newAt[static_cast<std::size_t>(index - first)]);
          !why.empty()) {
        return fail(why);
      }
    }
    const std::int32_t oldEnd = relaid.oldAt.back();
    const std::int32_t growth = relaid.newAt.back() - oldEnd;
    const TableRoom room = measureRoom(original_, usage, oldEnd);
    if (growth > room.room) {
      refuse(format("%s grows the %s table by 0x%X bytes, but ", shown.c_str(), word,
                    static_cast<unsigned>(growth)) +
             room.stop);
      return false;
    }
    relaid.blank = room.room > 0 ? room.blank : std::uint8_t{0};
    return true;
  }

  // Lays a planned table over the image: its rewritten entries, the changed
  // files' bytes and the moved files' at their new places, and the bytes a
  // shrinking table frees filled with the blank value.
  void layTable(std::int32_t disk, const RelaidTable& relaid,
                const std::vector<FileListing>& files) {
    const TableBuffer& bytes = tables_[static_cast<std::size_t>(relaid.table)];
    const std::int32_t first = relaid.first;
    const std::int32_t last = relaid.shape.lastEntry();
    relaid_[disk].push_back({listingIndex(relaid.table, first), relaid.newAt});
    TableBuffer rewritten = bytes;
    for (std::int32_t index = first + 1; index <= last; ++index) {
      const FileTableEntry entry = entryForAddress(
          relaid.newAt[static_cast<std::size_t>(index - first)], entryAt(bytes, index));
      const auto at = static_cast<std::size_t>(index) * kEntrySize;
      rewritten[at] = entry.position;
      rewritten[at + 1] = entry.sector;
      rewritten[at + 2] = entry.offset;
    }
    // Through the track's chain: an entry across two sectors goes into both.
    const std::int32_t from = (first + 1) * kEntrySize;
    const std::int32_t to = (last + 1) * kEntrySize;
    for (const d88::ChainStep& step : relaid.shape.steps) {
      const std::int32_t begin = std::max(from, step.chainOffset);
      const std::int32_t end = std::min(to, step.chainOffset + step.length);
      if (begin < end) {
        plan_.overlay.put(step.position + (begin - step.chainOffset), rewritten.data() + begin,
                          end - begin);
      }
    }
    std::size_t edit = 0;
    // Files moved by one distance one after another move as one range.
    struct Pending {
      std::int32_t from = 0;
      std::int32_t to = 0;
      std::int32_t length = 0;
    } pending;
    const auto flush = [&]() {
      layMove(pending.from, pending.to, pending.length);
      pending = {};
    };
    // Moved files one after another in the table make one run of lines.
    bool inRun = false;
    for (std::int32_t index = first; index < last; ++index) {
      const auto slot = static_cast<std::size_t>(index - first);
      const std::int32_t oldAt = relaid.oldAt[slot];
      const std::int32_t newAt = relaid.newAt[slot];
      const std::int32_t size = relaid.newAt[slot + 1] - newAt;
      const std::size_t file = listingIndex(relaid.table, index);
      DiskFile placed = files.at(file).file;
      const AddressPlace at = placeOfAddress(newAt);
      placed.track = at.track;
      placed.r = at.r;
      placed.offset = at.offset;
      placed.size = size;
      std::vector<FileSpan> spans =
          linearSpans(original_, newAt, size).value_or(std::vector<FileSpan>{});
      if (edit < relaid.edits.size() && relaid.edits[edit]->file == file) {
        flush();
        inRun = false;
        ResizeEdit& resized = *relaid.edits[edit++];
        changed_.push_back(
            {disk, file, placed, resized.shown, std::move(resized.bytes), std::move(spans)});
        continue;
      }
      const auto put = std::find_if(changed_.begin(), changed_.end(), [&](const ChangedFile& p) {
        return p.disk == disk && p.file == file;
      });
      if (put != changed_.end()) {
        flush();
        inRun = false;
        put->entry = placed;
        put->spans = std::move(spans);
        continue;
      }
      // A file whose place two size changes gave back stays where it was.
      if (newAt == oldAt) {
        flush();
        inRun = false;
        continue;
      }
      if (pending.length == 0 || pending.from + pending.length != oldAt ||
          pending.to + pending.length != newAt) {
        flush();
        pending = {oldAt, newAt, 0};
      }
      pending.length += size;
      // A file d88extract skips (of 0 bytes at offset 0 here) is no file of
      // the disk to report.
      if (!summaries_[disk].written.at(file)) {
        inRun = false;
        continue;
      }
      if (!inRun) {
        plan_.moved.startRun(disk, scratch_.kind, tableNumber(relaid.table, index), file);
        inRun = true;
      }
      plan_.moved.add(newAt, size);
      if (countedUnchanged_.erase(file) != 0) {
        --plan_.unchanged;
      }
    }
    flush();
    const std::int32_t newEnd = relaid.newAt.back();
    const std::int32_t oldEnd = relaid.oldAt.back();
    if (newEnd < oldEnd) {
      const std::vector<std::uint8_t> blank(static_cast<std::size_t>(kSectorSize), relaid.blank);
      for (const FileSpan& span :
           linearSpans(original_, newEnd, oldEnd - newEnd).value_or(std::vector<FileSpan>{})) {
        plan_.overlay.put(span.position, blank.data(), span.length);
      }
    }
  }

  // Moves a file's bytes from one linear address to another, in pieces that
  // cross no sector boundary of either; every sector was found plain.
  void layMove(std::int32_t from, std::int32_t to, std::int32_t length) {
    for (std::int32_t done = 0; done < length;) {
      const std::int32_t source = from + done;
      const std::int32_t target = to + done;
      const std::int32_t piece = std::min(
          {kSectorSize - source % kSectorSize, kSectorSize - target % kSectorSize, length - done});
      const LinearSector sourceSector = linearSector(original_, source);
      const LinearSector targetSector = linearSector(original_, target);
      plan_.overlay.move(targetSector.position + target % kSectorSize,
                         sourceSector.position + source % kSectorSize, piece);
      done += piece;
    }
  }

  // Names the files put back whose bytes overlap a file's.
  std::string sharers(const DiskFile& file, const ChangedFile* self) {
    const std::vector<FileSpan> spans = fileSpansOf(original_, file, steps_);
    std::string names;
    for (const ChangedFile& put : changed_) {
      if (&put != self && overlaps(put.spans, spans)) {
        names += (names.empty() ? "" : ", ") + put.name;
      }
    }
    return names.empty() ? "another file put back" : names;
  }

  // The image scan reads each disk's size field from its header, and a
  // selection the rest of the header: a changed byte there could lose disks
  // or move them (a disk whose size field is too small has sectors inside
  // the next disk's header). With no changed byte in any header at the
  // original's disk offsets, and the file's size kept, the changed file
  // holds the same number of disks at the same offsets, each with the same
  // size field, track table, name, write-protect and media bytes. Returns,
  // by disk, whether its header would change.
  std::vector<bool> checkHeaders() {
    std::vector<bool> changed(static_cast<std::size_t>(original_.diskCount()), false);
    std::array<std::uint8_t, d88::kHeaderSize> before{};
    std::array<std::uint8_t, d88::kHeaderSize> after{};
    for (std::int32_t disk = 0; disk < original_.diskCount(); ++disk) {
      const std::int64_t base = original_.diskOffset(disk);
      if (!plan_.overlay.touches(base, d88::kHeaderSize)) {
        continue;
      }
      // The original has no overlay: these are the file's own bytes.
      const std::int64_t got = original_.readFileBytes(base, before.data(), d88::kHeaderSize);
      after = before;
      (void)plan_.overlay.apply(base, after.data(), got,
                                [&](std::int64_t from, std::uint8_t* to, std::int64_t count) {
                                  return original_.readFileBytes(from, to, count);
                                });
      std::vector<const ChangedFile*> changers;
      for (std::int64_t i = 0; i < got; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (before[at] == after[at]) {
          continue;
        }
        changed[static_cast<std::size_t>(disk)] = true;
        const ChangedFile* put = lastPutAt(base + i);
        if (std::find(changers.begin(), changers.end(), put) == changers.end()) {
          changers.push_back(put);
        }
      }
      for (const ChangedFile* put : changers) {
        // Every laid byte comes from a put's span; the name is only missing
        // if that ever stops being so.
        refuse((put != nullptr ? put->name : std::string("a file put back")) +
               format(" would change the header of disk %d", static_cast<int>(disk)));
      }
    }
    return changed;
  }

  // The put whose byte the overlay holds at a position: of those that lay
  // it, the last.
  const ChangedFile* lastPutAt(std::int64_t position) const {
    for (auto put = changed_.rbegin(); put != changed_.rend(); ++put) {
      for (const FileSpan& span : put->spans) {
        if (position >= span.position && position < span.position + span.length) {
          return &*put;
        }
      }
    }
    return nullptr;
  }

  // The fast check where it concludes, the full one elsewhere; proving,
  // the full one after every fast one that concluded too, whose errors must
  // be the same.
  void checkDisk(std::int32_t disk) {
    std::vector<std::string> errors;
    // A re-laid table's listing changes: only the full check knows where.
    if (relaid_.count(disk) == 0 && concludedFromRecordHeaders(disk, errors)) {
      if (options_.proveFastCheck) {
        std::vector<std::string> full;
        checkEverything(disk, full);
        if (full != errors && plan_.disagreement.empty()) {
          plan_.disagreement = format("disk %d: fast check:", static_cast<int>(disk));
          for (const std::string& text : errors) {
            plan_.disagreement += "\n  " + text;
          }
          plan_.disagreement += "\nfull check:";
          for (const std::string& text : full) {
            plan_.disagreement += "\n  " + text;
          }
        }
      }
    } else {
      checkEverything(disk, errors);
    }
    for (const std::string& text : errors) {
      refuse(text);
    }
  }

  // The check of a disk whose structure (header, file tables and the record
  // headers its chains go through) reads without meeting a laid byte: its
  // kind, its files and every chain's sectors are then the original's, and
  // only files whose bytes were laid over are read. Returns false, with
  // nothing concluded, as soon as a read of the structure meets a laid byte.
  bool concludedFromRecordHeaders(std::int32_t disk, std::vector<std::string>& errors) {
    std::uint64_t overlaid = patched_.overlaidReads();
    describeDisk(patched_, disk, {tables_, patchedBuffer_.get()}, scratch_, kFileListOnly);
    bool originalSelected = false;
    for (std::size_t i = 0; i < scratch_.files.size(); ++i) {
      const DiskFile& file = scratch_.files[i].file;
      const bool written = locateFileChain(patched_, file, steps_) > 0;
      if (patched_.overlaidReads() != overlaid) {
        return false;
      }
      const auto put = findPut(disk, i);
      if (!written || (put == changed_.end() && !overlapsAnyPut(steps_))) {
        continue;
      }
      // A file of another disk's folder may have been compared last: the
      // original's chains, and a sharer's spans, are read on this disk.
      if (!originalSelected) {
        (void)selectDisk(original_, disk, scratch_.kind);
        originalSelected = true;
      }
      const std::string text = compareChain(disk, file, put);
      if (!text.empty()) {
        errors.push_back(text);
      }
      // The chain's own data met laid bytes; its structure did not.
      overlaid = patched_.overlaidReads();
    }
    return true;
  }

  // The check of every file of a disk, reading the original and the changed
  // image side by side.
  void checkEverything(std::int32_t disk, std::vector<std::string>& errors) {
    // Disks without a folder were not read yet; the tables are read again
    // rather than kept, so that memory does not grow with the image.
    const bool summarised = summaries_.count(disk) != 0;
    describeDisk(original_, disk, {tables_, buffer_.get()}, before_,
                 {false, !summarised, false, false});
    if (!summarised) {
      DiskSummary& summary = summaries_[disk];
      summary.kind = before_.kind;
      for (const FileListing& listing : before_.files) {
        summary.written.push_back(isWritten(listing.verdict));
      }
    }
    const DiskSummary& before = summaries_[disk];
    describeDisk(patched_, disk, {tables_, patchedBuffer_.get()}, scratch_, kFileListOnly);
    // The files of a re-laid table at their planned places, with their
    // planned sizes.
    std::vector<FileListing> expected = before_.files;
    const auto relaid = relaid_.find(disk);
    if (relaid != relaid_.end()) {
      for (const RelaidFiles& files : relaid->second) {
        for (std::size_t i = 0; i + 1 < files.newAt.size(); ++i) {
          // The listing of the original holds every re-laid file.
          if (files.firstFile + i >= expected.size()) {
            break;
          }
          DiskFile& placed = expected[files.firstFile + i].file;
          const AddressPlace at = placeOfAddress(files.newAt[i]);
          placed.track = at.track;
          placed.r = at.r;
          placed.offset = at.offset;
          placed.size = files.newAt[i + 1] - files.newAt[i];
        }
      }
    }
    bool same = before.kind == scratch_.kind && sameFiles(expected, scratch_.files);
    for (std::size_t i = 0; same && i < scratch_.files.size(); ++i) {
      const DiskFile& file = scratch_.files[i].file;
      const bool written = locateFileChain(patched_, file, steps_) > 0;
      same = written == before.written[i];
      if (same && written) {
        const std::string text = compareChain(disk, file, findPut(disk, i), &before_.files[i].file);
        if (!text.empty()) {
          errors.push_back(text);
        }
      }
    }
    if (!same) {
      std::string putHere;
      for (const ChangedFile& put : changed_) {
        if (put.disk == disk) {
          putHere += (putHere.empty() ? "" : ", ") + put.name;
        }
      }
      errors.push_back(
          format("disk %d would change its kind or its list of files (", static_cast<int>(disk)) +
          (putHere.empty() ? std::string("by files of other disks") : "putting back " + putHere) +
          ")");
    }
  }

  std::vector<ChangedFile>::const_iterator findPut(std::int32_t disk, std::size_t file) const {
    return std::find_if(changed_.begin(), changed_.end(),
                        [&](const ChangedFile& p) { return p.disk == disk && p.file == file; });
  }

  // Reads a written file of the changed image: a file put back must read as
  // the folder's bytes, any other as the original does (both images reading
  // the disk). Returns the error, or nothing.
  // A moved file is read in the original at `was`, its old place.
  std::string compareChain(std::int32_t disk, const DiskFile& file,
                           std::vector<ChangedFile>::const_iterator put,
                           const DiskFile* was = nullptr) {
    (void)readFileChain(patched_, patchedBuffer_.get(), file);
    const std::uint8_t* chain = patchedBuffer_.get() + file.offset;
    if (put != changed_.end()) {
      // The edit read again must be the one laid: an edit changed since
      // would make the check compare other bytes than those written.
      const std::vector<std::uint8_t>* edit = plan_.laid.bytesOf(edits_, put->laid);
      if (edit == nullptr) {
        return plan_.laid.failure();
      }
      return std::equal(edit->begin(), edit->end(), chain)
                 ? std::string()
                 : put->name + " would not read back as put: it shares bytes with " +
                       sharers(file, &*put);
    }
    const DiskFile& old = was != nullptr ? *was : file;
    (void)readFileChain(original_, buffer_.get(), old);
    // A moved file of another size than before is no moved file.
    return old.size == file.size && std::equal(chain, chain + file.size, buffer_.get() + old.offset)
               ? std::string()
               : edits_.shownName(disk, file.name.data()) + " would change: it shares bytes with " +
                     sharers(file, nullptr);
  }

  bool overlapsAnyPut(const std::vector<d88::ChainStep>& steps) const {
    return std::any_of(steps.begin(), steps.end(), [&](const d88::ChainStep& step) {
      return step.position >= 0 && plan_.overlay.touches(step.position, step.length);
    });
  }

  static bool sameFiles(const std::vector<FileListing>& a, const std::vector<FileListing>& b) {
    if (a.size() != b.size()) {
      return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
      const DiskFile& x = a[i].file;
      const DiskFile& y = b[i].file;
      if (std::string(x.name.data()) != y.name.data() || x.track != y.track || x.r != y.r ||
          x.offset != y.offset || x.size != y.size) {
        return false;
      }
    }
    return true;
  }

  d88::D88Image& original_;
  d88::D88Image& patched_;
  EditSource& edits_;
  const PlanOptions& options_;
  PutPlan& plan_;
  // What was read of each disk: its kind and which of its files d88extract
  // writes.
  struct DiskSummary {
    DiskKind kind = DiskKind::Unknown;
    std::vector<bool> written;
  };
  std::map<std::int32_t, DiskSummary> summaries_;
  DiskListing before_;
  DiskListing scratch_;
  std::vector<ChangedFile> changed_;
  // Of the disk being compared: its first table's files, and its edits of
  // another size.
  std::int32_t firstTableFiles_ = 0;
  std::vector<ResizeEdit> resizes_;
  // The users of the bytes of the disk being re-laid: one set of room for
  // every disk, so that disk after disk does not scatter the heap.
  DiskUsage usage_;
  std::int32_t usageOf_ = -1;  // the disk whose users usage_ holds
  // Files of the disk compared equal, by listing index: a file that then
  // moves counts as moved instead.
  std::set<std::size_t> countedUnchanged_;
  // By disk, its re-laid tables: the listing index of the first file laid
  // again, and the new addresses of it and the files after it, the last
  // entry's included.
  struct RelaidFiles {
    std::size_t firstFile;
    std::vector<std::int32_t> newAt;
  };
  std::map<std::int32_t, std::vector<RelaidFiles>> relaid_;
  std::vector<d88::ChainStep> steps_;
  TableBuffers tables_{};
  // The chains of the original and of the changed image. Left uninitialised:
  // a chain read touches only the pages it fills, so memory follows the
  // largest file rather than the buffers' size.
  std::unique_ptr<std::uint8_t[]> buffer_{new std::uint8_t[kExtractBufferSize]};
  std::unique_ptr<std::uint8_t[]> patchedBuffer_{new std::uint8_t[kExtractBufferSize]};
};

}  // namespace

void MovedFiles::startRun(std::int32_t disk, DiskKind kind, std::int32_t firstNumber,
                          std::size_t firstFile) {
  runs_.push_back({disk, kind, firstNumber, firstFile, places_.size()});
}

void MovedFiles::add(std::int32_t at, std::int32_t size) {
  places_.push_back({at, size});
}

PutLine MovedFiles::operator[](std::size_t index) const {
  // The run that holds it: the last that starts at or before it.
  const auto next = std::upper_bound(runs_.begin(), runs_.end(), index,
                                     [](std::size_t at, const Run& run) { return at < run.first; });
  const Run& run = *std::prev(next);
  const std::size_t step = index - run.first;
  const Place& place = places_.at(index);
  PutLine line;
  line.name = tableFileName(run.kind, run.firstNumber + static_cast<std::int32_t>(step));
  line.disk = run.disk;
  const AddressPlace at = placeOfAddress(place.at);
  line.track = at.track;
  line.r = at.r;
  line.offset = at.offset;
  line.size = place.size;
  line.file = run.firstFile + step;
  return line;
}

std::uint32_t LaidEdits::add(std::int32_t disk, const std::string& name, const std::string& shown,
                             std::vector<std::uint8_t> bytes) {
  edits_.push_back({disk, name, shown, bytes.size(), hashOf(bytes)});
  held_ = static_cast<std::int64_t>(edits_.size() - 1);
  bytes_ = std::move(bytes);
  return static_cast<std::uint32_t>(held_);
}

const std::vector<std::uint8_t>* LaidEdits::bytesOf(EditSource& source, std::uint32_t id) {
  // Only an edit that was laid has a number.
  if (id >= edits_.size()) {
    return nullptr;
  }
  if (held_ == std::int64_t{id}) {
    return &bytes_;
  }
  const Edit& edit = edits_[id];
  held_ = -1;
  bytes_.resize(edit.size);
  if (!source.read(edit.disk, edit.name, bytes_) || hashOf(bytes_) != edit.hash) {
    if (failure_.empty()) {
      failure_ = edit.shown + " changed while d88put ran";
    }
    return nullptr;
  }
  held_ = id;
  return &bytes_;
}

bool LaidEdits::fetch(EditSource& source, std::uint32_t id, std::int64_t offset, std::uint8_t* dest,
                      std::int64_t count) {
  const std::vector<std::uint8_t>* bytes = bytesOf(source, id);
  // A range past the edit's end lies nowhere in it.
  if (bytes == nullptr || offset < 0 || count < 0 ||
      offset + count > static_cast<std::int64_t>(bytes->size())) {
    return false;
  }
  std::copy_n(bytes->begin() + offset, count, dest);
  return true;
}

void planPutBack(d88::D88Image& original, d88::D88Image& patched, EditSource& edits, PutPlan& plan,
                 const PlanOptions& options) {
  plan.overlay.setFetch([&plan, &edits](std::uint32_t id, std::int64_t offset, std::uint8_t* dest,
                                        std::int64_t count) {
    return plan.laid.fetch(edits, id, offset, dest, count);
  });
  Planner(original, patched, edits, options, plan).run();
}

bool putBack(d88::D88Image& original, d88::D88Image& patched, EditSource& edits,
             ImageWriter& writer, PutPlan& plan, const PlanOptions& options) {
  planPutBack(original, patched, edits, plan, options);
  if (plan.errors > 0 || !writer.writes(!plan.putBack.empty())) {
    return plan.errors == 0;
  }
  Diagnostics diagnostics;
  // An edit that changes while it is copied fails the copy: what it would
  // write is not what was checked.
  const bool written = writer.write(
      [&](std::FILE* out) { return copyPatched(patched, out) && plan.laid.failure().empty(); },
      [&]() {
        (void)original.open(nullptr);
        (void)patched.open(nullptr);
      },
      diagnostics);
  // The writer's own words would blame the disk.
  if (!plan.laid.failure().empty()) {
    diagnostics = {{Severity::Error, plan.laid.failure() + "; nothing written"}};
  }
  for (const Diagnostic& diagnostic : diagnostics) {
    plan.diagnostics.push_back(diagnostic);
  }
  if (!written || hasErrors(diagnostics)) {
    ++plan.errors;
    return false;
  }
  return true;
}

bool copyPatched(d88::D88Image& patched, std::FILE* out) {
  std::vector<std::uint8_t> room(static_cast<std::size_t>(kCopyBlock));
  std::uint8_t* block = room.data();
  const std::int64_t size = patched.fileSize();
  for (std::int64_t position = 0; position < size; position += kCopyBlock) {
    const std::int64_t count = std::min(kCopyBlock, size - position);
    if (patched.readFileBytes(position, block, count) != count ||
        std::fwrite(block, 1, static_cast<std::size_t>(count), out) !=
            static_cast<std::size_t>(count)) {
      return false;
    }
  }
  return true;
}
