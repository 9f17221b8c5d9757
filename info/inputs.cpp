#include "info/inputs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>

#include "text/d88_text.h"

using namespace disk;
using namespace format;

namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 5> kD88Extensions{".d88", ".d77", ".d68", ".88d", ".d98"};

class Walk {
 public:
  explicit Walk(Inputs& inputs) : inputs_(inputs) {}

  // Walks a folder held open: its D88 files, and its subfolders in turn.
  void folder(const platform::Folder& held, std::uint32_t index) {
    std::error_code error;
    const std::vector<platform::FolderEntry> entries = held.entries(error);
    // A folder that cannot be read (or not to its end) is a failed input of
    // its own; what was listed before the failure is still walked.
    if (error) {
      failed(index, error);
    }
    for (const platform::FolderEntry& entry : entries) {
      if (entry.folder) {
        const std::uint32_t child = addFolder(index, entry.name);
        const platform::Folder opened = held.child(entry.name, error);
        if (error) {
          failed(child, error);
        } else {
          folder(opened, child);
        }
      } else if (!entry.leadsToFolder && isD88Name(entry.name)) {
        add(Input{index, entry.name, InputFailure::None, {}});
      }
    }
  }

  std::uint32_t addFolder(std::uint32_t parent, const std::string& name) {
    inputs_.folders.push_back({parent, name});
    return static_cast<std::uint32_t>(inputs_.folders.size() - 1);
  }

  void add(Input input) {
    inputs_.widestShown =
        std::max(inputs_.widestShown, d88text::displayWidth(inputs_.shown(input)));
    inputs_.files.push_back(std::move(input));
  }

 private:
  // A folder that cannot be listed, as an input of its own.
  void failed(std::uint32_t index, const std::error_code& error) {
    const WalkedFolder& folder = inputs_.folders[index];
    add(Input{folder.parent == WalkedFolder::kTop ? Input::kGiven : folder.parent, folder.name,
              InputFailure::CannotList, error.message()});
  }

  Inputs& inputs_;
};

}  // namespace

std::string Inputs::hostPath(const Input& input) const {
  if (input.folder == Input::kGiven) {
    return input.name;
  }
  std::vector<const std::string*> names{&input.name};
  for (std::uint32_t at = input.folder; at != WalkedFolder::kTop; at = folders[at].parent) {
    names.push_back(&folders[at].name);
  }
  // Put together as the library joins paths: no second separator after one
  // the PATH given ends with.
  fs::path path = platform::pathFromUtf8(*names.back());
  for (auto name = names.rbegin() + 1; name != names.rend(); ++name) {
    path /= platform::pathFromUtf8(**name);
  }
  return platform::utf8Path(path);
}

std::string Inputs::shown(const Input& input) const {
#ifdef _WIN32
  // A Windows name holds no backslash: each name is escaped, and the
  // separators between them stay single.
  const std::string path = hostPath(input);
  std::string shown;
  std::size_t start = 0;
  for (;;) {
    const std::size_t separator = path.find('\\', start);
    shown += d88text::escapeHostText(std::string_view(path).substr(start, separator - start));
    if (separator == std::string::npos) {
      return shown;
    }
    shown += '\\';
    start = separator + 1;
  }
#else
  return d88text::escapeHostText(hostPath(input));
#endif
}

std::FILE* Inputs::openFile(const Input& input, OpenFolder& open) const {
  if (input.folder == Input::kGiven) {
    return platform::openInput(platform::pathFromUtf8(input.name));
  }
  if (open.index != input.folder || !open.folder.isOpen()) {
    // The folders from the PATH given down to the file's, each by its handle.
    std::vector<std::uint32_t> chain;
    for (std::uint32_t at = input.folder; at != WalkedFolder::kTop; at = folders[at].parent) {
      chain.push_back(at);
    }
    std::error_code error;
    platform::Folder held =
        platform::Folder::open(platform::pathFromUtf8(folders[chain.back()].name), error);
    for (auto at = chain.rbegin() + 1; !error && at != chain.rend(); ++at) {
      held = held.child(folders[*at].name, error);
    }
    open.index = error ? WalkedFolder::kTop : input.folder;
    open.folder = std::move(held);
    if (error) {
      return nullptr;
    }
  }
  return open.folder.openInput(input.name);
}

bool isD88Name(const std::string& name) {
  // The name's own ending: the library finds no extension in ".d88" (a
  // hidden file's name to it), yet it ends in ".d88" like any other.
  return std::any_of(kD88Extensions.begin(), kD88Extensions.end(), [&name](const char* extension) {
    const std::size_t length = std::char_traits<char>::length(extension);
    return name.size() >= length &&
           std::equal(
               extension, extension + length, name.end() - static_cast<std::ptrdiff_t>(length),
               [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
  });
}

Inputs collectInputs(const std::vector<std::string>& paths, bool recursive) {
  Inputs inputs;
  Walk walk(inputs);
  for (const std::string& given : paths) {
    const fs::path path = platform::pathFromUtf8(given);
    std::error_code error;
    if (recursive && fs::is_directory(path, error)) {
      const std::uint32_t top = walk.addFolder(WalkedFolder::kTop, given);
      const platform::Folder held = platform::Folder::open(path, error);
      if (error) {
        walk.add(Input{Input::kGiven, given, InputFailure::CannotList, error.message()});
      } else {
        walk.folder(held, top);
      }
    } else {
      walk.add(Input{Input::kGiven, given, InputFailure::None, {}});
    }
  }
  return inputs;
}
