#include "listing_words.h"

#include <algorithm>

#include "d88_text.h"

std::string decodedDiskName(const DiskListing& disk, bool quoted) {
  const auto* begin = disk.nameField.data();
  const auto* end = std::find(begin, begin + d88::kNameSize, std::uint8_t{0});
  return d88text::decodeCp932(begin, static_cast<std::size_t>(end - begin), quoted);
}

std::string recognitionText(DiskKind kind) {
  const char* message = recognitionMessage(kind);
  return message == nullptr ? std::string() : d88text::messageText(message);
}
