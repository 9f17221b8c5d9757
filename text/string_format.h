// printf-style formatting into a std::string, of whatever length.
#pragma once

#include <cstdio>
#include <string>

namespace d88text {

template <typename... Args>
[[nodiscard]] std::string format(const char* pattern, Args... args) {
  const int length = std::snprintf(nullptr, 0, pattern, args...);
  // A pattern the C library cannot format gives no text.
  if (length <= 0) {
    return {};
  }
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), pattern, args...);
  text.pop_back();
  return text;
}

// Appends the formatted text to `out`.
template <typename... Args>
void appendFormat(std::string& out, const char* pattern, Args... args) {
  out += format(pattern, args...);
}

}  // namespace d88text
