// Preloaded into d88put by the tests (Linux only): the fsync of a regular
// file, the temporary file's, fails with EIO, raises a signal, or waits until
// the test says go, as D88_TEST_FSYNC tells: "eio", a signal's name ("TERM",
// "HUP", ...), or "pause:PATH", which creates PATH.ready and waits for PATH.go.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

}  // namespace

extern "C" int fsync(int descriptor) {
  using Fsync = int (*)(int);
  static const auto real = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  const char* action = std::getenv("D88_TEST_FSYNC");
  struct stat info {};
  if (action == nullptr || fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    return real(descriptor);
  }
  if (std::strcmp(action, "eio") == 0) {
    errno = EIO;
    return -1;
  }
  if (std::strncmp(action, "pause:", 6) == 0) {
    const std::string path = action + 6;
    if (FILE* ready = std::fopen((path + ".ready").c_str(), "w")) {
      std::fclose(ready);
    }
    // At most a minute, so that a test gone wrong cannot hang the suite.
    for (int i = 0; i < 6000 && !exists(path + ".go"); ++i) {
      usleep(10000);
    }
    return real(descriptor);
  }
  for (const NamedSignal& signal : kSignals) {
    if (std::strcmp(action, signal.name) == 0) {
      std::raise(signal.number);
    }
  }
  return real(descriptor);
}
