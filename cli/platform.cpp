#include "cli/platform.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>
// windows.h first: shellapi.h builds on its types.
#include <io.h>
#include <shellapi.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace platform {

namespace {

#ifdef _WIN32
// A seek on a Windows pipe need not fail, as it does elsewhere (where the
// reader's own first seek turns such an input away): the kind of handle
// decides.
bool isPipe(std::FILE* file) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return GetFileType(handle) == FILE_TYPE_PIPE;
}
#endif

#ifndef _WIN32
FileStamp stampOfStat(const struct stat& info) {
  FileStamp stamp;
  stamp.known = true;
  stamp.volume = static_cast<std::uint64_t>(info.st_dev);
  stamp.file = static_cast<std::uint64_t>(info.st_ino);
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  constexpr std::int64_t kNanoseconds = 1000000000;
  stamp.modified = std::int64_t{info.st_mtim.tv_sec} * kNanoseconds + info.st_mtim.tv_nsec;
  stamp.changed = std::int64_t{info.st_ctim.tv_sec} * kNanoseconds + info.st_ctim.tv_nsec;
  return stamp;
}
#endif

#ifndef _WIN32
std::FILE* openInputAt(int folder, const char* name);
#endif

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
#ifdef _WIN32
  // As in argumentPath: the wide parsing, unless it disagrees on the count.
  int wideCount = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
  if (wide != nullptr && wideCount == argc) {
    for (int i = 0; i < wideCount; ++i) {
      arguments.push_back(std::filesystem::path(wide[i]).u8string());
    }
  }
  LocalFree(wide);
  if (static_cast<int>(arguments.size()) == argc) {
    return arguments;
  }
  arguments.clear();
#endif
  for (int i = 0; i < argc; ++i) {
    arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  return arguments;
}

std::filesystem::path pathFromUtf8(const std::string& text) {
#ifdef _WIN32
  return std::filesystem::u8path(text);
#else
  return text;
#endif
}

std::string utf8Path(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.u8string();
#else
  return path.string();
#endif
}

bool isTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

std::filesystem::path argumentPath(int argc, char** argv, int index) {
  if (index < 0 || index >= argc) {
    return {};
  }
#ifdef _WIN32
  // The narrow argv has lost the characters that the ANSI code page cannot
  // hold; the wide command line has them. Should the two parsings disagree,
  // the narrow name is the one we were given.
  int wideCount = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
  std::filesystem::path path =
      wide != nullptr && wideCount == argc ? std::filesystem::path(wide[index]) : argv[index];
  LocalFree(wide);
  return path;
#else
  return argv[index];
#endif
}

std::filesystem::path folderOf(const std::filesystem::path& file) {
  return file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
}

std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wideMode(mode, mode + std::strlen(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

std::FILE* openInput(const std::filesystem::path& path) {
#ifdef _WIN32
  // Windows refuses to open a folder as a file.
  std::FILE* file = openFile(path, "rb");
  // Every byte of the image is read at a position: a pipe would read as empty.
  if (file != nullptr && isPipe(file)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
#else
  return openInputAt(AT_FDCWD, path.c_str());
#endif
}

#ifndef _WIN32
namespace {

std::FILE* openInputAt(int folder, const char* name) {
  // Opening a named pipe for reading waits for a writer, which may never
  // come: opened without waiting, and then refused.
  const int descriptor = openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return nullptr;
  }
  struct stat info {};
  const int flags = fcntl(descriptor, F_GETFL);
  if (fstat(descriptor, &info) != 0 || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) ||
      flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(descriptor);
    return nullptr;
  }
  std::FILE* file = fdopen(descriptor, "rb");
  if (file == nullptr) {
    close(descriptor);
  }
  // A folder that opens for reading is turned away by the reader.
  return file;
}

}  // namespace
#endif

#ifdef _WIN32
FileStamp stampOfHandle(void* handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) {
    return {};
  }
  FileStamp stamp;
  stamp.known = true;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  stamp.modified =
      static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime);
  return stamp;
}
#else
FileStamp stampOfDescriptor(int descriptor) {
  struct stat info {};
  return fstat(descriptor, &info) == 0 ? stampOfStat(info) : FileStamp{};
}
#endif

FileStamp stampOf(std::FILE* file) {
  if (file == nullptr) {
    return {};
  }
#ifdef _WIN32
  return stampOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
#else
  return stampOfDescriptor(fileno(file));
#endif
}

FileStamp stampOf(const std::filesystem::path& path) {
#ifdef _WIN32
  // No access rights are needed to read a file's stamp; folders need the
  // backup flag to be opened at all.
  const HANDLE handle =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const FileStamp stamp = stampOfHandle(handle);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
  }
  return stamp;
#else
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? stampOfStat(info) : FileStamp{};
#endif
}

bool sameFile(const FileStamp& a, const FileStamp& b) {
  return a.known && b.known && a.volume == b.volume && a.file == b.file;
}

