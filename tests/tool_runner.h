// Runs the built d88extract in a scratch folder and captures what it did:
// exit status, standard output, standard error and the folder tree.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/test_support.h"

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

#ifdef _WIN32
// One argument as the C runtime's command-line parser reads it back:
// quoted, with the backslashes before a quote (or before the closing quote)
// doubled and the quote itself escaped.
inline std::wstring windowsArgument(const std::wstring& argument) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t ch : argument) {
    if (ch == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(ch == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += ch;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

inline std::wstring wide(const std::string& utf8) {
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
  return out;
}

// A file handle the child inherits, for one of its output streams.
inline HANDLE inheritableOutput(const std::filesystem::path& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

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
  const std::wstring wideCommand = wide(command);
  // Under Wine, cmd.exe now and then fails to start a program it found a
  // moment before ("Can't recognize ...", status 9009) while the machine is
  // loaded; the program then never ran, so running the line again is safe.
  constexpr int kCommandNotStarted = 9009;
  constexpr int kAttempts = 4;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    result.status = _wsystem(wideCommand.c_str());
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

// Runs `program args...` with `directory` as its working folder. On Windows
// the program is started directly, without cmd.exe, whose start of a program
// fails now and then under Wine on a loaded machine.
inline RunResult runIn(const std::filesystem::path& directory, const std::string& program,
                       const std::vector<std::string>& args, const std::filesystem::path& capture) {
#ifdef _WIN32
  const std::filesystem::path outPath = capture / "stdout.txt";
  const std::filesystem::path errPath = capture / "stderr.txt";
  std::wstring commandLine = windowsArgument(wide(program));
  for (const std::string& arg : args) {
    commandLine += L" " + windowsArgument(wide(arg));
  }
  RunResult result;
  constexpr int kAttempts = 4;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    HANDLE out = inheritableOutput(outPath);
    HANDLE err = inheritableOutput(errPath);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::wstring mutableLine = commandLine;  // CreateProcessW may write into it
    const bool started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                         CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, directory.wstring().c_str(), &startup, &process);
    if (out != INVALID_HANDLE_VALUE) {
      CloseHandle(out);
    }
    if (err != INVALID_HANDLE_VALUE) {
      CloseHandle(err);
    }
    if (!started) {
      // The program never ran, so starting it again is safe.
      std::fprintf(stderr, "note: %s did not start (error %lu)\n", program.c_str(), GetLastError());
      Sleep(200);
      continue;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    result.status = static_cast<int>(code);
    constexpr DWORD kFirstErrorStatus = 0xC0000000;  // a crash, or a failed start
    if (code >= kFirstErrorStatus) {
      std::fprintf(stderr, "note: %s ended with status 0x%08lX\n", program.c_str(), code);
    }
    break;
  }
  const Bytes outBytes = readAll(outPath);
  const Bytes errBytes = readAll(errPath);
  result.out.assign(outBytes.begin(), outBytes.end());
  result.err.assign(errBytes.begin(), errBytes.end());
  return result;
#else
  std::string command = quoted(program);
  for (const std::string& arg : args) {
    command += " " + quoted(arg);
  }
  return runShell(directory, command, capture);
#endif
}

}  // namespace d88test
