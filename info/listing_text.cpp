#include "listing_text.h"

#include <algorithm>
#include <cstring>

#include "d88_text.h"

std::string decodedDiskName(const DiskListing& disk, bool quoted) {
  const auto* begin = disk.nameField.data();
  const auto* end = std::find(begin, begin + d88::kNameSize, std::uint8_t{0});
  return d88text::decodeCp932(begin, static_cast<std::size_t>(end - begin), quoted);
}

std::string messageText(const char* message) {
  // The line end would be escaped as a control character.
  const std::size_t length = std::strcspn(message, "\n");
  return d88text::decodeCp932(reinterpret_cast<const std::uint8_t*>(message), length, false);
}

std::string recognitionText(DiskKind kind) {
  const char* message = recognitionMessage(kind);
  return message == nullptr ? std::string() : messageText(message);
}
