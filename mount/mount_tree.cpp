#include "mount/mount_tree.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "cli/platform.h"
#include "disk/edit_source.h"
#include "disk/put_back.h"
#include "format/put_words.h"

using namespace disk;
using namespace format;

namespace fs = std::filesystem;

namespace {

// The one edit of a put back: a table file's bytes held by the mount.
class OneEdit final : public EditSource {
 public:
  OneEdit(std::int32_t disk, std::string name, const Bytes& bytes)
      : disk_(disk), name_(std::move(name)), bytes_(bytes) {}

  void survey(std::int32_t /*diskCount*/, Diagnostics& /*diagnostics*/) override {}
  [[nodiscard]] bool editsOf(std::int32_t disk, DiskEdits& edits,
                             std::string& /*failure*/) override {
    if (disk != disk_) {
      return false;
    }
    edits.names.push_back(name_);
    return true;
  }
  [[nodiscard]] std::optional<std::uint64_t> sizeOf(std::int32_t disk,
                                                    const std::string& name) override {
    if (disk != disk_ || name != name_) {
      return std::nullopt;
    }
    return bytes_.size();
  }
  [[nodiscard]] bool read(std::int32_t disk, const std::string& name, Bytes& bytes) override {
    if (disk != disk_ || name != name_ || bytes.size() != bytes_.size()) {
      return false;
    }
    std::copy(bytes_.begin(), bytes_.end(), bytes.begin());
    return true;
  }
  [[nodiscard]] std::string shownName(std::int32_t disk, const std::string& name) const override {
    return std::string(diskFolderName(disk).data()) + "/" + name;
  }

 private:
  std::int32_t disk_;
  std::string name_;
  const Bytes& bytes_;
};

// The mount's writer: the D88 file replaced as d88put replaces it, the lock
// carried on to the new file.
class MountWriter final : public ImageWriter {
 public:
  MountWriter(HeldFile& lock, fs::path d88) : lock_(lock), d88_(std::move(d88)) {}

  [[nodiscard]] bool writes(bool changes) const override { return changes; }
  [[nodiscard]] bool write(PatchedImage& image, Diagnostics& diagnostics) override {
    const fs::path destination = fileToReplace(d88_);
    const std::string refusal = inPlaceRefusal(destination, "(unmount, and use d88put -o)");
    if (!refusal.empty()) {
      diagnostics.push_back(
          {Severity::Error, "cannot replace " + d88_.u8string() + ": " + refusal});
      return false;
    }
    Replacement replacement;
    replacement.destination = destination;
    replacement.modeFrom = d88_;
    replacement.beforeRename = [&]() {
      return lock_.unchanged(d88_) ? std::string()
                                   : d88_.u8string() + " changed while mounted; nothing written";
    };
    replacement.releaseFiles = [&]() { image.release(); };
    replacement.holdNew = &lock_;
    std::vector<std::string> notices;
    std::string failure;
    const bool written = replaceFile(
        replacement,
        [&](std::FILE* file) {
          FileSink sink(file);
          return image.writeTo(sink);
        },
        notices, failure);
    for (const std::string& notice : notices) {
      diagnostics.push_back({Severity::Notice, notice});
    }
    if (!written) {
      diagnostics.push_back({Severity::Error, failure});
    }
    return written;
  }

 private:
  HeldFile& lock_;
  fs::path d88_;
};

// The signals that unmount: held while the D88 file is replaced, so that a
// put back under way completes and the mount then ends cleanly.
class UnmountSignalsHeld {
 public:
  UnmountSignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~UnmountSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  UnmountSignalsHeld(const UnmountSignalsHeld&) = delete;
  UnmountSignalsHeld& operator=(const UnmountSignalsHeld&) = delete;

 private:
  sigset_t previous_{};
};

}  // namespace

