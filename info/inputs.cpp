#include "info/inputs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>

#include "cli/platform.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 5> kD88Extensions{".d88", ".d77", ".d68", ".88d", ".d98"};

// Control characters would break the line a path is shown on.
std::string shownPath(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : utf8) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}

Input fileInput(const fs::path& path) {
  return {path, shownPath(platform::utf8Path(path)), InputFailure::None, {}};
}

void walk(const fs::path& folder, std::vector<Input>& inputs) {
  std::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    entries.push_back(entry->path());
  }
  // A folder that cannot be read (or not to its end) is a failed input of its
  // own; what was listed before the failure is still walked.
  if (error) {
    Input failed = fileInput(folder);
    failed.failure = InputFailure::CannotList;
    failed.reason = error.message();
    inputs.push_back(std::move(failed));
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  for (const fs::path& entry : entries) {
    // symlink_status: a link to a folder is not a folder to walk.
    const fs::file_status own = fs::symlink_status(entry, error);
    if (!error && fs::is_directory(own)) {
      walk(entry, inputs);
    } else if (isD88Name(entry.filename()) && !fs::is_directory(entry, error)) {
      inputs.push_back(fileInput(entry));
    }
  }
}

}  // namespace

bool isD88Name(const fs::path& name) {
  std::string extension = platform::utf8Path(name.extension());
  std::transform(extension.begin(), extension.end(), extension.begin(), [](char ch) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  });
  return std::find(kD88Extensions.begin(), kD88Extensions.end(), extension) != kD88Extensions.end();
}

std::vector<Input> collectInputs(const std::vector<std::string>& paths, bool recursive) {
  std::vector<Input> inputs;
  for (const std::string& given : paths) {
    const fs::path path = platform::pathFromUtf8(given);
    std::error_code error;
    if (recursive && fs::is_directory(path, error)) {
      walk(path, inputs);
    } else {
      inputs.push_back({path, shownPath(given), InputFailure::None, {}});
    }
  }
  return inputs;
}
