#include "put/folder_edits.h"

#include <cstdio>
#include <system_error>

#include "cli/platform.h"
#include "disk/listing.h"
#include "text/string_format.h"

#ifdef _WIN32
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#endif

using namespace disk;

namespace {

namespace fs = std::filesystem;

// What a folder entry's name leads to, and for its ignored line what it is.
struct EntryType {
  fs::file_type type = fs::file_type::none;  // of what a symbolic link points to
  std::string what;  // "a FIFO", "a symbolic link to a device", ...; empty: the entry is gone
  bool leadsNowhere = false;  // a symbolic link to nothing, or one that loops
};

const char* typeName(fs::file_type type) {
  switch (type) {
    case fs::file_type::regular:
      return "a file";
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::block:
    case fs::file_type::character:
      return "a device";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "an entry of an unknown type";
  }
}

// What the directory listing says an entry's name leads to, where it says:
// the listing's own type spares a stat of every entry (the folder of a full
// image holds thousands of files).
fs::file_type statusType(const fs::directory_entry& entry, std::error_code& error) {
  if (entry.is_regular_file(error)) {
    return fs::file_type::regular;
  }
  if (entry.is_directory(error)) {
    return fs::file_type::directory;
  }
  return entry.status(error).type();
}

EntryType typeOf(const fs::directory_entry& entry) {
  std::error_code error;
  EntryType type;
  const bool link = entry.is_symlink(error);
  type.type = statusType(entry, error);
  // An entry gone since it was listed: nothing to say.
  if (!link && type.type == fs::file_type::not_found) {
    return type;
  }
  // A link whose target is missing, or that cannot be followed (a loop).
  if (link && (type.type == fs::file_type::not_found || type.type == fs::file_type::none)) {
    type.what = type.type == fs::file_type::not_found ? "a symbolic link to nothing"
                                                      : "a symbolic link that cannot be followed";
    type.leadsNowhere = true;
    return type;
  }
  type.what = (link ? std::string("a symbolic link to ") : std::string()) + typeName(type.type);
  return type;
}

}  // namespace

// A folder's regular file open for reading. What is no regular file is not
// read: an entry swapped for a FIFO or a device since it was listed could
// block the open or the reads, or never end.
class FolderEdits::OpenFile {
 public:
  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { close(); }

  // False when it cannot be opened or is no regular file.
  [[nodiscard]] bool open(const fs::path& path) {
    close();
#ifdef _WIN32
    file_ = platform::openFile(path, "rb");
    struct _stat64 info {};
    if (file_ == nullptr || _fstat64(_fileno(file_), &info) != 0 ||
        (info.st_mode & _S_IFMT) != _S_IFREG) {
      close();
      return false;
    }
    // Read straight into the bytes: a stdio buffer would only add a copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
#else
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (descriptor_ < 0 || fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode)) {
      close();
      return false;
    }
#endif
    size_ = static_cast<std::uint64_t>(info.st_size);
    return true;
  }
  [[nodiscard]] std::uint64_t size() const {
    return size_;
  }

  // Reads exactly bytes.size() bytes, and then the end of the file: a file
  // that grew since its size was taken is not the file that was compared.
  [[nodiscard]] bool readWhole(std::vector<std::uint8_t>& bytes) {
#ifdef _WIN32
    const bool read =
        bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    return read && std::fgetc(file_) == EOF;
#else
    // The byte past the end is asked for with the rest: a regular file
    // that gives fewer bytes than asked has ended.
    std::uint8_t past = 0;
    std::size_t done = 0;
    while (true) {
      iovec parts[2] = {{bytes.data() + done, bytes.size() - done}, {&past, 1}};
      const std::size_t asked = bytes.size() - done + 1;
      const ssize_t got = readv(descriptor_, parts, 2);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got < 0) {
        return false;
      }
      done += static_cast<std::size_t>(got);
      if (done > bytes.size()) {
        return false;
      }
      if (static_cast<std::size_t>(got) < asked) {
        return done == bytes.size();
      }
    }
#endif
  }

  void close() {
#ifdef _WIN32
    if (file_ != nullptr) {
      std::fclose(file_);
      file_ = nullptr;
    }
#else
    if (descriptor_ >= 0) {
      ::close(descriptor_);
      descriptor_ = -1;
    }
#endif
  }

 private:
#ifdef _WIN32
  std::FILE* file_ = nullptr;
#else
  int descriptor_ = -1;
#endif
  std::uint64_t size_ = 0;
};

FolderEdits::FolderEdits(fs::path folder, std::optional<std::int32_t> disk)
    : folder_(std::move(folder)), disk_(disk) {}