int errnoOfRefusal(const Refusal& refusal) {
  switch (refusal.code) {
    case RefusalCode::TableGrows:
    case RefusalCode::PastExtractBuffer:
      return EFBIG;
    case RefusalCode::NotRelaid:
      // A later file moved past what a chain buffer holds: no room either.
      return refusal.why.code == RoomReasonCode::PastBuffer ? EFBIG : EPERM;
    case RefusalCode::NotAdded:
      // No room for its bytes, or for its entry in the table.
      return refusal.why.code == RoomReasonCode::PastBuffer ||
                     refusal.why.code == RoomReasonCode::EntriesReach
                 ? EFBIG
                 : EPERM;
    case RefusalCode::AddedAfterGap:
    case RefusalCode::RemoveNoFile:
    case RefusalCode::RemoveNoDisk:
    case RefusalCode::RemoveUnknownDisk:
    case RefusalCode::RemoveFixedFile:
    case RefusalCode::RemoveFirstEntry:
    case RefusalCode::RemoveNotLast:
    case RefusalCode::RemovePutBack:
    case RefusalCode::NotRemoved:
    case RefusalCode::OtherSize:
    case RefusalCode::UnknownDisk:
    case RefusalCode::FixedFile:
    case RefusalCode::FirstEntry:
    case RefusalCode::NamedTwice:
    case RefusalCode::ChainBreaks:
      return EPERM;
    case RefusalCode::None:
    case RefusalCode::NoSuchFile:
    case RefusalCode::NoSuchDisk:
    case RefusalCode::CannotRead:
    case RefusalCode::HeaderChanged:
    case RefusalCode::NotReadBack:
    case RefusalCode::WouldChange:
    case RefusalCode::EditChanged:
    case RefusalCode::EditChangedUnwritten:
    case RefusalCode::FilesChanged:
      break;
  }
  return EIO;
}

std::string MountTree::open(const fs::path& d88, const MountOptions& options) {
  path_ = fs::absolute(d88);
  options_ = options;
  if (!options.readOnly) {
    const HeldFile::Result holding = lock_.hold(path_);
    if (holding == HeldFile::Result::Busy) {
      return d88.u8string() + " is being changed by another d88put or d88mount";
    }
    if (holding == HeldFile::Result::Failed) {
      return "cannot lock " + d88.u8string() + ": " + std::strerror(errno);
    }
  }
  if (!image_.openFile(platform::openInput(path_))) {
    return "cannot open " + d88.u8string() + ": " + std::strerror(errno);
  }
  stamp_ = platform::stampOf(path_);
  disks_.resize(static_cast<std::size_t>(image_.diskCount()));
  for (std::int32_t disk = 0; disk < image_.diskCount(); ++disk) {
    if (!listDisk(image_, disk)) {
      return d88.u8string() + " changed while it was read";
    }
  }
  return {};
}

bool MountTree::listDisk(d88::D88Image& image, std::int32_t index) {
  DiskListing listing;
  describeDisk(image, index, DiskBuffers{tables_, chain_->data()}, listing, kVerdictsOnly);
  selected_ = -1;
  inChain_ = {};
  if (changedWhileRead(image, listing)) {
    return false;
  }
  Disk& disk = disks_[static_cast<std::size_t>(index)];
  disk.kind = listing.kind;
  disk.order.clear();
  disk.files.clear();
  disk.next = {-1, -1};
  const std::vector<bool> last = lastOfTheirName(listing.files);
  for (std::size_t i = 0; i < listing.files.size(); ++i) {
    const FileListing& file = listing.files[i];
    if (last[i]) {
      disk.order.emplace_back(file.file.name.data());
      disk.files[file.file.name.data()] = {file.file, file.verdict};
    }
    if (file.file.table >= 0 && disk.kind != DiskKind::Unknown) {
      const auto table = static_cast<std::size_t>(file.file.table);
      const std::int32_t number = tableNumber(file.file.table, file.file.entry);
      if (number + 1 > disk.next[table]) {
        disk.next[table] = number + 1;
        disk.last[table] = file.file.name.data();
      }
    }
  }
  return true;
}

std::string MountTree::shown(std::int32_t disk, const std::string& name) const {
  return std::string(diskFolderName(disk).data()) + "/" + name;
}

MountPath MountTree::parse(const std::string& path) const {
  MountPath result;
  if (path == "/") {
    result.kind = MountPath::Kind::Root;
    return result;
  }
  const std::size_t slash = path.find('/', 1);
  const std::string folder = path.substr(1, slash == std::string::npos ? slash : slash - 1);
  if (!isDiskFolderName(folder) || std::stoi(folder) >= diskCount()) {
    result.inRoot = slash == std::string::npos;
    return result;
  }
  result.disk = std::stoi(folder);
  if (slash == std::string::npos) {
    result.kind = MountPath::Kind::Disk;
    return result;
  }
  result.name = path.substr(slash + 1);
  result.kind = result.name.empty() || result.name.find('/') != std::string::npos
                    ? MountPath::Kind::None
                    : MountPath::Kind::File;
  return result;
}

