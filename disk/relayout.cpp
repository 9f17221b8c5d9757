#include "disk/relayout.h"

#include <algorithm>

#include "disk/file_tables.h"

namespace disk {

namespace {

// Refuses the change of the table that relaid.shown makes.
bool notRelaid(PlanWork& work, const RelaidTable& relaid, std::int32_t table,
               const RoomReason& why) {
  Refusal refusal;
  refusal.code = relaid.refusal;
  refusal.file = relaid.shown;
  refusal.table = table;
  refusal.why = why;
  work.refuse(refusal);
  return false;
}

// The first user other than the table's own entries of the bytes of
// entries `from` to `to` on the table's track; `files` only: of a file.
const ByteUser* entriesUser(const DiskUsage& usage, const RelaidTable& relaid, std::int32_t from,
                            std::int32_t to, bool files) {
  const std::int32_t begin = from * kEntrySize;
  const std::int32_t end = (to + 1) * kEntrySize;
  for (const d88::ChainStep& step : relaid.shape.steps) {
    const std::int32_t low = std::max(begin, step.chainOffset);
    const std::int32_t high = std::min(end, step.chainOffset + step.length);
    if (step.position < 0 || low >= high) {
      continue;
    }
    const ByteUser* user =
        usage.userOf(step.position + (low - step.chainOffset), high - low, [&](const ByteUser& u) {
          return files ? u.kind == ByteUserKind::FixedFile || u.kind == ByteUserKind::TableFile
                       : u.kind != ByteUserKind::TableEntries || u.table != relaid.table;
        });
    if (user != nullptr) {
      return user;
    }
  }
  return nullptr;
}

// The new files at the end of the kept ones, one after another; false,
// refused, when one would not be a file d88extract writes or its entries
// would reach bytes that something else uses.
bool placeAdded(PlanWork& work, const DiskUsage& usage, const RecognisedDisk& disk,
                RelaidTable& relaid) {
  const std::int32_t last = relaid.keptLast();
  for (std::size_t k = 0; k < relaid.added.size(); ++k) {
    AddedFile& added = *relaid.added[k];
    const std::int32_t at = relaid.newAt.back();
    const auto size = static_cast<std::int32_t>(added.bytes.size());
    const std::string name =
        tableFileName(disk.kind, tableNumber(relaid.table, added.entry)).data();
    relaid.shown = added.shown;
    relaid.refusal = RefusalCode::NotAdded;
    // As a file of 1 byte at `at` that becomes `size` bytes.
    if (const RoomReason why = relaidFileFault(name, at, 1, at, size); !why.empty()) {
      return notRelaid(work, relaid, -1, why);
    }
    // Its end goes where the end mark was, the end mark into the 3 bytes after.
    const auto end = static_cast<std::int32_t>(last + k + 2);
    RoomReason why;
    why.code = RoomReasonCode::EntriesReach;
    why.table = relaid.table;
    if (end >= kEntriesPerTable) {
      why.userKind = ByteUserKind::RecordHeader;
      return notRelaid(work, relaid, -1, why);
    }
    if (const ByteUser* user = entriesUser(usage, relaid, k == 0 ? last + 1 : end, end, false)) {
      return notRelaid(work, relaid, -1, usage.naming(why, *user));
    }
    relaid.newAt.push_back(at + size);
  }
  return true;
}

// Whether the entries a removal sets to 0 lie in no file's bytes; refused
// otherwise.
bool removalFits(PlanWork& work, const DiskUsage& usage, const TableFit& fit,
                 const RelaidTable& relaid) {
  if (relaid.removed == 0) {
    return true;
  }
  const std::int32_t from = relaid.keptLast() + 1;
  const ByteUser* user = entriesUser(usage, relaid, from, relaid.shape.lastEntry(), true);
  if (user == nullptr) {
    return true;
  }
  RoomReason why;
  why.code = RoomReasonCode::EntryRewritten;
  why.table = relaid.table;
  why.name = fit.nameOf(from);
  return notRelaid(work, relaid, -1, usage.naming(why, *user));
}

// The new addresses of the files from relaid.first on, each at the end of
// the one before, with the edits' sizes; false, refused, when a file would
// no longer be the same file to d88extract.
bool placeFiles(PlanWork& work, const RecognisedDisk& disk, const TableFit& fit,
                RelaidTable& relaid) {
  const std::int32_t last = relaid.keptLast();
  std::size_t edit = 0;
  relaid.newAt.push_back(relaid.oldAt.front());
  for (std::int32_t index = relaid.first; index < last; ++index) {
    const auto slot = static_cast<std::size_t>(index - relaid.first);
    const std::int32_t at = relaid.oldAt[slot];
    const std::int32_t size = relaid.oldAt[slot + 1] - at;
    std::int32_t newSize = size;
    if (edit < relaid.edits.size() &&
        relaid.edits[edit]->file == disk.fileAt(relaid.table, index)) {
      newSize = static_cast<std::int32_t>(relaid.edits[edit++]->bytes.size());
    }
    const std::int32_t newAt = relaid.newAt.back();
    if (const RoomReason why = relaidFileFault(fit.nameOf(index), at, size, newAt, newSize);
        !why.empty()) {
      return notRelaid(work, relaid, -1, why);
    }
    relaid.newAt.push_back(newAt + newSize);
  }
  // Only an entry that lies in a file's bytes can change that file.
  // (Those a removal sets to 0 are checked by removalFits.)
  for (const std::int32_t index : fit.entriesInFiles()) {
    if (index <= relaid.first || index > last) {
      continue;
    }
    if (const RoomReason why = fit.rewrittenEntryFault(
            index, relaid.newAt[static_cast<std::size_t>(index - relaid.first)]);
        !why.empty()) {
      return notRelaid(work, relaid, -1, why);
    }
  }
  return true;
}

// Moves a file's bytes from one linear address to another, in pieces that
// cross no sector boundary of either; every sector was found plain.
void layMove(PlanWork& work, const RecognisedDisk& disk, std::int32_t from, std::int32_t to,
             std::int32_t length) {
  for (std::int32_t done = 0; done < length;) {
    const std::int32_t source = from + done;
    const std::int32_t target = to + done;
    const std::int32_t piece = std::min(
        {kSectorSize - source % kSectorSize, kSectorSize - target % kSectorSize, length - done});
    LinearSectors& linear = work.usageOf(disk).linear();
    const LinearSector sourceSector = linear.at(work.original, source);
    const LinearSector targetSector = linear.at(work.original, target);
    work.plan.image.overlay().move(targetSector.position + target % kSectorSize,
                                   sourceSector.position + source % kSectorSize, piece);
    done += piece;
  }
}

// The table's entries from relaid.first + 1 on, rewritten for the new
// addresses, laid through the track's chain: an entry across two sectors
// goes into both.
void layEntries(PlanWork& work, const RecognisedDisk& disk, const RelaidTable& relaid) {
  const TableBuffer& bytes = disk.tables.at(static_cast<std::size_t>(relaid.table));
  const std::int32_t first = relaid.first;
  const std::int32_t last = relaid.shape.lastEntry();
  const std::int32_t newLast = relaid.newLast();
  // A table that gains or loses files gets its end mark, 00 00 00, anew;
  // entries past the new end mark are 0 too.
  const std::int32_t through = newLast == last ? last : std::max(last, newLast) + 1;
  TableBuffer rewritten = bytes;
  for (std::int32_t index = first + 1; index <= through; ++index) {
    const FileTableEntry entry =
        index > newLast
            ? FileTableEntry{}
            : entryForAddress(relaid.newAt[static_cast<std::size_t>(index - first)],
                              index <= last + 1 ? entryAt(bytes, index) : FileTableEntry{});
    const auto at = static_cast<std::size_t>(index) * kEntrySize;
    rewritten[at] = entry.position;
    rewritten[at + 1] = entry.sector;
    rewritten[at + 2] = entry.offset;
  }
  const std::int32_t from = (first + 1) * kEntrySize;
  const std::int32_t to = (through + 1) * kEntrySize;
  for (const d88::ChainStep& step : relaid.shape.steps) {
    const std::int32_t begin = std::max(from, step.chainOffset);
    const std::int32_t end = std::min(to, step.chainOffset + step.length);
    if (begin < end) {
      work.plan.image.overlay().put(step.position + (begin - step.chainOffset),
                                    rewritten.data() + begin, end - begin);
    }
  }
}

// Files moved by one distance one after another move as one range; moved
// files one after another in the table make one run of lines.
class Mover {
 public:
  Mover(PlanWork& work, const RecognisedDisk& disk, std::int32_t table)
      : work_(work), disk_(disk), table_(table) {}
  ~Mover() { flush(); }
  Mover(const Mover&) = delete;
  Mover& operator=(const Mover&) = delete;

