// Writing a file all or nothing: the new bytes go to a temporary file beside
// the destination, are made durable and renamed over it. Any failure, and
// any signal that ends the process and can be caught, before the rename
// leaves the destination as it was and removes the temporary file; only a
// SIGKILL or a power cut can leave it behind, and the next run removes it.
// The rename is the moment the run commits: from just before it until the
// run has said what it did, those signals are held (see endHeldSignal). The
// D88 file is held for the whole run, so that two runs cannot both change
// it, and the replacement is called off when the file changed meanwhile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/platform.h"

// The temporary file's name: the destination's with this appended.
inline constexpr char kTemporarySuffix[] = ".d88put-tmp";

// The file a path leads to, through symbolic links: the one to replace.
[[nodiscard]] std::filesystem::path fileToReplace(const std::filesystem::path& path);

// Why a file may not be replaced where it is (empty when it may): replacing
// a file with several hard links would split them, and a file the user may
// not write is not theirs to change. `hint` ends the refusal with what to do.
[[nodiscard]] std::string inPlaceRefusal(const std::filesystem::path& file,
                                         const std::string& hint);

// An exclusive lock on a file for as long as it is held, honoured by every
// other run (not by other programs: `unchanged` covers those).
class HeldFile {
 public:
  enum class Result { Held, Busy, Failed };

  HeldFile() = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() { release(); }

  // Busy: another run holds it; Failed: errno tells why.
  [[nodiscard]] Result hold(const std::filesystem::path& path);
  // Whether `path` still leads to the held file, with the size and times it
  // had when it was held.
  [[nodiscard]] bool unchanged(const std::filesystem::path& path) const;
  void release();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int descriptor_ = -1;
#endif
  platform::FileStamp stamp_;
};

// What a replacement needs besides the bytes.
struct Replacement {
  std::filesystem::path destination;
  // A new destination takes this file's permission bits; an existing one
  // keeps its own owner, group and permission bits.
  std::filesystem::path modeFrom;
  // Every check that can fail before the first write, and nothing written.
  bool dryRun = false;
  // Called after the temporary file is durable, just before the rename:
  // an error calls the replacement off.
  std::function<std::string()> beforeRename;
  // Called just before the rename, when nothing more can call it off
  // (Windows cannot replace a file that is open).
  std::function<void()> releaseFiles;
};

// Writes `destination` anew with `write`. On failure sets `error` and leaves
// `destination` untouched; `notices` get what was done on the way (a
// temporary file left by a run that was killed, removed).
[[nodiscard]] bool replaceFile(const Replacement& replacement,
                               const std::function<bool(std::FILE*)>& write,
                               std::vector<std::string>& notices, std::string& error);

// Once replaceFile has renamed, the signals that would end the process (on
// Windows the console's events: Ctrl+C, Ctrl+Break, closing it) are held
// until this is called, after the report: a signal held meanwhile then ends
// the process with its own status, once `announce` was given its name
// ("SIGTERM"). Without one, or without a rename, it returns and nothing is
// held any more. A signal ignored or blocked when the run started stays so.
void endHeldSignal(const std::function<void(const char* name)>& announce);