bool MountTree::isListed(std::int32_t disk, const std::string& name) const {
  return disks_[static_cast<std::size_t>(disk)].files.count(name) != 0;
}

bool MountTree::isTableName(std::int32_t disk, const std::string& name) const {
  const DiskKind kind = disks_[static_cast<std::size_t>(disk)].kind;
  if (kind == DiskKind::Unknown || isListed(disk, name)) {
    return false;
  }
  for (const std::int32_t first : {kFirstTableNumber, kSecondTableNumber}) {
    for (std::int32_t number = first; number < first + kEntriesPerTable; ++number) {
      if (name == tableFileName(kind, number).data()) {
        return true;
      }
    }
  }
  return false;
}

std::int32_t MountTree::tableAdding(std::int32_t disk, const std::string& name) const {
  const Disk& entry = disks_[static_cast<std::size_t>(disk)];
  for (std::int32_t table = 0; table < kTableCount; ++table) {
    const std::int32_t next = entry.next[static_cast<std::size_t>(table)];
    if (next >= 0 && name == tableFileName(entry.kind, next).data()) {
      return table;
    }
  }
  return -1;
}

// A table name that is not the next of its table: adding it would leave a gap.
int MountTree::refuseAdding(std::int32_t disk, const std::string& name) {
  const Disk& entry = disks_[static_cast<std::size_t>(disk)];
  std::string missing;
  for (std::int32_t table = 0; table < kTableCount && missing.empty(); ++table) {
    const std::int32_t next = entry.next[static_cast<std::size_t>(table)];
    const std::int32_t end =
        table + 1 < kTableCount
            ? kTableFirstNumbers[static_cast<std::size_t>(table) + 1]
            : kTableFirstNumbers[static_cast<std::size_t>(table)] + kEntriesPerTable;
    for (std::int32_t number = next; next >= 0 && number < end; ++number) {
      if (name == tableFileName(entry.kind, number).data()) {
        missing = tableFileName(entry.kind, next).data();
      }
    }
  }
  log_("error: " + shown(disk, name) + " cannot be added" +
       (missing.empty() ? std::string(": no table ends before it")
                        : ": " + shown(disk, missing) + " does not exist"));
  return EPERM;
}

int MountTree::refuseRemoving(std::int32_t disk, const std::string& name) {
  log_("error: cannot remove " + shown(disk, name) + ": it is open for writing");
  return EBUSY;
}

int MountTree::stat(const MountPath& path, MountStat& out) const {
  switch (path.kind) {
    case MountPath::Kind::Root:
      out = {true, 0555, 0};
      return 0;
    case MountPath::Kind::Disk:
      out = {true, options_.readOnly ? 0555u : 0755u, 0};
      return 0;
    case MountPath::Kind::None:
      return ENOENT;
    case MountPath::Kind::File:
      break;
  }
  const Disk& disk = disks_[static_cast<std::size_t>(path.disk)];
  if (const auto held = disk.held.find(path.name); held != disk.held.end()) {
    out = {false, held->second.mode, held->second.bytes.size()};
    return 0;
  }
  const auto listed = disk.files.find(path.name);
  const auto pending = disk.pending.find(path.name);
  if (listed == disk.files.end()) {
    if (pending != disk.pending.end() && pending->second.added) {
      out = {false, 0644u, pending->second.bytes.size()};
      return 0;
    }
    return ENOENT;
  }
  const bool changeable = !options_.readOnly && isChangeable(listed->second.verdict);
  out = {false, changeable ? 0644u : 0444u,
         pending != disk.pending.end() ? pending->second.bytes.size()
                                       : static_cast<std::uint64_t>(listed->second.file.size)};
  return 0;
}

