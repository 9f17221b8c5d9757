// The D88 files of a run: each PATH as given, or with -r the D88 files found
// by walking the folders among them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/platform.h"
#include "format/catalogue.h"

// One input: a file by its folder of the walk and its name there, or a PATH
// as given. Paths are put together only when a file is listed, so that a
// tree's inputs take little more than a name each, however deep the tree.
struct Input {
  static constexpr std::uint32_t kGiven = UINT32_MAX;
  std::uint32_t folder = kGiven;  // in Inputs::folders, or kGiven
  std::string name;               // in its folder, or the PATH as given
  // CannotList for a folder of the walk that could not be listed (its files
  // after the failure are missing), with the system's reason.
  format::InputFailure failure = format::InputFailure::None;
  std::string reason;
};

// A folder of the walk: its name in the folder it is in, or the PATH given.
struct WalkedFolder {
  static constexpr std::uint32_t kTop = UINT32_MAX;
  std::uint32_t parent = kTop;
  std::string name;
};

// The folder of the files a thread opens, held open from one file to the
// next of the same folder.
struct OpenFolder {
  std::uint32_t index = WalkedFolder::kTop;
  platform::Folder folder;
};

struct Inputs {
  std::vector<WalkedFolder> folders;
  std::vector<Input> files;
  std::size_t widestShown = 0;  // the terminal columns of the widest shown path

  // The path of an input as the host names it (UTF-8 outside POSIX).
  [[nodiscard]] std::string hostPath(const Input& input) const;
  // The path as its row, its heading and its JSON show it, as
  // escapeHostText escapes it: one path, one text.
  [[nodiscard]] std::string shown(const Input& input) const;
  // Opens a file input as platform::openInput does, through the handle of
  // its folder (reopened in `open` when it is another), so that a path
  // longer than the system takes can be read.
  [[nodiscard]] std::FILE* openFile(const Input& input, OpenFolder& open) const;
};

// Whether a file name ends in one of the D88 extensions (.d88, .d77, .d68,
// .88d, .d98), in any letter case; ".d88" alone is one.
[[nodiscard]] bool isD88Name(const std::string& name);

// The inputs in the order given. With `recursive`, a PATH that is a folder
// (or a link to one) gives the D88 files under it, each folder's entries in
// the byte order of their names, files and subfolders alike; symbolic links
// to folders met on the way are not followed. Other PATHs stay inputs
// whatever their names.
[[nodiscard]] Inputs collectInputs(const std::vector<std::string>& paths, bool recursive);
