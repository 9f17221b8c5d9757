// Runs the built d88extract in a scratch folder and captures what it did:
// exit status, standard output, standard error and the folder tree.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace d88test {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Every file and folder under a folder, by relative path with '/' separators;
// folders map to nullopt, files to their bytes.
using Tree = std::map<std::string, std::optional<Bytes>>;

inline Tree snapshot(const std::filesystem::path& root) {
  Tree tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).generic_string();
    if (entry.is_directory()) {
      tree[relative] = std::nullopt;
    } else {
      tree[relative] = readAll(entry.path());
    }
  }
  return tree;
}

#ifdef _WIN32
constexpr const char* kNewline = "\r\n";
#else
constexpr const char* kNewline = "\n";
#endif

// Console text as the platform writes it: each "\n" becomes kNewline.
inline std::string text(const std::string& lines) {
  std::string out;
  for (char ch : lines) {
    out += ch == '\n' ? std::string(kNewline) : std::string(1, ch);
  }
  return out;
}

inline std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// Runs `program args...` with `directory` as its working folder.
inline RunResult runIn(const std::filesystem::path& directory, const std::string& program,
                       const std::vector<std::string>& args, const std::filesystem::path& capture) {
  const std::filesystem::path outPath = capture / "stdout.txt";
  const std::filesystem::path errPath = capture / "stderr.txt";
#ifdef _WIN32
  std::string command = "cd /d " + quoted(directory.string()) + " && " + quoted(program);
#else
  std::string command = "cd " + quoted(directory.string()) + " && " + quoted(program);
#endif
  for (const std::string& arg : args) {
    command += " " + quoted(arg);
  }
  command += " >" + quoted(outPath.string()) + " 2>" + quoted(errPath.string());
#ifdef _WIN32
  // cmd.exe drops the outer quotes of a command line that starts with one.
  command = "\"" + command + "\"";
#endif
  RunResult result;
  const int raw = std::system(command.c_str());
#ifdef _WIN32
  result.status = raw;
#else
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  const Bytes out = readAll(outPath);
  const Bytes err = readAll(errPath);
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  return result;
}

}  // namespace d88test
