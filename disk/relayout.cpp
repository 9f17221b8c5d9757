#include "disk/relayout.h"

#include <algorithm>

#include "disk/file_tables.h"

namespace disk {

namespace {

// Refuses the size change that `shown` makes.
bool notRelaid(PlanWork& work, const std::string& shown, std::int32_t table,
               const RoomReason& why) {
  Refusal refusal;
  refusal.code = RefusalCode::NotRelaid;
  refusal.file = shown;
  refusal.table = table;
  refusal.why = why;
  work.refuse(refusal);
  return false;
}

// The new addresses of the files from relaid.first on, each at the end of
// the one before, with the edits' sizes; false, refused, when a file would
// no longer be the same file to d88extract.
bool placeFiles(PlanWork& work, const RecognisedDisk& disk, const TableFit& fit,
                RelaidTable& relaid) {
  const std::string& shown = relaid.edits.front()->shown;
  const std::int32_t last = relaid.shape.lastEntry();
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
      return notRelaid(work, shown, -1, why);
    }
    relaid.newAt.push_back(newAt + newSize);
  }
  // Only an entry that lies in a file's bytes can change that file.
  for (const std::int32_t index : fit.entriesInFiles()) {
    if (index <= relaid.first) {
      continue;
    }
    if (const RoomReason why = fit.rewrittenEntryFault(
            index, relaid.newAt[static_cast<std::size_t>(index - relaid.first)]);
        !why.empty()) {
      return notRelaid(work, shown, -1, why);
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
  TableBuffer rewritten = bytes;
  for (std::int32_t index = first + 1; index <= last; ++index) {
    const FileTableEntry entry = entryForAddress(
        relaid.newAt[static_cast<std::size_t>(index - first)], entryAt(bytes, index));
    const auto at = static_cast<std::size_t>(index) * kEntrySize;
    rewritten[at] = entry.position;
    rewritten[at + 1] = entry.sector;
    rewritten[at + 2] = entry.offset;
  }
  const std::int32_t from = (first + 1) * kEntrySize;
  const std::int32_t to = (last + 1) * kEntrySize;
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

}  // namespace

bool planTable(PlanWork& work, const RecognisedDisk& disk, RelaidTable& relaid) {
  const std::int32_t table = relaid.table;
  const std::string& shown = relaid.edits.front()->shown;
  const DiskUsage& usage = work.usageOf(disk);
  const TableFit fit(work.original, usage, disk.kind, table, disk.tables);
  relaid.shape = fit.shape();
  relaid.first = disk.file(relaid.edits.front()->file).entry;
  if (const RoomReason why = fit.unfitFrom(relaid.first); !why.empty()) {
    return notRelaid(work, shown, fit.unwhole().empty() ? -1 : table, why);
  }
  for (std::int32_t index = relaid.first; index <= relaid.shape.lastEntry(); ++index) {
    relaid.oldAt.push_back(fit.addressOf(index));
  }
  if (!placeFiles(work, disk, fit, relaid)) {
    return false;
  }
  const std::int32_t oldEnd = relaid.oldAt.back();
  const std::int32_t growth = relaid.newAt.back() - oldEnd;
  // Only whether the growth fits, and the blank value, are needed.
  const TableRoom room = measureRoom(work.original, usage, oldEnd, std::max(growth, 1));
  if (growth > room.room) {
    Refusal refusal;
    refusal.code = RefusalCode::TableGrows;
    refusal.file = shown;
    refusal.table = table;
    refusal.growth = growth;
    refusal.why = room.stop;
    work.refuse(refusal);
    return false;
  }
  relaid.blank = room.room > 0 ? room.blank : std::uint8_t{0};
  return true;
}

void layTable(PlanWork& work, const RecognisedDisk& disk, const RelaidTable& relaid) {
  const std::int32_t first = relaid.first;
  const std::int32_t last = relaid.shape.lastEntry();
  work.relaid[disk.index].push_back({disk.fileAt(relaid.table, first), relaid.newAt});
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
  layFreed(work, disk, relaid);
}

void relayDisk(PlanWork& work, const RecognisedDisk& disk, std::vector<ResizeEdit>& resizes) {
  std::vector<RelaidTable> planned;
  bool refused = false;
  for (std::int32_t table = 0; table < kTableCount; ++table) {
    RelaidTable relaid;
    relaid.table = table;
    for (ResizeEdit& edit : resizes) {
      if (disk.file(edit.file).table == table) {
        relaid.edits.push_back(&edit);
      }
    }
    if (relaid.edits.empty()) {
      continue;
    }
    std::sort(relaid.edits.begin(), relaid.edits.end(),
              [](const ResizeEdit* a, const ResizeEdit* b) { return a->file < b->file; });
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
