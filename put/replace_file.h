// Writing a file all or nothing: the new bytes go to a temporary file beside
// the destination, are made durable and renamed over it. Any failure, and
// SIGINT or SIGTERM meanwhile, leaves the destination as it was and removes
// the temporary file; only a SIGKILL or a power cut can leave it behind, and
// until it is removed the next run fails rather than write through it.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

// The temporary file's name: the destination's with this appended.
inline constexpr char kTemporarySuffix[] = ".d88put-tmp";

// The file a path leads to, through symbolic links: the one to replace.
[[nodiscard]] std::filesystem::path fileToReplace(const std::filesystem::path& path);

// Why a file may not be replaced where it is (empty when it may): replacing
// a file with several hard links would split them, and a file the user may
// not write is not theirs to change.
[[nodiscard]] std::string inPlaceRefusal(const std::filesystem::path& file);

// Writes `destination` anew with `write`, with the permission bits of
// `modeFrom`. On failure sets `error` and leaves `destination` untouched.
[[nodiscard]] bool replaceFile(const std::filesystem::path& destination,
                               const std::filesystem::path& modeFrom,
                               const std::function<bool(std::FILE*)>& write, std::string& error);
