#include "cli/replace_file.h"

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
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#endif

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// The temporary file and the signals that would end the process meanwhile

struct EndingSignal {
  int number;
  const char* name;
};
#ifdef _WIN32
std::array<wchar_t, 4096> pendingTemporary{};
// The C runtime's: Ctrl+C is SIGINT; Ctrl+Break, closing the console, logging
// off and shutting down are SIGBREAK.
const EndingSignal kEndingSignals[] = {
    {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGBREAK, "SIGBREAK"}};
#else
std::array<char, 4096> pendingTemporary{};
// Every signal whose default ends the process and that can be caught, but
// for SIGPIPE (ignored: a closed pipe is a failed write) and the ones of a
// crash, left to the sanitizers and core dumps.
const EndingSignal kEndingSignals[] = {
    {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"}, {SIGTERM, "SIGTERM"},
    {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}, {SIGALRM, "SIGALRM"}, {SIGVTALRM, "SIGVTALRM"},
    {SIGPROF, "SIGPROF"}, {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"}};
#endif
constexpr std::size_t kSignalCount = sizeof(kEndingSignals) / sizeof(kEndingSignals[0]);
volatile std::sig_atomic_t temporaryPending = 0;

#ifdef _WIN32
// Windows has no signal mask: the console's events reach a handler on a
// thread of their own, and these two words stand in for the mask. The run
// commits when it sets commitState from 0 to 2, just before the rename; a
// handler that set it to 1 first is removing the temporary file, and the
// rename never comes. From the commit on, a handler records its signal in
// heldSignal and waits there for the run to end it once the report is out;
// -1 there says the report is out, and nothing is held any more.
volatile LONG commitState = 0;
volatile LONG heldSignal = 0;

// Returns at once where the run has not committed or its report is out;
// otherwise never, as the run ends the process.
void holdUntilReported(LONG signal) {
  if (InterlockedCompareExchange(&commitState, 2, 2) != 2 ||
      InterlockedCompareExchange(&heldSignal, signal, 0) == -1) {
    return;
  }
  for (;;) {
    Sleep(INFINITE);
  }
}

// Called before the C runtime's handler, which would end the process.
BOOL WINAPI holdConsoleEvent(DWORD event) {
  holdUntilReported(event == CTRL_C_EVENT ? SIGINT : SIGBREAK);
  return FALSE;  // not held: the next handler's, or the default's
}
#endif

extern "C" void removeTemporaryAndStop(int signal) {
#ifdef _WIN32
  // The rename may be under way on the main thread.
  if (InterlockedCompareExchange(&commitState, 1, 0) != 0) {
    holdUntilReported(signal);
  }
#endif
  if (temporaryPending != 0) {
#ifdef _WIN32
    DeleteFileW(pendingTemporary.data());
#else
    unlink(pendingTemporary.data());
#endif
  }
  // Ended by the signal itself, so that the exit status is the signal's.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Keeps the handlers on while the temporary file may exist. A signal that
// was ignored when the run started (nohup) stays ignored.
class TemporaryGuard {
 public:
  TemporaryGuard() {
    for (std::size_t i = 0; i < kSignalCount; ++i) {
#ifdef _WIN32
      previous_[i] = std::signal(kEndingSignals[i].number, removeTemporaryAndStop);
      if (previous_[i] == SIG_IGN) {
        std::signal(kEndingSignals[i].number, SIG_IGN);
      }
#else
      struct sigaction action {};
      action.sa_handler = removeTemporaryAndStop;
      sigemptyset(&action.sa_mask);
      installed_[i] = sigaction(kEndingSignals[i].number, nullptr, &previous_[i]) == 0 &&
                      previous_[i].sa_handler != SIG_IGN &&
                      sigaction(kEndingSignals[i].number, &action, nullptr) == 0;
#endif
    }
  }
  ~TemporaryGuard() {
    temporaryPending = 0;
    for (std::size_t i = 0; i < kSignalCount; ++i) {
#ifdef _WIN32
      std::signal(kEndingSignals[i].number, previous_[i]);
#else
      if (installed_[i]) {
        sigaction(kEndingSignals[i].number, &previous_[i], nullptr);
      }
#endif
    }
  }
  TemporaryGuard(const TemporaryGuard&) = delete;
  TemporaryGuard& operator=(const TemporaryGuard&) = delete;

  // From now on a signal removes the file at `path`; false when the name
  // does not fit (the file is then not created).
  [[nodiscard]] static bool arm(const fs::path& path) {
    const auto& native = path.native();
    if (native.size() >= pendingTemporary.size()) {
      return false;
    }
    std::copy(native.begin(), native.end(), pendingTemporary.begin());
    pendingTemporary[native.size()] = 0;
    return true;
  }
  static void setPending(bool pending) {
    temporaryPending = pending ? 1 : 0;
  }

 private:
#ifdef _WIN32
  using Handler = void (*)(int);
  std::array<Handler, kSignalCount> previous_{};
#else
  std::array<struct sigaction, kSignalCount> previous_{};
  std::array<bool, kSignalCount> installed_{};
#endif
};

// Holds back the ending signals between creating the temporary file and
// marking it pending, so that neither a file is left nor another's removed.
class SignalsHeld {
 public:
#ifdef _WIN32
  // Windows has no signal mask to hold them with.
  SignalsHeld() {}
  ~SignalsHeld() {}
#else
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (const EndingSignal& signal : kEndingSignals) {
      sigaddset(&set, signal.number);
    }
    sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsHeld() {
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }

 private:
  sigset_t previous_{};
#endif
};

// The commit: from just before the rename until the report is written, the
// ending signals are held, so that the run cannot end between replacing the
// file and saying so.
bool committing = false;
#ifndef _WIN32
sigset_t maskBeforeCommit;
#endif

void holdForCommit() {
  committing = true;
#ifdef _WIN32
  SetConsoleCtrlHandler(holdConsoleEvent, TRUE);
  if (InterlockedCompareExchange(&commitState, 2, 0) != 0) {
    for (;;) {
      Sleep(INFINITE);  // a handler is removing the temporary file and ends the run
    }
  }
#else
  sigset_t set;
  sigemptyset(&set);
  for (const EndingSignal& signal : kEndingSignals) {
    sigaddset(&set, signal.number);
  }
  sigprocmask(SIG_BLOCK, &set, &maskBeforeCommit);
#endif
}

// Ends the commit's hold. With `announce`, a signal held meanwhile ends the
// process with its own status once `announce` has been given its name;
// without, it ends the process as it would have before the rename (the
// temporary file is gone by then).
void endCommit(const std::function<void(const char*)>& announce) {
  if (!committing) {
    return;
  }
  committing = false;
  const auto nameOf = [](int number) {
    for (const EndingSignal& signal : kEndingSignals) {
      if (signal.number == number) {
        return signal.name;
      }
    }
    return "a signal";
  };
#ifdef _WIN32
  const LONG signal = InterlockedExchange(&heldSignal, -1);
  if (signal > 0) {
    if (announce) {
      announce(nameOf(static_cast<int>(signal)));
    }
    std::signal(static_cast<int>(signal), SIG_DFL);
    std::raise(static_cast<int>(signal));
  }
  SetConsoleCtrlHandler(holdConsoleEvent, FALSE);
#else
  // Of several, the lowest number, which the system would deliver first.
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  int held = 0;
  for (const EndingSignal& signal : kEndingSignals) {
    struct sigaction now {};
    // One blocked before the run, or ignored (nohup), stays so.
    if (sigismember(&pending, signal.number) == 1 &&
        sigismember(&maskBeforeCommit, signal.number) == 0 &&
        sigaction(signal.number, nullptr, &now) == 0 && now.sa_handler != SIG_IGN &&
        (held == 0 || signal.number < held)) {
      held = signal.number;
    }
  }
  if (held != 0 && announce) {
    announce(nameOf(held));
    // Ended by the signal itself, so that the exit status is the signal's.
    std::signal(held, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, held);
    sigprocmask(SIG_UNBLOCK, &one, nullptr);
  }
  sigprocmask(SIG_SETMASK, &maskBeforeCommit, nullptr);
#endif
}

std::string reason() {
  return std::strerror(errno);
}

// What lies at the temporary name before a run writes it.
enum class Leftover { None, Stale, Busy };

// A file left by a run that was killed, or the file of a run still writing
// (which holds a lock on it, or on Windows keeps it open).
Leftover leftoverAt(const fs::path& temporary) {
#ifdef _WIN32
  if (GetFileAttributesW(temporary.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return Leftover::None;
  }
  const HANDLE handle =
      CreateFileW(temporary.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION ? Leftover::Busy : Leftover::Stale;
  }
  CloseHandle(handle);
  return Leftover::Stale;
#else
  struct stat info {};
  if (lstat(temporary.c_str(), &info) != 0) {
    return errno == ENOENT ? Leftover::None : Leftover::Stale;
  }
  // A run writes only regular files there: a link, a FIFO or a device is
  // not one, and is removed, never opened.
  if (!S_ISREG(info.st_mode)) {
    return Leftover::Stale;
  }
  const int descriptor = open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return Leftover::Stale;
  }
  const bool busy = flock(descriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(descriptor);
  return busy ? Leftover::Busy : Leftover::Stale;
#endif
}

bool removeLeftover(const fs::path& temporary) {
#ifdef _WIN32
  return DeleteFileW(temporary.c_str()) != 0;
#else
  return unlink(temporary.c_str()) == 0 || errno == ENOENT;
#endif
}

// Creates the temporary file, failing when anything has that name: opening
// a link there would write through it into another file. The file is locked
// for as long as it is open, which tells other runs it is being written.
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
  if (descriptor >= 0) {
    // Another run's check may hold it for a moment; the lock is a courtesy.
    (void)flock(descriptor, LOCK_EX | LOCK_NB);
  }
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

// What the new file keeps of the one it replaces, or takes from another.
struct Keep {
  bool owner = false;  // the destination exists: its owner and group too
#ifdef _WIN32
  DWORD attributes = 0;
#else
  uid_t user = 0;
  gid_t group = 0;
  mode_t mode = 0;
#endif
  bool known = false;
};

Keep keepFrom(const fs::path& destination, const fs::path& modeFrom) {
  Keep keep;
#ifdef _WIN32
  (void)modeFrom;
  const DWORD attributes = GetFileAttributesW(destination.c_str());
  keep.owner = attributes != INVALID_FILE_ATTRIBUTES;
  keep.known = keep.owner;
  keep.attributes = keep.owner
                        ? attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                        : 0;
#else
  struct stat info {};
  keep.owner = stat(destination.c_str(), &info) == 0;
  keep.known = keep.owner || stat(modeFrom.c_str(), &info) == 0;
  keep.user = info.st_uid;
  keep.group = info.st_gid;
  keep.mode = info.st_mode & 07777;
#endif
  return keep;
}

// Gives the written file the owner and permission bits it keeps: the owner
// where the process may (root), else the group where the user belongs to
// it, then the mode, since a change of owner clears the setuid bits.
bool applyKeep(std::FILE* file, const Keep& keep) {
#ifdef _WIN32
  (void)file;
  (void)keep;
  return true;  // attributes are set on the closed file, the access rules are the folder's
#else
  if (!keep.known) {
    errno = ENOENT;
    return false;
  }
  const int descriptor = fileno(file);
  if (keep.owner && fchown(descriptor, keep.user, keep.group) != 0) {
    (void)fchown(descriptor, static_cast<uid_t>(-1), keep.group);
  }
  return fchmod(descriptor, keep.mode) == 0;
#endif
}

// Flushes the file's bytes to the disk itself.
bool makeDurable(std::FILE* file) {
#ifdef _WIN32
  return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
#else
  return fsync(fileno(file)) == 0;
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
  const fs::path folder = platform::folderOf(to);
  const int handle = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle >= 0) {
    fsync(handle);
    close(handle);
  }
  return true;
#endif
}

// Whether a file can be created in the destination's folder at all.
bool folderWritable(const fs::path& destination) {
#ifdef _WIN32
  (void)destination;
  return true;  // the access rules tell only when the file is created
#else
  const fs::path folder = platform::folderOf(destination);
  return access(folder.c_str(), W_OK | X_OK) == 0;
#endif
}

}  // namespace

// ---------------------------------------------------------------------------
// Holding the D88 file

HeldFile::Result HeldFile::hold(const fs::path& path) {
  release();
#ifdef _WIN32
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EACCES;
    return Result::Failed;
  }
  // Windows locks are mandatory: one byte far past any end keeps reads free.
  OVERLAPPED pastTheEnd{};
  pastTheEnd.Offset = 0xFFFFFFFFu;
  pastTheEnd.OffsetHigh = 0x7FFFFFFFu;
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                  &pastTheEnd)) {
    const bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(handle);
    errno = EACCES;
    return busy ? Result::Busy : Result::Failed;
  }
  handle_ = handle;
  stamp_ = platform::stampOfHandle(handle);
#else
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return Result::Failed;
  }
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(descriptor);
    errno = error;
    return error == EWOULDBLOCK ? Result::Busy : Result::Failed;
  }
  descriptor_ = descriptor;
  stamp_ = platform::stampOfDescriptor(descriptor);
