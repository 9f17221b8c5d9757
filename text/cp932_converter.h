// The platform's code-page-932 converter, one character at a time. Every
// platform-specific part of the decoding lives behind this class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace d88text::detail {

class Cp932Converter {
 public:
  Cp932Converter();
  ~Cp932Converter();
  Cp932Converter(const Cp932Converter&) = delete;
  Cp932Converter& operator=(const Cp932Converter&) = delete;

  // Converts one character, a single byte or a lead byte with its trail byte
  // (size 1 or 2), to UTF-8. False when the converter refuses it.
  [[nodiscard]] bool convert(const std::uint8_t* unit, std::size_t size, std::string& utf8);

 private:
  [[maybe_unused]] void* handle_ = nullptr;  // iconv's descriptor, where iconv converts
};

}  // namespace d88text::detail
