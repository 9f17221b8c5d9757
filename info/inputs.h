// The D88 files of a run: each PATH as given, or with -r the D88 files found
// by walking the folders among them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "format/catalogue.h"

struct Input {
  std::filesystem::path path;
  std::string shown;  // as escapeHostText shows it
  // CannotList for a folder of the walk that could not be listed (its files
  // after the failure are missing), with the system's reason.
  InputFailure failure = InputFailure::None;
  std::string reason;
};

// Whether a file name ends in one of the D88 extensions (.d88, .d77, .d68,
// .88d, .d98), in any letter case.
[[nodiscard]] bool isD88Name(const std::filesystem::path& name);

// The inputs in the order given. With `recursive`, a PATH that is a folder
// (or a link to one) gives the D88 files under it, each folder's entries in
// sorted order, files and subfolders alike; symbolic links to folders met on
// the way are not followed. Other PATHs stay inputs whatever their names.
[[nodiscard]] std::vector<Input> collectInputs(const std::vector<std::string>& paths,
                                               bool recursive);
