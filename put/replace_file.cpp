#include "replace_file.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
// windows.h first: io.h's handle calls build on its types.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The temporary file being written, for the signal handler to remove.
#ifdef _WIN32
std::array<wchar_t, 4096> pendingTemporary{};
#else
std::array<char, 4096> pendingTemporary{};
#endif
volatile std::sig_atomic_t temporaryPending = 0;

extern "C" void removeTemporaryAndStop(int signal) {
  if (temporaryPending != 0) {
#ifdef _WIN32
    DeleteFileW(pendingTemporary.data());
#else
    unlink(pendingTemporary.data());
#endif
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Keeps the handlers on while the temporary file exists.
class TemporaryGuard {
 public:
  explicit TemporaryGuard(const fs::path& path) {
    const auto& native = path.native();
    if (native.size() < pendingTemporary.size()) {
      std::copy(native.begin(), native.end(), pendingTemporary.begin());
      pendingTemporary[native.size()] = 0;
      temporaryPending = 1;
    }
    previousInt_ = std::signal(SIGINT, removeTemporaryAndStop);
    previousTerm_ = std::signal(SIGTERM, removeTemporaryAndStop);
  }
  ~TemporaryGuard() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
    temporaryPending = 0;
  }
  TemporaryGuard(const TemporaryGuard&) = delete;
  TemporaryGuard& operator=(const TemporaryGuard&) = delete;

 private:
  using Handler = void (*)(int);
  Handler previousInt_;
  Handler previousTerm_;
};

std::string reason() {
  return std::strerror(errno);
}

// Creates the temporary file, failing when anything has that name already:
// opening a link left there would write through it into another file, and
// opening the file of a run still going would mix two runs' bytes.
std::FILE* createTemporary(const fs::path& path) {
#ifdef _WIN32
  const int descriptor =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  std::FILE* file = descriptor < 0 ? nullptr : _fdopen(descriptor, "wb");
  if (descriptor >= 0 && file == nullptr) {
    _close(descriptor);
  }
#else
  const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  std::FILE* file = descriptor < 0 ? nullptr : fdopen(descriptor, "wb");
  if (descriptor >= 0 && file == nullptr) {
    close(descriptor);
  }
#endif
  if (descriptor >= 0 && file == nullptr) {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
  return file;
}

// Flushes the file's bytes to the disk itself.
bool makeDurable(std::FILE* file) {
  if (std::fflush(file) != 0) {
    return false;
  }
#ifdef _WIN32
  return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

bool copyPermissions(std::FILE* file, const fs::path& from) {
#ifdef _WIN32
  (void)file;
  (void)from;
  return true;  // the new file takes the folder's access rules
#else
  struct stat info {};
  return stat(from.c_str(), &info) == 0 && fchmod(fileno(file), info.st_mode & 07777) == 0;
#endif
}

bool renameOver(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    return false;
  }
  // The rename itself is durable once the folder is.
  const fs::path folder = to.parent_path().empty() ? fs::path(".") : to.parent_path();
  const int handle = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle >= 0) {
    fsync(handle);
    close(handle);
  }
  return true;
#endif
}

}  // namespace

fs::path fileToReplace(const fs::path& path) {
  std::error_code error;
  const fs::path target = fs::canonical(path, error);
  return error ? path : target;
}

std::string inPlaceRefusal(const fs::path& file) {
#ifdef _WIN32
  (void)file;
  return {};
#else
  struct stat info {};
  if (stat(file.c_str(), &info) != 0) {
    return {};
  }
  if (info.st_nlink > 1) {
    return "it has " + std::to_string(info.st_nlink) +
           " hard links, which replacing it would split (give -o OUTPUT)";
  }
  if (access(file.c_str(), W_OK) != 0) {
    return "you may not write it (give -o OUTPUT)";
  }
  return {};
#endif
}

bool replaceFile(const fs::path& destination, const fs::path& modeFrom,
                 const std::function<bool(std::FILE*)>& write, std::string& error) {
  fs::path temporary = destination;
  temporary += kTemporarySuffix;
  const TemporaryGuard guard(temporary);
  std::FILE* file = createTemporary(temporary);
  if (file == nullptr) {
    const bool exists = errno == EEXIST;
    error = "cannot create " + temporary.u8string() + ": " + reason();
    if (exists) {
      error += " (left by a run that was killed? remove it if no d88put is running)";
    }
    return false;
  }
  bool written = write(file);
  if (!written) {
    error = "cannot write " + temporary.u8string() + ": " + reason();
  } else if (!copyPermissions(file, modeFrom) || !makeDurable(file)) {
    error = "cannot write " + temporary.u8string() + ": " + reason();
    written = false;
  }
  if (std::fclose(file) != 0 && written) {
    error = "cannot write " + temporary.u8string() + ": " + reason();
    written = false;
  }
  if (written && !renameOver(temporary, destination)) {
    error = "cannot replace " + destination.u8string() + ": " + reason();
    written = false;
  }
  if (!written) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
  }
  return written;
}