int MountTree::list(const MountPath& path, std::vector<std::string>& names) const {
  if (path.kind == MountPath::Kind::Root) {
    for (std::int32_t disk = 0; disk < diskCount(); ++disk) {
      names.emplace_back(diskFolderName(disk).data());
    }
    return 0;
  }
  if (path.kind != MountPath::Kind::Disk) {
    return path.kind == MountPath::Kind::File ? ENOTDIR : ENOENT;
  }
  const Disk& disk = disks_[static_cast<std::size_t>(path.disk)];
  names = disk.order;
  for (const auto& [name, pending] : disk.pending) {
    if (pending.added && disk.files.count(name) == 0) {
      names.push_back(name);
    }
  }
  for (const auto& [name, held] : disk.held) {
    names.push_back(name);
  }
  return 0;
}

const std::uint8_t* MountTree::listedBytes(std::int32_t disk, const std::string& name) {
  const Disk& entry = disks_[static_cast<std::size_t>(disk)];
  const Listed& listed = entry.files.at(name);
  const std::uint8_t* start = chain_->data() + listed.file.offset;
  if (inChain_.disk == disk && inChain_.name == name) {
    return start;
  }
  inChain_ = {};
  if (selected_ != disk) {
    if (!selectDisk(image_, disk, entry.kind)) {
      return nullptr;
    }
    selected_ = disk;
  }
  const FileRead read = readFileChain(image_, chain_->data(), listed.file);
  if (!isWritten(read.verdict)) {
    return nullptr;
  }
  inChain_ = {disk, name};
  return start;
}

bool MountTree::readListed(std::int32_t disk, const std::string& name, Bytes& bytes) {
  const std::uint8_t* start = listedBytes(disk, name);
  if (start == nullptr) {
    return false;
  }
  bytes.assign(start, start + disks_[static_cast<std::size_t>(disk)].files.at(name).file.size);
  return true;
}

int MountTree::openFile(const MountPath& path, bool write, bool truncate, bool create,
                        std::unique_ptr<Handle>& handle) {
  if (path.kind != MountPath::Kind::File) {
    // The root holds the disks' folders and nothing else.
    if (create && path.inRoot) {
      return options_.readOnly ? EROFS : EPERM;
    }
    return path.kind == MountPath::Kind::None ? ENOENT : EISDIR;
  }
  if ((write || create) && options_.readOnly) {
    return EROFS;
  }
  Disk& disk = disks_[static_cast<std::size_t>(path.disk)];
  handle = std::make_unique<Handle>();
  handle->disk = path.disk;
  handle->name = path.name;
  handle->writes = write;
  const auto listed = disk.files.find(path.name);
  if (const auto added = disk.pending.find(path.name);
      listed == disk.files.end() && added != disk.pending.end() && added->second.added) {
    // A new table file open already: one more writer.
    handle->table = true;
    if (truncate) {
      added->second.bytes.clear();
    }
    added->second.writers += write ? 1 : 0;
    return 0;
  }
  if (listed == disk.files.end()) {
    auto held = disk.held.find(path.name);
    if (held == disk.held.end()) {
      if (!create) {
        return ENOENT;
      }
      if (isTableName(path.disk, path.name)) {
        if (tableAdding(path.disk, path.name) < 0) {
          return refuseAdding(path.disk, path.name);
        }
        // A table's next number: added at its last close.
        handle->table = true;
        disk.pending.emplace(path.name, Pending{{}, write ? 1 : 0, true, true});
        return 0;
      }
      held = disk.held.emplace(path.name, Held{}).first;
    }
    if (truncate) {
      held->second.bytes.clear();
    }
    return 0;
  }
  handle->table = true;
  if (!write) {
    return 0;
  }
  if (!isChangeable(listed->second.verdict)) {
    log_("error: " + shown(path.disk, path.name) +
         " cannot be changed: its chain breaks, and it reads zero-filled");
    return EPERM;
  }
  auto pending = disk.pending.find(path.name);
  if (pending == disk.pending.end()) {
    Bytes bytes;
    if (!truncate && !readListed(path.disk, path.name, bytes)) {
      return EIO;
    }
    pending = disk.pending.emplace(path.name, Pending{std::move(bytes), 0, false}).first;
  } else if (truncate) {
    pending->second.bytes.clear();
  }
  pending->second.dirty = pending->second.dirty || truncate;
  ++pending->second.writers;
  return 0;
}

