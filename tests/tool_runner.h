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

#ifdef _WIN32
#include <windows.h>
#else
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

// The locale of the tools this process runs from now on (LC_ALL, which
// outranks the other variables): their help follows it.
inline void setLocale(const char* locale) {
#ifdef _WIN32
  _putenv_s("LC_ALL", locale);
#else
  setenv("LC_ALL", locale, 1);
#endif
}

inline std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// Runs a shell command line (pipes and redirections allowed) with
// `directory` as its working folder, capturing both output streams.
inline RunResult runShell(const std::filesystem::path& directory, const std::string& commandLine,
                          const std::filesystem::path& capture) {
  const std::filesystem::path outPath = capture / "stdout.txt";
  const std::filesystem::path errPath = capture / "stderr.txt";
#ifdef _WIN32
  std::string command = "cd /d " + quoted(directory.string()) + " && " + commandLine;
#else
  std::string command = "cd " + quoted(directory.string()) + " && " + commandLine;
#endif
  command += " >" + quoted(outPath.string()) + " 2>" + quoted(errPath.string());
  RunResult result;
#ifdef _WIN32
  // cmd.exe drops the outer quotes of a command line that starts with one.
  command = "\"" + command + "\"";
  // The command is UTF-8 and goes out wide, so that names outside the ANSI
  // code page reach the program intact.
  const int wideSize = MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, wide.data(), wideSize);
  // Under Wine, cmd.exe now and then fails to start a program it found a
  // moment before ("Can't recognize ...", status 9009) while the machine is
  // loaded; the program then never ran, so running the line again is safe.
  constexpr int kCommandNotStarted = 9009;
  constexpr int kAttempts = 4;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    result.status = _wsystem(wide.c_str());
    if (result.status != kCommandNotStarted) {
      break;
    }
    Sleep(200);
  }
#else
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  const Bytes out = readAll(outPath);
  const Bytes err = readAll(errPath);
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  return result;
}

// Runs `program args...` with `directory` as its working folder.
inline RunResult runIn(const std::filesystem::path& directory, const std::string& program,
                       const std::vector<std::string>& args, const std::filesystem::path& capture) {
  std::string command = quoted(program);
  for (const std::string& arg : args) {
    command += " " + quoted(arg);
  }
  return runShell(directory, command, capture);
}

}  // namespace d88test