Folder::Folder(Folder&& other) noexcept {
  *this = std::move(other);
}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
#ifdef _WIN32
    path_ = std::move(other.path_);
    open_ = other.open_;
    other.open_ = false;
#else
    if (handle_ >= 0) {
      close(handle_);
    }
    handle_ = other.handle_;
    other.handle_ = -1;
#endif
  }
  return *this;
}

Folder::~Folder() {
#ifndef _WIN32
  if (handle_ >= 0) {
    close(handle_);
  }
#endif
}

bool Folder::isOpen() const {
#ifdef _WIN32
  return open_;
#else
  return handle_ >= 0;
#endif
}

#ifdef _WIN32
Folder Folder::open(const std::filesystem::path& path, std::error_code& error) {
  Folder folder;
  error.clear();
  if (!std::filesystem::is_directory(path, error)) {
    if (!error) {
      error = std::make_error_code(std::errc::not_a_directory);
    }
    return folder;
  }
  folder.path_ = path;
  folder.open_ = true;
  return folder;
}

Folder Folder::child(const std::string& name, std::error_code& error) const {
  return open(path_ / std::filesystem::u8path(name), error);
}

std::vector<FolderEntry> Folder::entries(std::error_code& error) const {
  namespace fs = std::filesystem;
  std::vector<std::pair<fs::path, FolderEntry>> found;
  error.clear();
  for (fs::directory_iterator entry(path_, error), end; !error && entry != end;
       entry.increment(error)) {
    std::error_code ignored;
    const fs::path& path = entry->path();
    const bool folder = fs::is_directory(fs::symlink_status(path, ignored));
    found.push_back(
        {path.filename(),
         {path.filename().u8string(), folder, folder || fs::is_directory(path, ignored)}});
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first.native() < b.first.native(); });
  std::vector<FolderEntry> out;
  for (auto& [path, entry] : found) {
    out.push_back(std::move(entry));
  }
  return out;
}

std::FILE* Folder::openInput(const std::string& name) const {
  return platform::openInput(path_ / std::filesystem::u8path(name));
}
#else
Folder Folder::open(const std::filesystem::path& path, std::error_code& error) {
  Folder folder;
  folder.handle_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  error = folder.handle_ < 0 ? std::error_code(errno, std::generic_category()) : std::error_code();
  return folder;
}

Folder Folder::child(const std::string& name, std::error_code& error) const {
  Folder folder;
  folder.handle_ = openat(handle_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  error = folder.handle_ < 0 ? std::error_code(errno, std::generic_category()) : std::error_code();
  return folder;
}

std::vector<FolderEntry> Folder::entries(std::error_code& error) const {
  std::vector<FolderEntry> out;
  error.clear();
  // The stream takes its own handle, and closes it.
  const int own = dup(handle_);
  DIR* stream = own >= 0 ? fdopendir(own) : nullptr;
  if (stream == nullptr) {
    error = std::error_code(errno, std::generic_category());
    if (own >= 0) {
      close(own);
    }
    return out;
  }
  rewinddir(stream);
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(stream);
    if (entry == nullptr) {
      if (errno != 0) {
        error = std::error_code(errno, std::generic_category());
      }
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    FolderEntry found{name, false, false};
    struct stat info {};
    // The entry's own kind: a link is looked through only to tell whether it
    // leads to a folder.
    if (fstatat(handle_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      found.folder = S_ISDIR(info.st_mode);
      found.leadsToFolder =
          found.folder || (S_ISLNK(info.st_mode) && fstatat(handle_, name.c_str(), &info, 0) == 0 &&
                           S_ISDIR(info.st_mode));
    }
    out.push_back(std::move(found));
  }
  closedir(stream);
  std::sort(out.begin(), out.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return out;
}

std::FILE* Folder::openInput(const std::string& name) const {
  return openInputAt(handle_, name.c_str());
}
#endif

bool sameStamp(const FileStamp& a, const FileStamp& b) {
  return sameFile(a, b) && a.size == b.size && a.modified == b.modified && a.changed == b.changed;
}

StartDirectory::~StartDirectory() {
#ifndef _WIN32
  if (handle_ >= 0) {
    close(handle_);
  }
#endif
}

bool StartDirectory::remember() {
#ifndef _WIN32
  // Search permission is all that going back needs: a folder that can be
  // entered but not listed still has a handle of this kind.
#if defined(O_PATH)
  handle_ = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#elif defined(O_SEARCH)
  handle_ = open(".", O_SEARCH | O_DIRECTORY | O_CLOEXEC);
#else
  handle_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  if (handle_ >= 0) {
    return true;
  }
#endif
  std::error_code error;
  path_ = std::filesystem::current_path(error);
  return !error;
}

bool StartDirectory::returnTo() const {
#ifndef _WIN32
  if (handle_ >= 0) {
    return fchdir(handle_) == 0;
  }
#endif
  std::error_code error;
  std::filesystem::current_path(path_, error);
  return !error;
}

std::string StartDirectory::describe() const {
  return handle_ >= 0 ? std::string(".") : path_.string();
}

}  // namespace platform
