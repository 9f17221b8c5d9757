// The few host calls the extraction needs beyond the standard library: the
// identity of files, a way back to the starting folder at any depth, and on
// Windows the D88 file's name from the wide command line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

// The command line's arguments as UTF-8, argv[0] first. On Windows they come
// from the wide command line (CommandLineToArgvW), so that names outside
// the ANSI code page survive; elsewhere they are argv's bytes as given.
[[nodiscard]] std::vector<std::string> utf8Arguments(int argc, char** argv);
// A path from one of those arguments, or from UTF-8 text.
[[nodiscard]] std::filesystem::path pathFromUtf8(const std::string& text);
// A path as UTF-8 text for output (its bytes as they are outside Windows).
[[nodiscard]] std::string utf8Path(const std::filesystem::path& path);
// Whether a stream is a terminal (a console on Windows).
[[nodiscard]] bool isTerminal(std::FILE* stream);

// Argument `index` of the command line as a path. On Windows it comes from
// the wide command line, so that names outside the ANSI code page survive.
[[nodiscard]] std::filesystem::path argumentPath(int argc, char** argv, int index);
// The folder a file lies in: its parent, or "." for a bare name.
[[nodiscard]] std::filesystem::path folderOf(const std::filesystem::path& file);
// fopen for any path (wide on Windows).
[[nodiscard]] std::FILE* openFile(const std::filesystem::path& path, const char* mode);
// Opens a D88 file for binary reading. Returns nullptr for a file that cannot
// be opened, and for a pipe (a named pipe without waiting for a writer; an
// open pipe on Windows, elsewhere the reader's first seek turns it away, and
// its first read a folder).
[[nodiscard]] std::FILE* openInput(const std::filesystem::path& path);

// What makes a file the one that was read: its identity through links
// (device and inode on POSIX, volume serial number and file index on
// Windows), its size and its times.
struct FileStamp {
  bool known = false;
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the platform's finest unit (ns, or 100 ns)
  std::int64_t changed = 0;   // the inode's change time where there is one
};

[[nodiscard]] FileStamp stampOf(std::FILE* file);
// The stamp of the file a name leads to, following links; unknown when
// there is no such file.
[[nodiscard]] FileStamp stampOf(const std::filesystem::path& path);
// The stamp of an open file: a HANDLE on Windows, a descriptor elsewhere.
#ifdef _WIN32
[[nodiscard]] FileStamp stampOfHandle(void* handle);
#else
[[nodiscard]] FileStamp stampOfDescriptor(int descriptor);
#endif
// Whether two known stamps are of one file, whatever its size and times.
[[nodiscard]] bool sameFile(const FileStamp& a, const FileStamp& b);
// Whether they are of one file with the same size and times.
[[nodiscard]] bool sameStamp(const FileStamp& a, const FileStamp& b);

// One entry of a folder: its name (UTF-8 on Windows, the bytes elsewhere),
// whether it is a folder itself (a link to one is not) and whether it leads
// to a folder (through links too).
struct FolderEntry {
  std::string name;
  bool folder = false;
  bool leadsToFolder = false;
};

// A folder held open by its handle on POSIX, so that its entries can be
// listed and opened however long its path has grown; its path on Windows.
class Folder {
 public:
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  ~Folder();

  // A folder given by its path (links followed); `error` says why not.
  [[nodiscard]] static Folder open(const std::filesystem::path& path, std::error_code& error);
  // A folder in this one, by name; a link is not followed.
  [[nodiscard]] Folder child(const std::string& name, std::error_code& error) const;
  [[nodiscard]] bool isOpen() const;
  // The entries but "." and "..", sorted by the bytes of their names (by
  // UTF-16 units on Windows, as it stores them). `error` tells of a failure
  // part way, and the entries are then those read before it.
  [[nodiscard]] std::vector<FolderEntry> entries(std::error_code& error) const;
  // openInput for an entry of this folder.
  [[nodiscard]] std::FILE* openInput(const std::string& name) const;

 private:
#ifdef _WIN32
  std::filesystem::path path_;
  bool open_ = false;
#else
  int handle_ = -1;
#endif
};

// The folder the run started in, kept so that the run can go back to it
// after each disk whatever the length of its path: a search-only handle on
// POSIX, the path on Windows or when no handle can be had.
class StartDirectory {
 public:
  StartDirectory() = default;
  StartDirectory(const StartDirectory&) = delete;
  StartDirectory& operator=(const StartDirectory&) = delete;
  ~StartDirectory();

  // False when neither a handle nor the path can be had.
  [[nodiscard]] bool remember();
  [[nodiscard]] bool returnTo() const;
  // The folder's path for messages ("." when it is held by handle only).
  [[nodiscard]] std::string describe() const;

 private:
  int handle_ = -1;
  std::filesystem::path path_;
};

}  // namespace platform
