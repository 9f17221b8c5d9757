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
  if (changedWhileRead(image, listing)) {
    return false;
  }
  Disk& disk = disks_[static_cast<std::size_t>(index)];
  disk.kind = listing.kind;
  disk.order.clear();
  disk.files.clear();
  const std::vector<bool> last = lastOfTheirName(listing.files);
  for (std::size_t i = 0; i < listing.files.size(); ++i) {
    if (last[i]) {
      const FileListing& file = listing.files[i];
      disk.order.emplace_back(file.file.name.data());
      disk.files[file.file.name.data()] = {file.file, file.verdict};
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

// Adding and removing a table's files come with the appending of a table's
// next number; until then both are refused, saying so.
int MountTree::refuseAdding(std::int32_t disk, const std::string& name) {
  log_("error: " + shown(disk, name) + " cannot be added: d88mount does not add files yet");
  return EPERM;
}

int MountTree::refuseRemoving(std::int32_t disk, const std::string& name) {
  log_("error: cannot remove " + shown(disk, name) + ": d88mount does not remove files yet");
  return EPERM;
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
  if (listed == disk.files.end()) {
    return ENOENT;
  }
  const auto pending = disk.pending.find(path.name);
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
  for (const auto& [name, held] : disk.held) {
    names.push_back(name);
  }
  return 0;
}

bool MountTree::readListed(std::int32_t disk, const std::string& name, Bytes& bytes) {
  const Disk& entry = disks_[static_cast<std::size_t>(disk)];
  const Listed& listed = entry.files.at(name);
  if (selected_ != disk) {
    if (!selectDisk(image_, disk, entry.kind)) {
      return false;
    }
    selected_ = disk;
  }
  const FileRead read = readFileChain(image_, chain_->data(), listed.file);
  if (!isWritten(read.verdict)) {
    return false;
  }
  const auto* start = chain_->data() + listed.file.offset;
  bytes.assign(start, start + listed.file.size);
  return true;
}

int MountTree::openFile(const MountPath& path, bool write, bool truncate, bool create,
                        std::unique_ptr<Handle>& handle) {
  if (path.kind != MountPath::Kind::File) {
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
  if (listed == disk.files.end()) {
    auto held = disk.held.find(path.name);
    if (held == disk.held.end()) {
      if (!create) {
        return ENOENT;
      }
      if (isTableName(path.disk, path.name)) {
        return refuseAdding(path.disk, path.name);
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
  const Bytes* bytes = bytesOf(handle);
  Bytes listed;
  if (bytes == nullptr) {
    if (!handle.table || !isListed(handle.disk, handle.name)) {
      return ENOENT;
    }
    if (!readListed(handle.disk, handle.name, listed)) {
      return EIO;
    }
    bytes = &listed;
  }
  out.clear();
  if (offset < bytes->size()) {
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, bytes->size() - offset));
    out.assign(bytes->begin() + static_cast<std::ptrdiff_t>(offset),
               bytes->begin() + static_cast<std::ptrdiff_t>(offset + length));
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
    error = flush(*handle, writersOf(*handle) <= 1);
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

int MountTree::flush(Handle& handle, bool lastWriter) {
  if (!handle.table || !handle.writes || !lastWriter) {
    return 0;
  }
  Disk& disk = disks_[static_cast<std::size_t>(handle.disk)];
  const auto pending = disk.pending.find(handle.name);
  if (pending == disk.pending.end() || !pending->second.dirty) {
    return 0;
  }
  const int error = putBack(handle.disk, handle.name, pending->second.bytes);
  if (error == 0) {
    pending->second.dirty = false;
    return 0;
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
    if (pending->second.dirty) {
      log_("error: " + shown(handle->disk, handle->name) +
           " was not put back: its last close came without a flush");
    }
    disk.pending.erase(pending);
  }
}

int MountTree::putBack(std::int32_t disk, const std::string& name, const Bytes& bytes) {
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
  OneEdit edits(disk, name, bytes);
  MountWriter writer(lock_, path_);
  PutPlan plan;
  PlanOptions planOptions;
  planOptions.resize = options_.resize;
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
  if (plan.putBack.empty()) {
    return 0;  // the same bytes: nothing to write
  }
  log_(file + " put back" + (plan.moved.empty() ? std::string() : ", later files moved"));
  // The image read from now on is the new file, which the lock is on.
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
    return refuseRemoving(path.disk, path.name);
  }
  return ENOENT;
}

int MountTree::rename(const MountPath& from, const MountPath& to, bool noReplace) {
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
    return refuseAdding(to.disk, to.name);
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
