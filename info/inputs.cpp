#include "info/inputs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>

#include "cli/platform.h"
#include "text/d88_text.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 5> kD88Extensions{".d88", ".d77", ".d68", ".88d", ".d98"};

// A path as its row and its JSON show it: one path, one text, and no
// control character to break a line.
std::string shownPath(const std::string& utf8) {
  return d88text::escapeHostText(utf8);
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
  // The name's own ending: ".d88" alone has no extension to the library (it
  // is a hidden file's name), yet it ends in ".d88" like any other.
  const std::string text = platform::utf8Path(name.filename());
  return std::any_of(kD88Extensions.begin(), kD88Extensions.end(), [&text](const char* extension) {
    const std::size_t length = std::char_traits<char>::length(extension);
    return text.size() >= length &&
           std::equal(extension, extension + length, text.end() - static_cast<std::ptrdiff_t>(length),
                      [](char a, char b) {
                        return a == std::tolower(static_cast<unsigned char>(b));
                      });
  });
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