#endif
  return Result::Held;
}

bool HeldFile::unchanged(const fs::path& path) const {
  return platform::sameStamp(platform::stampOf(path), stamp_);
}

#ifndef _WIN32
void HeldFile::adopt(int descriptor) {
  release();
  descriptor_ = descriptor;
  stamp_ = platform::stampOfDescriptor(descriptor);
}
#endif

void HeldFile::release() {
#ifdef _WIN32
  if (handle_ != nullptr) {
    CloseHandle(static_cast<HANDLE>(handle_));  // closing the handle unlocks it
    handle_ = nullptr;
  }
#else
  if (descriptor_ >= 0) {
    close(descriptor_);  // closing the last descriptor of the file unlocks it
    descriptor_ = -1;
  }
#endif
}

// ---------------------------------------------------------------------------
// Replacing

fs::path fileToReplace(const fs::path& path) {
  std::error_code error;
  const fs::path target = fs::canonical(path, error);
  return error ? path : target;
}

std::string inPlaceRefusal(const fs::path& file, const std::string& hint) {
#ifdef _WIN32
  (void)file;
  (void)hint;
  return {};
#else
  struct stat info {};
  if (stat(file.c_str(), &info) != 0) {
    return {};
  }
  if (info.st_nlink > 1) {
    return "it has " + std::to_string(info.st_nlink) +
           " hard links, which replacing it would split " + hint;
  }
  if (access(file.c_str(), W_OK) != 0) {
    return "you may not write it " + hint;
  }
  return {};
#endif
}

