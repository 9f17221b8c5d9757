#include "folder_edits.h"

#include <cstdio>
#include <system_error>

#include "listing.h"
#include "platform.h"
#include "string_format.h"

#ifdef _WIN32
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

EntryType typeOf(const fs::directory_entry& entry) {
  std::error_code error;
  EntryType type;
  const bool link = entry.is_symlink(error);
  type.type = entry.status(error).type();
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

// Opens a folder's file for reading. What is no regular file is not read:
// an entry swapped for a FIFO or a device since it was listed could block
// the open or the reads, or never end.
std::FILE* openRegularFile(const fs::path& path) {
#ifdef _WIN32
  std::FILE* file = platform::openFile(path, "rb");
  struct _stat64 info {};
  if (file != nullptr &&
      (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
#else
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return nullptr;
  }
  struct stat info {};
  std::FILE* file = nullptr;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) ||
      (file = fdopen(descriptor, "rb")) == nullptr) {
    close(descriptor);
  }
  return file;
#endif
}

bool readWhole(const fs::path& path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = openRegularFile(path);
  if (file == nullptr) {
    return false;
  }
  // Read straight into the bytes: a stdio buffer would only add a copy and
  // a query of the file's block size.
  std::setvbuf(file, nullptr, _IONBF, 0);
  const bool read =
      bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
  // A file that grew since its size was taken is not the file that was compared.
  const bool atEnd = std::fgetc(file) == EOF;
  std::fclose(file);
  return read && atEnd;
}

}  // namespace

fs::path FolderEdits::folderOf(std::int32_t disk) const {
  if (disk_) {
    return *disk_ == disk ? folder_ : fs::path();
  }
  return folder_ / diskFolderName(disk).data();
}

fs::path FolderEdits::pathOf(std::int32_t disk, const std::string& name) const {
  const auto file = files_.find(name);
  return disk == listed_ && file != files_.end() ? file->second : fs::path();
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
  std::error_code error;
  const std::uintmax_t size = fs::file_size(pathOf(disk, name), error);
  if (error) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(size);
}

bool FolderEdits::read(std::int32_t disk, const std::string& name,
                       std::vector<std::uint8_t>& bytes) {
  return readWhole(pathOf(disk, name), bytes);
}
