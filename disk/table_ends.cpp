#include "disk/table_ends.h"

#include <algorithm>
#include <set>

#include "disk/chain.h"

namespace disk {

namespace {

// The removals asked for one table, by entry.
using TableRemovals = std::map<std::int32_t, RemovedFile>;

Refusal removalRefusal(RefusalCode code, const std::string& shown, std::int32_t disk) {
  Refusal refusal;
  refusal.code = code;
  refusal.file = shown;
  refusal.disk = disk;
  return refusal;
}

// The listing index of the file named `name` that d88extract leaves (the
// last written of its name); none when the disk has none.
std::optional<std::size_t> fileNamed(const RecognisedDisk& disk, const std::string& name) {
  for (std::size_t i = disk.files.size(); i-- > 0;) {
    if (name == disk.file(i).name.data()) {
      return i;
    }
  }
  return std::nullopt;
}

// Whether file `file` goes back changed in this run.
bool putBackToo(PlanWork& work, const RecognisedDisk& disk, std::size_t file,
                const std::vector<ResizeEdit>& resizes) {
  return work.findPut(disk.index, file) != work.changed.end() ||
         std::any_of(resizes.begin(), resizes.end(),
                     [&](const ResizeEdit& edit) { return edit.file == file; });
}

// The code that refuses removing file `file` of `disk` whatever else is
// removed; None when it may go.
RefusalCode whyNotRemovable(PlanWork& work, const RecognisedDisk& disk, std::size_t file,
                            const std::vector<ResizeEdit>& resizes) {
  if (disk.kind == DiskKind::Unknown) {
    return RefusalCode::RemoveUnknownDisk;
  }
  const DiskFile& of = disk.file(file);
  if (of.table < 0) {
    return RefusalCode::RemoveFixedFile;
  }
  if (of.entry == 0) {
    return RefusalCode::RemoveFirstEntry;
  }
  return putBackToo(work, disk, file, resizes) ? RefusalCode::RemovePutBack : RefusalCode::None;
}

// Keeps the removals of a table that end it, from its last file backwards;
// refuses the others, naming the last file that stays.
void keepTableEnd(PlanWork& work, const RecognisedDisk& disk, std::int32_t table,
                  const TableRemovals& removals) {
  std::int32_t kept = filesOfTable(disk, table);
  while (kept > 0 && removals.count(kept - 1) != 0) {
    --kept;
  }
  for (const auto& [entry, removed] : removals) {
    if (entry >= kept) {
      work.removed.push_back(removed);
      // One that is in the folder as it is no longer counts as unchanged.
      if (work.countedUnchanged.erase(removed.file) != 0) {
        --work.plan.unchanged;
      }
      continue;
    }
    Refusal refusal = removalRefusal(RefusalCode::RemoveNotLast, removed.shown, disk.index);
    refusal.name = work.edits.shownName(
        disk.index, tableFileName(disk.kind, tableNumber(table, kept - 1)).data());
    work.refuse(refusal);
  }
}

// The refusal of a new file named `shown`, of `code`.
Refusal addedRefusal(RefusalCode code, const std::string& shown) {
  Refusal refusal;
  refusal.code = code;
  refusal.file = shown;
  return refusal;
}

// A new file's bytes, read whole into work.added; false, refused into
// `message`, when they cannot be.
bool readAdded(PlanWork& work, const RecognisedDisk& disk, const std::string& name, TableSlot slot,
               Diagnostic& message) {
  AddedFile added{slot.table, slot.entry, work.edits.shownName(disk.index, name), {}};
  const std::optional<std::uint64_t> size = work.edits.sizeOf(disk.index, name);
  Refusal refusal = addedRefusal(RefusalCode::CannotRead, added.shown);
  if (size && !fitsExtractBuffer(*size)) {
    refusal.code = RefusalCode::PastExtractBuffer;
    refusal.size = *size;
    refusal.was = kExtractBufferSize;
  } else if (size) {
    added.bytes.resize(static_cast<std::size_t>(*size));
    if (work.edits.read(disk.index, name, added.bytes)) {
      work.added.push_back(std::move(added));
      return true;
    }
  }
  message = {Severity::Error, refusal};
  return false;
}

}  // namespace

std::optional<TableSlot> tableSlotOf(DiskKind kind, const std::string& name) {
  constexpr std::size_t kNameSize = 4;  // the kind's letter and three digits
  if (kind == DiskKind::Unknown || name.size() != kNameSize || name[0] != static_cast<char>(kind) ||
      name.find_first_not_of("0123456789ABCDEF", 1) != std::string::npos) {
    return std::nullopt;
  }
  const std::int32_t number = std::stoi(name.substr(1), nullptr, 16);
  // Entries past the last whole one have no place on the table's track.
  const std::int32_t table = number < kSecondTableNumber ? 0 : 1;
  const std::int32_t entry = number - tableNumber(table, 0);
  if (entry + 1 >= kEntriesPerTable) {
    return std::nullopt;
  }
  return TableSlot{table, entry};
}

std::int32_t filesOfTable(const RecognisedDisk& disk, std::int32_t table) {
  const std::size_t end = table + 1 < kTableCount
                              ? disk.firstOfTable.at(static_cast<std::size_t>(table) + 1)
                              : disk.files.size();
  return static_cast<std::int32_t>(end - disk.firstOfTable.at(static_cast<std::size_t>(table)));
}

void findRemovals(PlanWork& work, const RecognisedDisk& disk,
                  const std::vector<ResizeEdit>& resizes) {
  std::array<TableRemovals, kTableCount> tables;
  std::set<std::string> asked;
  for (const Removal& removal : work.options.removals) {
    if (removal.disk != disk.index || !asked.insert(removal.name).second) {
      continue;
    }
    const std::string shown = work.edits.shownName(disk.index, removal.name);
    const std::optional<std::size_t> file = fileNamed(disk, removal.name);
    if (!file) {
      work.refuse(removalRefusal(RefusalCode::RemoveNoFile, shown, disk.index));
      continue;
    }
    if (const RefusalCode why = whyNotRemovable(work, disk, *file, resizes);
        why != RefusalCode::None) {
      work.refuse(removalRefusal(why, shown, disk.index));
      continue;
    }
    const DiskFile& of = disk.file(*file);
    tables.at(static_cast<std::size_t>(of.table))[of.entry] = RemovedFile{*file, shown};
  }
  for (std::int32_t table = 0; table < kTableCount; ++table) {
    keepTableEnd(work, disk, table, tables.at(static_cast<std::size_t>(table)));
  }
}

void findAddedFiles(PlanWork& work, const RecognisedDisk& disk,
                    const std::vector<std::string>& unknown,
                    std::map<std::string, Diagnostic>& messages) {
  // By table, the names by entry: a table's next numbers are added in order.
  std::array<std::map<std::int32_t, std::string>, kTableCount> named;
  for (const std::string& name : unknown) {
    Refusal notice = addedRefusal(RefusalCode::NoSuchFile, work.edits.shownName(disk.index, name));
    notice.disk = disk.index;
    messages[name] = {Severity::Notice, notice};
    if (const std::optional<TableSlot> slot = tableSlotOf(disk.kind, name)) {
      named.at(static_cast<std::size_t>(slot->table))[slot->entry] = name;
    }
  }
  for (std::int32_t table = 0; table < kTableCount; ++table) {
    // The entry the next new file starts at: after the files kept.
    std::int32_t next = filesOfTable(disk, table);
    for (const RemovedFile& removed : work.removed) {
      next -= disk.file(removed.file).table == table ? 1 : 0;
    }
    for (const auto& [entry, name] : named.at(static_cast<std::size_t>(table))) {
      Diagnostic& message = messages[name];
      if (entry < next) {
        continue;
      }
      if (entry == next) {
        message.refusal.resizeWouldTake = true;
        if (work.options.resize && readAdded(work, disk, name, {table, entry}, message)) {
          message = Diagnostic();
        }
        ++next;
      } else if (work.options.resize) {
        Refusal gap = addedRefusal(RefusalCode::AddedAfterGap, message.refusal.file);
        gap.name = work.edits.shownName(disk.index,
                                        tableFileName(disk.kind, tableNumber(table, next)).data());
        message = {Severity::Error, gap};
      }
    }
  }
}

}  // namespace disk