Bytes* MountTree::bytesOf(const Handle& handle) {
  Disk& disk = disks_[static_cast<std::size_t>(handle.disk)];
  if (!handle.table) {
    const auto held = disk.held.find(handle.name);
    return held == disk.held.end() ? nullptr : &held->second.bytes;
  }
  const auto pending = disk.pending.find(handle.name);
  return pending == disk.pending.end() ? nullptr : &pending->second.bytes;
}

int MountTree::read(Handle& handle, std::uint64_t offset, std::size_t count, Bytes& out) {
  out.clear();
  const Bytes* bytes = bytesOf(handle);
  const std::uint8_t* start = bytes == nullptr ? nullptr : bytes->data();
  std::uint64_t size = bytes == nullptr ? 0 : bytes->size();
  if (bytes == nullptr) {
    if (!handle.table || !isListed(handle.disk, handle.name)) {
      return ENOENT;
    }
    // The read at the end reads no chain; a file read on from where the
    // last read left it reads its chain once.
    size = static_cast<std::uint64_t>(
        disks_[static_cast<std::size_t>(handle.disk)].files.at(handle.name).file.size);
    if (offset >= size) {
      return 0;
    }
    start = listedBytes(handle.disk, handle.name);
    if (start == nullptr) {
      return EIO;
    }
  }
  if (offset < size) {
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, size - offset));
    out.assign(start + offset, start + offset + length);
  }
  return 0;
}

int MountTree::write(Handle& handle, std::uint64_t offset, const std::uint8_t* bytes,
                     std::size_t count) {
  Bytes* target = bytesOf(handle);
  if (target == nullptr || !handle.writes) {
    return target == nullptr ? ENOENT : EBADF;
  }
  // Past the largest file a table holds, a write can only be refused.
  if (offset + count > static_cast<std::uint64_t>(kExtractBufferSize) * 4) {
    return EFBIG;
  }
  if (target->size() < offset + count) {
    target->resize(static_cast<std::size_t>(offset + count));
  }
  std::copy(bytes, bytes + count, target->begin() + static_cast<std::ptrdiff_t>(offset));
  if (handle.table) {
    disks_[static_cast<std::size_t>(handle.disk)].pending.at(handle.name).dirty = true;
  }
  return 0;
}

int MountTree::truncate(Handle& handle, std::uint64_t size) {
  Bytes* target = bytesOf(handle);
  if (target == nullptr) {
    return ENOENT;
  }
  if (size > static_cast<std::uint64_t>(kExtractBufferSize) * 4) {
    return EFBIG;
  }
  target->resize(static_cast<std::size_t>(size));
  if (handle.table) {
    disks_[static_cast<std::size_t>(handle.disk)].pending.at(handle.name).dirty = true;
  }
  return 0;
}

int MountTree::truncate(const MountPath& path, std::uint64_t size) {
  if (path.kind != MountPath::Kind::File) {
    return path.kind == MountPath::Kind::None ? ENOENT : EISDIR;
  }
  std::unique_ptr<Handle> handle;
  int error = openFile(path, true, false, false, handle);
  if (error == 0) {
    error = truncate(*handle, size);
  }
  if (error == 0) {
    error = flush(*handle, writersOf(*handle) <= 1, true);
  }
  if (handle) {
    release(std::move(handle));
  }
  return error;
}

std::int32_t MountTree::writersOf(const Handle& handle) const {
  const Disk& disk = disks_[static_cast<std::size_t>(handle.disk)];
  const auto pending = disk.pending.find(handle.name);
  return pending == disk.pending.end() ? 0 : pending->second.writers;
}

int MountTree::flush(Handle& handle, bool lastWriter, bool sync) {
  if (!handle.table || !handle.writes || !lastWriter) {
    return 0;
  }
  Disk& disk = disks_[static_cast<std::size_t>(handle.disk)];
  const auto pending = disk.pending.find(handle.name);
  if (pending == disk.pending.end() || !pending->second.dirty) {
    return 0;
  }
  // A shell's redirection opens the file emptied, duplicates the descriptor
  // and closes the first one before it writes: an empty file waits for the
  // last close (or fsync).
  if (pending->second.bytes.empty() && !sync) {
    return 0;
  }
  const bool added = pending->second.added;
  const int error =
      putBack(handle.disk, handle.name, pending->second.bytes, added ? Change::Add : Change::Write);
  if (error == 0) {
    pending->second.dirty = false;
    pending->second.added = false;
    return 0;
  }
  if (added) {
    // Refused: the file is not there, as before.
    disk.pending.erase(pending);
    return error;
  }
  // Refused: the file reads as before.
  Bytes before;
  if (readListed(handle.disk, handle.name, before)) {
    disk.pending.at(handle.name).bytes = std::move(before);
  }
  disk.pending.at(handle.name).dirty = false;
  return error;
}

