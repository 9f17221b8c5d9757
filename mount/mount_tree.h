// What d88mount shows: a folder per disk holding the files d88extract -a
// writes, read from the image, and the names editors write beside them, held
// in memory. A table file changed is put back through the planner, as d88put
// would put back a folder holding it, and the D88 file replaced all or
// nothing under the lock the mount holds for its life. Nothing here knows
// FUSE: its calls map onto these, and errors come back as errno values.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/replace_file.h"
#include "d88/d88_image.h"
#include "disk/chain.h"
#include "disk/listing.h"
#include "disk/refusal.h"

struct MountOptions {
  bool resize = false;
  bool readOnly = false;
};

// What a path names.
struct MountPath {
  enum class Kind { Root, Disk, File, None };
  Kind kind = Kind::None;
  std::int32_t disk = -1;
  std::string name;  // of a File
};

// A file's attributes as stat shows them.
struct MountStat {
  bool folder = false;
  std::uint32_t mode = 0;  // permission bits
  std::uint64_t size = 0;
};

using Bytes = std::vector<std::uint8_t>;

class MountTree {
 public:
  // Lines for the log (stderr, or syslog in the background).
  explicit MountTree(std::function<void(const std::string&)> log) : log_(std::move(log)) {}
  MountTree(const MountTree&) = delete;
  MountTree& operator=(const MountTree&) = delete;

  // Holds and reads the D88 file; the error line when it cannot.
  [[nodiscard]] std::string open(const std::filesystem::path& d88, const MountOptions& options);
  [[nodiscard]] std::int32_t diskCount() const { return static_cast<std::int32_t>(disks_.size()); }
  // The D88 file's times, which every entry shows.
  [[nodiscard]] const platform::FileStamp& stamp() const { return stamp_; }
  [[nodiscard]] bool readOnly() const { return options_.readOnly; }

  [[nodiscard]] MountPath parse(const std::string& path) const;
  // 0 or an errno value.
  [[nodiscard]] int stat(const MountPath& path, MountStat& out) const;
  // The names of a folder, in the order d88extract writes them, then the
  // ones held in memory.
  [[nodiscard]] int list(const MountPath& path, std::vector<std::string>& names) const;

  // An open file: its bytes while open for writing, or read once at open.
  struct Handle {
    std::int32_t disk = -1;
    std::string name;
    bool table = false;  // a file of the disk, else one held in memory
    bool writes = false;
  };
  [[nodiscard]] int openFile(const MountPath& path, bool write, bool truncate, bool create,
                             std::unique_ptr<Handle>& handle);
  [[nodiscard]] int read(Handle& handle, std::uint64_t offset, std::size_t count,
                         std::vector<std::uint8_t>& out);
  [[nodiscard]] int write(Handle& handle, std::uint64_t offset, const std::uint8_t* bytes,
                          std::size_t count);
  [[nodiscard]] int truncate(Handle& handle, std::uint64_t size);
  // Truncates by name: a table file is put back at once.
  [[nodiscard]] int truncate(const MountPath& path, std::uint64_t size);
  // At fsync, and at the close of the last handle that writes: a changed
  // table file is put back.
  [[nodiscard]] int flush(Handle& handle, bool lastWriter);
  void release(std::unique_ptr<Handle> handle);
  [[nodiscard]] std::int32_t writersOf(const Handle& handle) const;

  [[nodiscard]] int unlink(const MountPath& path);
  [[nodiscard]] int rename(const MountPath& from, const MountPath& to, bool noReplace);
  // chmod and chown: a name held in memory takes them; a disk's file only
  // its own values.
  [[nodiscard]] int chmod(const MountPath& path, std::uint32_t mode);
  [[nodiscard]] int chown(const MountPath& path, std::int64_t user, std::int64_t group);
  [[nodiscard]] int touch(const MountPath& path);

  // At unmount: the files still open for writing, which are not put back.
  [[nodiscard]] std::vector<std::string> unsaved() const;

 private:
  struct Listed {
    disk::DiskFile file;
    disk::FileVerdict verdict = disk::FileVerdict::Complete;
  };
  struct Held {  // a name held in memory
    Bytes bytes;
    std::uint32_t mode = 0644;
  };
  struct Pending {  // a table file open for writing
    Bytes bytes;
    std::int32_t writers = 0;
    bool dirty = false;
  };
  struct Disk {
    disk::DiskKind kind = disk::DiskKind::Unknown;
    std::vector<std::string> order;
    std::map<std::string, Listed> files;
    std::map<std::string, Held> held;
    std::map<std::string, Pending> pending;
  };

  [[nodiscard]] std::string shown(std::int32_t disk, const std::string& name) const;
  [[nodiscard]] bool isListed(std::int32_t disk, const std::string& name) const;
  // A name the disk's tables could give a file it does not hold: creating
  // it would add a file to a table.
  [[nodiscard]] bool isTableName(std::int32_t disk, const std::string& name) const;
  [[nodiscard]] int refuseAdding(std::int32_t disk, const std::string& name);
  [[nodiscard]] int refuseRemoving(std::int32_t disk, const std::string& name);
  [[nodiscard]] bool readListed(std::int32_t disk, const std::string& name, Bytes& bytes);
  [[nodiscard]] bool listDisk(d88::D88Image& image, std::int32_t disk);
  [[nodiscard]] Bytes* bytesOf(const Handle& handle);
  // The D88 file with `bytes` as table file `name` of `disk`: 0, or the
  // errno value of the refusal, logged.
  [[nodiscard]] int putBack(std::int32_t disk, const std::string& name, const Bytes& bytes);

  std::function<void(const std::string&)> log_;
  std::filesystem::path path_;
  MountOptions options_;
  HeldFile lock_;
  platform::FileStamp stamp_;
  d88::D88Image image_;
  std::int32_t selected_ = -1;
  std::vector<Disk> disks_;
  disk::TableBuffers tables_;
  std::unique_ptr<disk::ExtractBuffer> chain_ = std::make_unique<disk::ExtractBuffer>();
  bool changed_ = false;  // by another program: every write is refused
};

// The errno value for a refusal of the planner's: EFBIG where the table has
// no room or the file would not fit a chain buffer, EPERM for a file that
// may not change size or may not change at all, EIO for any other.
[[nodiscard]] int errnoOfRefusal(const disk::Refusal& refusal);