  // Ends the range and the run: a file between them does not move with them.
  void stop() {
    flush();
    inRun_ = false;
  }
  // Moves entry `index`'s file `file` of `size` bytes from `oldAt` to `newAt`.
  void move(std::int32_t index, std::size_t file, std::int32_t oldAt, std::int32_t newAt,
            std::int32_t size) {
    if (length_ == 0 || from_ + length_ != oldAt || to_ + length_ != newAt) {
      flush();
      from_ = oldAt;
      to_ = newAt;
    }
    length_ += size;
    // A file d88extract skips (of 0 bytes at offset 0 here) is no file of
    // the disk to report.
    if (!work_.summaries[disk_.index].written.at(file)) {
      inRun_ = false;
      return;
    }
    if (!inRun_) {
      work_.plan.moved.startRun(disk_.index, disk_.kind, tableNumber(table_, index), file);
      inRun_ = true;
    }
    work_.plan.moved.add(newAt, size);
    if (work_.countedUnchanged.erase(file) != 0) {
      --work_.plan.unchanged;
    }
  }

 private:
  void flush() {
    layMove(work_, disk_, from_, to_, length_);
    from_ = to_ = length_ = 0;
  }
  PlanWork& work_;
  const RecognisedDisk& disk_;
  std::int32_t table_;
  std::int32_t from_ = 0;
  std::int32_t to_ = 0;
  std::int32_t length_ = 0;
  bool inRun_ = false;
};

// The bytes a shrinking table frees, from its new end to its old, filled
// with the blank value of the room after it.
void layFreed(PlanWork& work, const RecognisedDisk& disk, const RelaidTable& relaid) {
  const std::int32_t newEnd = relaid.newAt.back();
  const std::int32_t oldEnd = relaid.oldAt.back();
  if (newEnd >= oldEnd) {
    return;
  }
  const std::vector<std::uint8_t> blank(static_cast<std::size_t>(kSectorSize), relaid.blank);
  for (const FileSpan& span : work.usageOf(disk)
                                  .linear()
                                  .spans(work.original, newEnd, oldEnd - newEnd)
                                  .value_or(std::vector<FileSpan>{})) {
    work.plan.image.overlay().put(span.position, blank.data(), span.length);
  }
}

// The new files' bytes after the files kept, each a file put back.
void layAdded(PlanWork& work, const RecognisedDisk& disk, RelaidTable& relaid) {
  const auto kept = static_cast<std::size_t>(relaid.keptLast() - relaid.first);
  const std::size_t lastFile = disk.fileAt(relaid.table, relaid.keptLast() - 1);
  for (std::size_t k = 0; k < relaid.added.size(); ++k) {
    AddedFile& added = *relaid.added[k];
    const std::int32_t at = relaid.newAt[kept + k];
    const std::int32_t size = relaid.newAt[kept + k + 1] - at;
    DiskFile placed;
    const std::int32_t number = tableNumber(relaid.table, added.entry);
    placed.name = tableFileName(disk.kind, number);
    placed.writtenWithoutAll = isSelected(disk.kind, number, false);
    placed.table = relaid.table;
    placed.entry = added.entry;
    placed.place(at, size);
    std::vector<FileSpan> spans = work.usageOf(disk)
                                      .linear()
                                      .spans(work.original, at, size)
                                      .value_or(std::vector<FileSpan>{});
    ChangedFile put{disk.index,      lastFile, placed, added.shown, std::move(added.bytes),
                    std::move(spans)};
    put.added = true;
    work.changed.push_back(std::move(put));
    ++work.plan.added;
  }
}

// The lines of the files a table loses, where they were.
void reportRemoved(PlanWork& work, const RecognisedDisk& disk, const RelaidTable& relaid) {
  for (std::int32_t index = relaid.keptLast(); index < relaid.shape.lastEntry(); ++index) {
    const std::size_t file = disk.fileAt(relaid.table, index);
    const DiskFile& of = disk.file(file);
    work.plan.removed.push_back({of.name, disk.index, of.track, of.r, of.offset, of.size, file});
  }
}

// What a disk's edits, new files and removals change in table `table`.
RelaidTable tableChanges(PlanWork& work, const RecognisedDisk& disk, std::int32_t table,
                         std::vector<ResizeEdit>& resizes) {
  RelaidTable relaid;
  relaid.table = table;
  for (ResizeEdit& edit : resizes) {
    if (disk.file(edit.file).table == table) {
      relaid.edits.push_back(&edit);
    }
  }
  std::sort(relaid.edits.begin(), relaid.edits.end(),
            [](const ResizeEdit* a, const ResizeEdit* b) { return a->file < b->file; });
  for (AddedFile& added : work.added) {
    if (added.table == table) {
      relaid.added.push_back(&added);
    }
  }
  std::string removedShown;
  for (const RemovedFile& removed : work.removed) {
    if (disk.file(removed.file).table == table) {
      removedShown = relaid.removed++ == 0 ? removed.shown : removedShown;
    }
  }
  relaid.shown = !relaid.edits.empty()   ? relaid.edits.front()->shown
                 : !relaid.added.empty() ? relaid.added.front()->shown
                                         : removedShown;
  relaid.refusal = !relaid.edits.empty()   ? RefusalCode::NotRelaid
                   : !relaid.added.empty() ? RefusalCode::NotAdded
                                           : RefusalCode::NotRemoved;
  return relaid;
}

}  // namespace

bool planTable(PlanWork& work, const RecognisedDisk& disk, RelaidTable& relaid) {
  const std::int32_t table = relaid.table;
  const DiskUsage& usage = work.usageOf(disk);
  const TableFit fit(work.original, usage, disk.kind, table, disk.tables);
  relaid.shape = fit.shape();
  relaid.first =
      relaid.edits.empty() ? relaid.keptLast() : disk.file(relaid.edits.front()->file).entry;
  if (const RoomReason why = fit.unfitFrom(relaid.first); !why.empty()) {
    return notRelaid(work, relaid, fit.unwhole().empty() ? -1 : table, why);
  }
  for (std::int32_t index = relaid.first; index <= relaid.shape.lastEntry(); ++index) {
    relaid.oldAt.push_back(fit.addressOf(index));
  }
  if (!placeFiles(work, disk, fit, relaid) || !removalFits(work, usage, fit, relaid) ||
      !placeAdded(work, usage, disk, relaid)) {
    return false;
  }
  const std::int32_t oldEnd = relaid.oldAt.back();
  const std::int32_t growth = relaid.newAt.back() - oldEnd;
  // Only whether the growth fits, and the blank value, are needed.
  const TableRoom room = measureRoom(work.original, usage, oldEnd, std::max(growth, 1));
  if (growth > room.room) {
    Refusal refusal;
    refusal.code = RefusalCode::TableGrows;
    refusal.file = relaid.shown;
    refusal.table = table;
    refusal.growth = growth;
    refusal.why = room.stop;
    work.refuse(refusal);
    return false;
  }
  relaid.blank = room.room > 0 ? room.blank : std::uint8_t{0};
  return true;
}

void layTable(PlanWork& work, const RecognisedDisk& disk, RelaidTable& relaid) {
  const std::int32_t first = relaid.first;
  const std::int32_t last = relaid.keptLast();
  work.relaid[disk.index].push_back({disk.fileAt(relaid.table, first), relaid.newAt, relaid.table,
                                     static_cast<std::int32_t>(relaid.added.size()),
                                     relaid.removed});
  layEntries(work, disk, relaid);
  std::size_t edit = 0;
  Mover mover(work, disk, relaid.table);
  for (std::int32_t index = first; index < last; ++index) {
    const auto slot = static_cast<std::size_t>(index - first);
    const std::int32_t oldAt = relaid.oldAt[slot];
    const std::int32_t newAt = relaid.newAt[slot];
    const std::int32_t size = relaid.newAt[slot + 1] - newAt;
    const std::size_t file = disk.fileAt(relaid.table, index);
    DiskFile placed = disk.file(file);
    placed.place(newAt, size);
    std::vector<FileSpan> spans = work.usageOf(disk)
                                      .linear()
                                      .spans(work.original, newAt, size)
                                      .value_or(std::vector<FileSpan>{});
    if (edit < relaid.edits.size() && relaid.edits[edit]->file == file) {
      mover.stop();
      ResizeEdit& resized = *relaid.edits[edit++];
      work.changed.push_back(
          {disk.index, file, placed, resized.shown, std::move(resized.bytes), std::move(spans)});
      continue;
    }
    const auto put = work.findPut(disk.index, file);
    if (put != work.changed.end()) {
      mover.stop();
      put->entry = placed;
      put->spans = std::move(spans);
      continue;
    }
    // A file whose place two size changes gave back stays where it was.
    if (newAt == oldAt) {
      mover.stop();
      continue;
    }
    mover.move(index, file, oldAt, newAt, size);
  }
  mover.stop();
  layAdded(work, disk, relaid);
  reportRemoved(work, disk, relaid);
  layFreed(work, disk, relaid);
}

void relayDisk(PlanWork& work, const RecognisedDisk& disk, std::vector<ResizeEdit>& resizes) {
  std::vector<RelaidTable> planned;
  bool refused = false;
  for (std::int32_t table = 0; table < kTableCount; ++table) {
    RelaidTable relaid = tableChanges(work, disk, table, resizes);
    if (relaid.edits.empty() && relaid.added.empty() && relaid.removed == 0) {
      continue;
    }
    if (planTable(work, disk, relaid)) {
      planned.push_back(std::move(relaid));
    } else {
      refused = true;
    }
  }
  if (refused) {
    return;
  }
  for (RelaidTable& relaid : planned) {
    layTable(work, disk, relaid);
  }
}

}  // namespace disk
