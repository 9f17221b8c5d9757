// Scratch files for the fuzz targets: each process gets its own folder under
// the system's temporary folder (TMPDIR), so parallel fuzzing jobs do not
// collide. The fuzzer ends the process without running exit handlers, so
// the folders stay: point TMPDIR at a folder that can be emptied.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace fuzzsupport {

inline const std::filesystem::path& scratchRoot() {
  static const std::filesystem::path root = [] {
    std::random_device device;
    const auto path = std::filesystem::temp_directory_path() /
                      ("d88fuzz-" + std::to_string(device()) + std::to_string(device()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return root;
}

// Writes the input to a file in the scratch folder and returns its path.
inline std::string writeInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = (scratchRoot() / "input.d88").string();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::abort();
  }
  if (size > 0 && std::fwrite(data, 1, size, file) != size) {
    std::abort();
  }
  std::fclose(file);
  return path;
}

}  // namespace fuzzsupport
