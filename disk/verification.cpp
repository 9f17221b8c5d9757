#include "disk/verification.h"

#include <algorithm>
#include <array>
#include <string>

#include "disk/listing.h"

namespace disk {

namespace {

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

bool sameFiles(const std::vector<FileListing>& a, const std::vector<FileListing>& b) {
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

// The put whose byte the overlay holds at a position: of those that lay
// it, the last.
const ChangedFile* lastPutAt(const PlanWork& work, std::int64_t position) {
  for (auto put = work.changed.rbegin(); put != work.changed.rend(); ++put) {
    for (const FileSpan& span : put->spans) {
      if (position >= span.position && position < span.position + span.length) {
        return &*put;
      }
    }
  }
  return nullptr;
}

// The reads of one disk's check, into the plan's buffers.
class DiskCheck {
 public:
  DiskCheck(PlanWork& work, std::int32_t disk) : work_(work), disk_(disk) {}

  // The fast check: false, with nothing concluded, as soon as a read of the
  // structure meets a laid byte.
  bool concludedFromRecordHeaders(std::vector<Refusal>& errors);
  // The fast check of a disk with a re-laid table, whose table tracks'
  // data alone meets laid bytes: its listing must be the planned one, and
  // only files whose bytes were laid over or moved are read.
  bool concludedFromRelaidListing(std::vector<Refusal>& errors);
  // The full check of every file.
  void checkEverything(std::vector<Refusal>& errors);

 private:
  // The original's files, a re-laid table's at their planned places.
  std::vector<FileListing> expectedFiles() const;
  // The original's listing and summary, read again when the disk has none yet.
  const DiskSummary& describeOriginal();
  // Whether a laid byte meets a record header of a table track.
  bool tableRecordsTouched();
  // Refuses a change of the disk's kind or list of files.
  void filesChanged(std::vector<Refusal>& errors) const;
  // Reads a written file of the changed image against its edit or its
  // original (at `was`, for a moved file); refuses into `errors`.
  void compareChain(const DiskFile& file, std::vector<ChangedFile>::iterator put,
                    std::vector<Refusal>& errors, const DiskFile* was = nullptr);
  // The files put back whose bytes overlap a file's.
  std::vector<std::string> sharers(const DiskFile& file, const ChangedFile* self);
  bool overlapsAnyPut(const std::vector<d88::ChainStep>& steps) const {
    return std::any_of(steps.begin(), steps.end(), [&](const d88::ChainStep& step) {
      return step.position >= 0 && work_.plan.image.overlay().touches(step.position, step.length);
    });
  }

  PlanWork& work_;
  std::int32_t disk_;
  TableBuffers tables_{};
  DiskListing before_;
  DiskListing after_;
};

bool DiskCheck::concludedFromRecordHeaders(std::vector<Refusal>& errors) {
  d88::D88Image& patched = work_.patched;
  std::uint64_t overlaid = patched.overlaidReads();
  describeDisk(patched, disk_, {tables_, work_.patchedBuffer.get()}, after_, kFileListOnly);
  bool originalSelected = false;
  for (std::size_t i = 0; i < after_.files.size(); ++i) {
    const DiskFile& file = after_.files[i].file;
    const bool written = locateFileChain(patched, file, work_.steps) > 0;
    if (patched.overlaidReads() != overlaid) {
      return false;
    }
    const auto put = work_.findPut(disk_, i);
    if (!written || (put == work_.changed.end() && !overlapsAnyPut(work_.steps))) {
      continue;
    }
    // A file of another disk's folder may have been compared last: the
    // original's chains, and a sharer's spans, are read on this disk.
    if (!originalSelected) {
      (void)selectDisk(work_.original, disk_, after_.kind);
      originalSelected = true;
    }
    compareChain(file, put, errors);
    // The chain's own data met laid bytes; its structure did not.
    overlaid = patched.overlaidReads();
  }
  return true;
}

bool DiskCheck::tableRecordsTouched() {
  std::vector<std::int64_t> positions;
  for (const TablePlace& place : layoutOf(after_.kind).tables) {
    work_.original.readRecordPositions(place.track, positions);
    for (const std::int64_t position : positions) {
      if (work_.plan.image.overlay().touches(position, d88::kSectorHeaderSize)) {
        return true;
      }
    }
  }
  return false;
}

bool DiskCheck::concludedFromRelaidListing(std::vector<Refusal>& errors) {
  d88::D88Image& patched = work_.patched;
  const DiskSummary& before = describeOriginal();
  // The tables are read through record headers that no laid byte meets, so
  // that what they read is the rewritten entries.
  (void)selectDisk(work_.original, disk_, before.kind);
  after_.kind = before.kind;
  if (tableRecordsTouched()) {
    return false;
  }
  describeDisk(patched, disk_, {tables_, work_.patchedBuffer.get()}, after_, kFileListOnly);
  if (before.kind != after_.kind || !sameFiles(expectedFiles(), after_.files)) {
    filesChanged(errors);
    return true;
  }
  std::uint64_t overlaid = patched.overlaidReads();
  for (std::size_t i = 0; i < after_.files.size(); ++i) {
    const DiskFile& file = after_.files[i].file;
    const bool written = locateFileChain(patched, file, work_.steps) > 0;
    if (patched.overlaidReads() != overlaid) {
      return false;
    }
    if (written != before.written[i]) {
      filesChanged(errors);
      return true;
    }
    const auto put = work_.findPut(disk_, i);
    if (written && (put != work_.changed.end() || overlapsAnyPut(work_.steps))) {
      compareChain(file, put, errors, &before_.files[i].file);
      overlaid = patched.overlaidReads();
    }
  }
  return true;
}

const DiskSummary& DiskCheck::describeOriginal() {
  // Disks without a folder were not read yet; the tables are read again
  // rather than kept, so that memory does not grow with the image.
  const bool summarised = work_.summaries.count(disk_) != 0;
  describeDisk(work_.original, disk_, {tables_, work_.buffer.get()}, before_,
               {false, !summarised, false, false});
  if (!summarised) {
    DiskSummary& summary = work_.summaries[disk_];
    summary.kind = before_.kind;
    for (const FileListing& listing : before_.files) {
      summary.written.push_back(isWritten(listing.verdict));
    }
  }
  return work_.summaries[disk_];
}

void DiskCheck::filesChanged(std::vector<Refusal>& errors) const {
  Refusal refusal;
  refusal.code = RefusalCode::FilesChanged;
  refusal.disk = disk_;
  for (const ChangedFile& put : work_.changed) {
    if (put.disk == disk_) {
      refusal.files.push_back(put.name);
    }
  }
  errors.push_back(refusal);
}

std::vector<FileListing> DiskCheck::expectedFiles() const {
  std::vector<FileListing> expected = before_.files;
  const auto relaid = work_.relaid.find(disk_);
  if (relaid == work_.relaid.end()) {
    return expected;
  }
  for (const RelaidFiles& files : relaid->second) {
    // The listing of the original holds every re-laid file.
    for (std::size_t i = 0; i + 1 < files.newAt.size() && files.firstFile + i < expected.size();
         ++i) {
      expected[files.firstFile + i].file.place(files.newAt[i], files.newAt[i + 1] - files.newAt[i]);
    }
  }
  return expected;
}

void DiskCheck::checkEverything(std::vector<Refusal>& errors) {
  const DiskSummary& before = describeOriginal();
  describeDisk(work_.patched, disk_, {tables_, work_.patchedBuffer.get()}, after_, kFileListOnly);
  bool same = before.kind == after_.kind && sameFiles(expectedFiles(), after_.files);
  for (std::size_t i = 0; same && i < after_.files.size(); ++i) {
    const DiskFile& file = after_.files[i].file;
    const bool written = locateFileChain(work_.patched, file, work_.steps) > 0;
    same = written == before.written[i];
    if (same && written) {
      compareChain(file, work_.findPut(disk_, i), errors, &before_.files[i].file);
    }
  }
  if (!same) {
    filesChanged(errors);
  }
}

void DiskCheck::compareChain(const DiskFile& file, std::vector<ChangedFile>::iterator put,
                             std::vector<Refusal>& errors, const DiskFile* was) {
  (void)readFileChain(work_.patched, work_.patchedBuffer.get(), file);
  const std::uint8_t* chain = work_.patchedBuffer.get() + file.offset;
  Refusal refusal;
  if (put != work_.changed.end()) {
    // The edit read again must be the one laid: an edit changed since
    // would make the check compare other bytes than those written.
    LaidEdits& laid = work_.plan.image.laid();
    const std::vector<std::uint8_t>* edit = laid.bytesOf(work_.edits, put->laid);
    if (edit == nullptr) {
      refusal.code = RefusalCode::EditChanged;
      refusal.file = laid.changed();
    } else if (!std::equal(edit->begin(), edit->end(), chain)) {
      refusal.code = RefusalCode::NotReadBack;
      refusal.file = put->name;
      refusal.files = sharers(file, &*put);
    }
  } else {
    const DiskFile& old = was != nullptr ? *was : file;
    (void)readFileChain(work_.original, work_.buffer.get(), old);
    // A moved file of another size than before is no moved file.
    if (old.size != file.size ||
        !std::equal(chain, chain + file.size, work_.buffer.get() + old.offset)) {
      refusal.code = RefusalCode::WouldChange;
      refusal.file = work_.edits.shownName(disk_, file.name.data());
      refusal.files = sharers(file, nullptr);
    }
  }
  if (refusal.code != RefusalCode::None) {
    errors.push_back(refusal);
  }
}

std::vector<std::string> DiskCheck::sharers(const DiskFile& file, const ChangedFile* self) {
  const std::vector<FileSpan> spans = fileSpansOf(work_.original, file, work_.steps);
  std::vector<std::string> names;
  for (const ChangedFile& put : work_.changed) {
    if (&put != self && overlaps(put.spans, spans)) {
      names.push_back(put.name);
    }
  }
  return names;
}

}  // namespace

std::vector<bool> checkHeaders(PlanWork& work) {
  // The image scan reads each disk's size field from its header, and a
  // selection the rest of the header: a changed byte there could lose disks
  // or move them. With no changed byte in any header at the original's disk
  // offsets, and the file's size kept, the changed file holds the same disks
  // at the same offsets, each with the same header.
  d88::D88Image& original = work.original;
  const d88::ByteOverlay& overlay = work.plan.image.overlay();
  std::vector<bool> changed(static_cast<std::size_t>(original.diskCount()), false);
  std::array<std::uint8_t, d88::kHeaderSize> before{};
  std::array<std::uint8_t, d88::kHeaderSize> after{};
  for (std::int32_t disk = 0; disk < original.diskCount(); ++disk) {
    const std::int64_t base = original.diskOffset(disk);
    if (!overlay.touches(base, d88::kHeaderSize)) {
      continue;
    }
    // The original has no overlay: these are the file's own bytes.
    const std::int64_t got = original.readFileBytes(base, before.data(), d88::kHeaderSize);
    after = before;
    (void)overlay.apply(base, after.data(), got,
                        [&](std::int64_t from, std::uint8_t* to, std::int64_t count) {
                          return original.readFileBytes(from, to, count);
                        });
    std::vector<const ChangedFile*> changers;
    for (std::int64_t i = 0; i < got; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (before[at] == after[at]) {
        continue;
      }
      changed[static_cast<std::size_t>(disk)] = true;
      const ChangedFile* put = lastPutAt(work, base + i);
      if (std::find(changers.begin(), changers.end(), put) == changers.end()) {
        changers.push_back(put);
      }
    }
    for (const ChangedFile* put : changers) {
      Refusal refusal;
      refusal.code = RefusalCode::HeaderChanged;
      // Every laid byte comes from a put's span; the name is only missing
      // if that ever stops being so.
      refusal.file = put != nullptr ? put->name : std::string();
      refusal.disk = disk;
      work.refuse(refusal);
    }
  }
  return changed;
}

void checkDisk(PlanWork& work, std::int32_t disk) {
  std::vector<Refusal> errors;
  DiskCheck check(work, disk);
  const bool concluded = work.relaid.count(disk) == 0 ? check.concludedFromRecordHeaders(errors)
                                                      : check.concludedFromRelaidListing(errors);
  if (concluded) {
    if (work.options.proveFastCheck) {
      std::vector<Refusal> full;
      DiskCheck(work, disk).checkEverything(full);
      if (full != errors && !work.plan.disagreement.found()) {
        work.plan.disagreement = {disk, errors, full};
      }
    }
  } else {
    // What the fast check found before it gave up, the full one finds again.
    errors.clear();
    DiskCheck(work, disk).checkEverything(errors);
  }
  for (const Refusal& refusal : errors) {
    work.refuse(refusal);
  }
}

void verifyPlan(PlanWork& work) {
  if (work.changed.empty()) {
    return;
  }
  work.patched.setOverlay(&work.plan.image.overlay());
  const std::vector<bool> headerChanged = checkHeaders(work);
  for (std::int32_t disk = 0; disk < work.original.diskCount(); ++disk) {
    // A disk whose header would change has its error already; its files,
    // read through the changed header, would only restate it.
    if (!headerChanged[static_cast<std::size_t>(disk)]) {
      checkDisk(work, disk);
    }
  }
}

}  // namespace disk