FolderEdits::~FolderEdits() = default;

fs::path FolderEdits::folderOf(std::int32_t disk) const {
  if (disk_) {
    return *disk_ == disk ? folder_ : fs::path();
  }
  return folder_ / diskFolderName(disk).data();
}

fs::path FolderEdits::pathOf(std::int32_t disk, const std::string& name) const {
  if (disk != listed_) {
    // An edit of a disk listed before, read again: its name is the one its
    // folder's listing gave.
    const fs::path folder = folderOf(disk);
    return folder.empty() ? fs::path() : folder / fs::u8path(name);
  }
  const auto file = files_.find(name);
  return file != files_.end() ? file->second : fs::path();
}

// "S117" for a disk given with --disk, "000/S117" in a folder per disk.
std::string FolderEdits::shownName(std::int32_t disk, const std::string& name) const {
  return disk_ ? name : std::string(diskFolderName(disk).data()) + "/" + name;
}

// Disk folders that name no disk of the file are ignored, and said so.
void FolderEdits::survey(std::int32_t diskCount, Diagnostics& diagnostics) {
  std::error_code error;
  if (!fs::is_directory(folder_, error)) {
    diagnostics.push_back({Severity::Error, "cannot read folder " + folder_.u8string()});
    return;
  }
  if (disk_) {
    if (*disk_ < 0 || *disk_ >= diskCount) {
      diagnostics.push_back(
          {Severity::Error, d88text::format("the file has no disk %d", static_cast<int>(*disk_))});
    }
    return;
  }
  // Other files are no business of the put-back; what could be taken for
  // a disk's folder but is none is said so.
  std::map<std::string, std::string> lines;  // by name, so that they come in name order
  fs::directory_iterator entry(folder_, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const std::string name = entry->path().filename().u8string();
    const EntryType type = typeOf(*entry);
    if (type.type == fs::file_type::directory) {
      if (!isDiskFolderName(name) || std::stoi(name) >= diskCount) {
        lines[name] = "ignored: folder " + name + ": no such disk in the file";
      }
    } else if (!type.what.empty() &&
               (type.type != fs::file_type::regular || isDiskFolderName(name))) {
      lines[name] =
          "ignored: " + name + ": " + type.what + (type.leadsNowhere ? "" : ", not a folder");
    }
  }
  // A folder that cannot be listed, or whose listing fails partway (an I/O
  // error on a network folder).
  if (error) {
    diagnostics.push_back({Severity::Error, "cannot read folder " + folder_.u8string()});
    return;
  }
  for (const auto& [name, line] : lines) {
    diagnostics.push_back({Severity::Notice, line});
  }
}

bool FolderEdits::editsOf(std::int32_t disk, DiskEdits& edits, std::string& failure) {
  listed_ = -1;
  files_.clear();
  const fs::path folder = folderOf(disk);
  std::error_code error;
  if (folder.empty() || !fs::is_directory(folder, error)) {
    return false;
  }
  fs::directory_iterator entry(folder, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const std::string name = entry->path().filename().u8string();
    const EntryType type = typeOf(*entry);
    if (type.type == fs::file_type::regular) {
      files_[name] = entry->path();
      edits.names.push_back(name);
    } else if (!type.what.empty()) {
      // Never read: a FIFO or a device could block or never end.
      edits.ignored[name] = "ignored: " + shownName(disk, name) + ": " + type.what +
                            (type.leadsNowhere ? "" : ", not a file");
    }
  }
  // A folder that cannot be listed, or whose listing fails partway (an I/O
  // error on a network folder).
  if (error) {
    failure = "cannot read folder " + folder.u8string();
    return false;
  }
  listed_ = disk;
  return true;
}

std::optional<std::uint64_t> FolderEdits::sizeOf(std::int32_t disk, const std::string& name) {
  if (open_ == nullptr) {
    open_ = std::make_unique<OpenFile>();
  }
  openDisk_ = -1;
  if (!open_->open(pathOf(disk, name))) {
    return std::nullopt;
  }
  openDisk_ = disk;
  openName_ = name;
  return open_->size();
}

bool FolderEdits::read(std::int32_t disk, const std::string& name,
                       std::vector<std::uint8_t>& bytes) {
  // The read that follows the size: the same open file.
  if (open_ == nullptr || openDisk_ != disk || openName_ != name) {
    if (!sizeOf(disk, name)) {
      return false;
    }
  }
  openDisk_ = -1;
  const bool read = open_->readWhole(bytes);
  open_->close();
  return read;
}
