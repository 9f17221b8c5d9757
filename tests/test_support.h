// Helpers shared by the test programs: scratch folders and file contents.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "builder/image_builder.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace d88test {

inline int processId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

// A fresh folder under the system's temporary folder, named after the running
// test and removed with everything in it when the test ends.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps two runs of the same test (two presets at once)
    // out of each other's folders.
    std::string name = std::string("d88-") + info->test_suite_name() + "-" + info->name() + "-" +
                       std::to_string(processId());
    for (char& ch : name) {
      if (ch == '/' || ch == '\\' || ch == ':') {
        ch = '_';
      }
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Writes bytes to a file in the folder and returns its path.
  std::string write(const std::string& name, const Bytes& bytes) const {
    const std::string target = file(name);
    EXPECT_TRUE(writeFile(target, bytes)) << target;
    return target;
  }

 private:
  std::filesystem::path path_;
};

inline Bytes readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace d88test