void MountTree::release(std::unique_ptr<Handle> handle) {
  if (!handle || !handle->table || !handle->writes) {
    return;
  }
  Disk& disk = disks_[static_cast<std::size_t>(handle->disk)];
  const auto pending = disk.pending.find(handle->name);
  if (pending != disk.pending.end() && --pending->second.writers <= 0) {
    if (pending->second.dirty && pending->second.bytes.empty()) {
      // Left empty at its last close: put back now, an error only logged.
      (void)putBack(handle->disk, handle->name, {},
                    pending->second.added ? Change::Add : Change::Write);
    } else if (pending->second.dirty) {
      log_("error: " + shown(handle->disk, handle->name) +
           " was not put back: its last close came without a flush");
    }
    disk.pending.erase(pending);
  }
}

int MountTree::putBack(std::int32_t disk, const std::string& name, const Bytes& bytes,
                       Change change) {
  const std::string file = shown(disk, name);
  if (options_.readOnly) {
    return EROFS;
  }
  if (changed_ || !lock_.unchanged(path_)) {
    changed_ = true;
    log_("error: " + path_.u8string() + " changed while mounted; " + file +
         " not put back (unmount, and mount it again)");
    return EIO;
  }
  const UnmountSignalsHeld held;
  d88::D88Image original;
  d88::D88Image patched;
  if (!original.openFile(platform::openInput(path_)) ||
      !patched.openFile(platform::openInput(path_))) {
    log_("error: cannot open " + path_.u8string() + ": " + std::strerror(errno));
    return EIO;
  }
  // A removal has no edit: a source of none (disk -1).
  OneEdit edits(change == Change::Remove ? -1 : disk, name, bytes);
  MountWriter writer(lock_, path_);
  PutPlan plan;
  PlanOptions planOptions;
  // A new file or a removal moves no other file; each needs the re-laying.
  planOptions.resize = options_.resize || change != Change::Write;
  if (change == Change::Remove) {
    planOptions.removals.push_back({disk, name});
  }
  const bool done = disk::putBack(original, patched, edits, writer, plan, planOptions);
  endHeldSignal(nullptr);
  int error = 0;
  for (const Diagnostic& diagnostic : plan.diagnostics) {
    log_(diagnosticLine(diagnostic));
    if (error == 0 && diagnostic.severity == Severity::Error) {
      error = errnoOfRefusal(diagnostic.refusal);
    }
  }
  if (!done) {
    return error != 0 ? error : EIO;
  }
  if (!plan.changes()) {
    return 0;  // the same bytes: nothing to write
  }
  log_(file +
       (change == Change::Add      ? " added"
        : change == Change::Remove ? " removed"
                                   : " put back") +
       (plan.moved.empty() ? std::string() : ", later files moved"));
  // The image read from now on is the new file, which the lock is on.
  inChain_ = {};
  if (!image_.openFile(platform::openInput(path_))) {
    log_("error: cannot open " + path_.u8string() + " again: " + std::strerror(errno));
    changed_ = true;
    return EIO;
  }
  stamp_ = platform::stampOf(path_);
  selected_ = -1;
  if (!listDisk(image_, disk)) {
    changed_ = true;
    return EIO;
  }
  return 0;
}

int MountTree::unlink(const MountPath& path) {
  if (path.kind != MountPath::Kind::File) {
    return path.kind == MountPath::Kind::None ? ENOENT : EPERM;
  }
  if (options_.readOnly) {
    return EROFS;
  }
  Disk& disk = disks_[static_cast<std::size_t>(path.disk)];
  if (disk.held.erase(path.name) != 0) {
    return 0;
  }
  if (isListed(path.disk, path.name)) {
    if (disk.pending.count(path.name) != 0) {
      return refuseRemoving(path.disk, path.name);
    }
    // Only the last file of its table goes: the planner says why another cannot.
    return putBack(path.disk, path.name, {}, Change::Remove);
  }
  return ENOENT;
}