bool replaceFile(const Replacement& replacement, const std::function<bool(std::FILE*)>& write,
                 std::vector<std::string>& notices, std::string& error) {
  fs::path temporary = replacement.destination;
  temporary += kTemporarySuffix;
  const auto cannotCreate = [&](const std::string& why) {
    error = "cannot create " + temporary.u8string() + ": " + why;
    return false;
  };
  if (!folderWritable(replacement.destination)) {
    return cannotCreate(reason());
  }
  switch (leftoverAt(temporary)) {
    case Leftover::Busy:
      return cannotCreate("another d88put is writing it");
    case Leftover::Stale:
      if (replacement.dryRun) {
        break;  // a real run removes it and goes on
      }
      if (!removeLeftover(temporary)) {
        return cannotCreate("a file left there cannot be removed: " + reason());
      }
      notices.push_back("removed " + temporary.u8string() + ", left by a run that was killed");
      break;
    case Leftover::None:
      break;
  }
  if (replacement.dryRun) {
    return true;
  }
  const Keep keep = keepFrom(replacement.destination, replacement.modeFrom);
  const TemporaryGuard guard;
  if (!TemporaryGuard::arm(temporary)) {
    return cannotCreate("the name is too long");
  }
  std::FILE* file = nullptr;
  {
    const SignalsHeld held;
    file = createTemporary(temporary);
    TemporaryGuard::setPending(file != nullptr);
  }
  if (file == nullptr) {
    return cannotCreate(reason());
  }
#ifndef _WIN32
  // The lock is on the open file, which this second descriptor keeps open
  // past the close; another run's check of a leftover holds it a moment.
  int newLock = -1;
  if (replacement.holdNew != nullptr) {
    newLock = fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
    if (newLock < 0 || flock(newLock, LOCK_EX) != 0) {
      const std::string why = reason();
      if (newLock >= 0) {
        close(newLock);
      }
      std::fclose(file);
      std::error_code ignored;
      fs::remove(temporary, ignored);
      TemporaryGuard::setPending(false);
      return cannotCreate(why);
    }
  }
#endif
  const auto failed = [&]() {
    error = "cannot write " + temporary.u8string() + ": " + reason();
    return false;
  };
  // Flushed, owned, given its mode, made durable: the order keeps the setuid
  // bits, which both a write and a change of owner clear.
  bool written = (write(file) && std::fflush(file) == 0) || failed();
  written = written && (applyKeep(file, keep) || failed());
  written = written && (makeDurable(file) || failed());
  if (std::fclose(file) != 0 && written) {
    written = failed();
  }
#ifdef _WIN32
  if (written && keep.owner && keep.attributes != 0) {
    (void)SetFileAttributesW(temporary.c_str(), keep.attributes);
  }
#endif
  if (written && replacement.beforeRename) {
    error = replacement.beforeRename();
    written = error.empty();
  }
  if (written && replacement.releaseFiles) {
    replacement.releaseFiles();
  }
  if (written) {
    holdForCommit();
    if (renameOver(temporary, replacement.destination)) {
      TemporaryGuard::setPending(false);  // it is the destination now
#ifndef _WIN32
      if (newLock >= 0) {
        replacement.holdNew->adopt(newLock);
        newLock = -1;
      }
#endif
    } else {
      error = "cannot replace " + replacement.destination.u8string() + ": " + reason();
      written = false;
    }
  }
  if (!written) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    TemporaryGuard::setPending(false);
    endCommit(nullptr);
  }
#ifndef _WIN32
  if (newLock >= 0) {
    close(newLock);
  }
#endif
  return written;
}

void endHeldSignal(const std::function<void(const char*)>& announce) {
  endCommit(announce);
}
