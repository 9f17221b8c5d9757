// Preloaded into d88put by the tests (Linux only): the fsync of a regular
// file, the temporary file's, fails with EIO, raises a signal, or waits until
// the test says go, as D88_TEST_FSYNC tells: "eio", a signal's name ("TERM",
// "HUP", ...), or "pause:PATH", which writes the process's id to PATH.ready
// and waits for PATH.go. "folder:" before any of them does it at the fsync
// of a folder instead: the flush of the destination's folder after the
// rename. D88_TEST_CREATE="pause:PATH" makes the creation of a temporary file
// (a name ending in .d88put-tmp) wait the same way, just before the file is
// opened.

// The fortified headers define open() themselves; this file defines its own.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct NamedSignal {
  const char* name;
  int number;
};
constexpr NamedSignal kSignals[] = {{"HUP", SIGHUP},   {"INT", SIGINT},       {"QUIT", SIGQUIT},
                                    {"TERM", SIGTERM}, {"USR1", SIGUSR1},     {"USR2", SIGUSR2},
                                    {"ALRM", SIGALRM}, {"VTALRM", SIGVTALRM}, {"PROF", SIGPROF},
                                    {"XCPU", SIGXCPU}, {"XFSZ", SIGXFSZ}};

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// PATH.ready appears whole, with the id in it, so that a test that sees it
// can signal the process at once.
void announceReady(const std::string& path) {
  const std::string written = path + ".ready.part";
  if (FILE* ready = std::fopen(written.c_str(), "w")) {
    std::fprintf(ready, "%ld\n", static_cast<long>(getpid()));
    std::fclose(ready);
    std::rename(written.c_str(), (path + ".ready").c_str());
  }
}

// Announces PATH.ready and waits for PATH.go, at most a minute, so that a
// test gone wrong cannot hang the suite.
void pauseAt(const std::string& path) {
  announceReady(path);
  for (int i = 0; i < 6000 && !exists(path + ".go"); ++i) {
    usleep(10000);
  }
}

}  // namespace

extern "C" int fsync(int descriptor) {
  using Fsync = int (*)(int);
  static const auto real = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  const char* action = std::getenv("D88_TEST_FSYNC");
  struct stat info {};
  if (action == nullptr || fstat(descriptor, &info) != 0) {
    return real(descriptor);
  }
  constexpr char kFolder[] = "folder:";
  const bool atFolder = std::strncmp(action, kFolder, sizeof kFolder - 1) == 0;
  if (atFolder) {
    action += sizeof kFolder - 1;
  }
  if (atFolder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
    return real(descriptor);
  }
  if (std::strcmp(action, "eio") == 0) {
    errno = EIO;
    return -1;
  }
  if (std::strncmp(action, "pause:", 6) == 0) {
    pauseAt(action + 6);
    return real(descriptor);
  }
  for (const NamedSignal& signal : kSignals) {
    if (std::strcmp(action, signal.name) == 0) {
      std::raise(signal.number);
    }
  }
  return real(descriptor);
}

namespace {

constexpr char kTemporarySuffix[] = ".d88put-tmp";

// Pauses when `path` is a temporary file being created and the test asks.
void beforeCreate(const char* path, int flags) {
  const char* action = std::getenv("D88_TEST_CREATE");
  const std::size_t length = path == nullptr ? 0 : std::strlen(path);
  const std::size_t suffix = sizeof kTemporarySuffix - 1;
  if (action == nullptr || std::strncmp(action, "pause:", 6) != 0 || (flags & O_CREAT) == 0 ||
      length < suffix || std::strcmp(path + length - suffix, kTemporarySuffix) != 0) {
    return;
  }
  pauseAt(action + 6);
}

// The mode open() takes when it may create a file.
mode_t modeArgument(int flags, va_list arguments) {
  const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  return creates ? static_cast<mode_t>(va_arg(arguments, unsigned)) : 0;
}

}  // namespace

// open() and open64() alike: the real one, after the pause asked for.
static int openAfterPause(const char* symbol, const char* path, int flags, va_list arguments) {
  using Open = int (*)(const char*, int, ...);
  const auto real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, symbol));
  const mode_t mode = modeArgument(flags, arguments);
  beforeCreate(path, flags);
  return real(path, flags, mode);
}

extern "C" int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int descriptor = openAfterPause("open", path, flags, arguments);
  va_end(arguments);
  return descriptor;
}

extern "C" int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int descriptor = openAfterPause("open64", path, flags, arguments);
  va_end(arguments);
  return descriptor;
}