int MountTree::rename(const MountPath& from, const MountPath& to, bool noReplace) {
  if (to.inRoot) {
    return EPERM;
  }
  if (from.kind != MountPath::Kind::File || to.kind != MountPath::Kind::File) {
    return from.kind == MountPath::Kind::None || to.kind == MountPath::Kind::None ? ENOENT : EPERM;
  }
  if (options_.readOnly) {
    return EROFS;
  }
  if (from.disk != to.disk) {
    return EXDEV;
  }
  Disk& disk = disks_[static_cast<std::size_t>(from.disk)];
  const auto held = disk.held.find(from.name);
  const bool fromListed = isListed(from.disk, from.name);
  if (held == disk.held.end() && !fromListed) {
    return ENOENT;
  }
  if (from.name == to.name) {
    return 0;
  }
  const bool toListed = isListed(to.disk, to.name);
  if (noReplace && (toListed || disk.held.count(to.name) != 0)) {
    return EEXIST;
  }
  Bytes bytes;
  if (held != disk.held.end()) {
    bytes = held->second.bytes;
  } else if (const auto pending = disk.pending.find(from.name); pending != disk.pending.end()) {
    bytes = pending->second.bytes;
  } else if (!readListed(from.disk, from.name, bytes)) {
    return EIO;
  }
  if (toListed) {
    if (disk.pending.count(to.name) != 0) {
      log_("error: " + shown(to.disk, to.name) +
           " is open for writing: the rename waits for its close");
      return EBUSY;
    }
    // A rename over a disk's file puts those bytes back, as a write would.
    if (const int error = putBack(to.disk, to.name, bytes); error != 0) {
      return error;
    }
  } else if (isTableName(to.disk, to.name)) {
    if (tableAdding(to.disk, to.name) < 0) {
      return refuseAdding(to.disk, to.name);
    }
    if (disk.pending.count(to.name) != 0) {
      return EBUSY;  // created and still open for writing
    }
    if (const int error = putBack(to.disk, to.name, bytes, Change::Add); error != 0) {
      return error;
    }
  } else {
    Held& target = disk.held[to.name];
    target.bytes = std::move(bytes);
    if (held != disk.held.end()) {
      target.mode = held->second.mode;
    }
  }
  // A disk's file renamed away stays, and its bytes are also held under the
  // new name: an editor's backup.
  disk.held.erase(from.name);
  return 0;
}

int MountTree::chmod(const MountPath& path, std::uint32_t mode) {
  if (path.kind == MountPath::Kind::File) {
    Disk& disk = disks_[static_cast<std::size_t>(path.disk)];
    if (const auto held = disk.held.find(path.name); held != disk.held.end()) {
      held->second.mode = mode & 0777;
      return 0;
    }
  }
  MountStat now;
  if (const int error = stat(path, now); error != 0) {
    return error;
  }
  return (mode & 07777) == now.mode ? 0 : EPERM;
}

int MountTree::chown(const MountPath& path, std::int64_t user, std::int64_t group) {
  MountStat now;
  if (const int error = stat(path, now); error != 0) {
    return error;
  }
  const bool sameUser = user == -1 || user == static_cast<std::int64_t>(getuid());
  const bool sameGroup = group == -1 || group == static_cast<std::int64_t>(getgid());
  if (path.kind == MountPath::Kind::File &&
      disks_[static_cast<std::size_t>(path.disk)].held.count(path.name) != 0) {
    return 0;
  }
  return sameUser && sameGroup ? 0 : EPERM;
}

int MountTree::touch(const MountPath& path) {
  MountStat now;
  return stat(path, now);
}

std::vector<std::string> MountTree::unsaved() const {
  std::vector<std::string> names;
  for (std::size_t disk = 0; disk < disks_.size(); ++disk) {
    for (const auto& [name, pending] : disks_[disk].pending) {
      if (pending.dirty) {
        names.push_back(shown(static_cast<std::int32_t>(disk), name));
      }
    }
  }
  return names;
}
