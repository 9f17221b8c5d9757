#include "format/listing_words.h"

#include <algorithm>

#include "text/d88_text.h"

namespace format {

using namespace disk;

std::string decodedDiskName(const DiskListing& disk, bool quoted) {
  const auto* begin = disk.nameField.data();
  const auto* end = std::find(begin, begin + d88::kNameSize, std::uint8_t{0});
  return d88text::decodeCp932(begin, static_cast<std::size_t>(end - begin), quoted);
}

std::string recognitionText(DiskKind kind) {
  const char* message = recognitionMessage(kind);
  return message == nullptr ? std::string() : d88text::messageText(message);
}

const VerdictWords& verdictWords(FileVerdict verdict) {
  static constexpr VerdictWords kComplete{"complete", nullptr, nullptr};
  static constexpr VerdictWords kIncomplete{"incomplete", nullptr, nullptr};
  static constexpr VerdictWords kUnreadable{"skipped", "firstSectorUnreadable",
                                            "first sector unreadable"};
  static constexpr VerdictWords kNothingToRead{"skipped", "nothingToRead", "nothing to read"};
  static constexpr VerdictWords kNegativeSize{"skipped", "negativeSize", "size negative"};
  static constexpr VerdictWords kPastBuffer{"skipped", "pastExtractionBuffer",
                                            "size past the extraction buffer"};
  switch (verdict) {
    case FileVerdict::Complete:
      break;
    case FileVerdict::Incomplete:
      return kIncomplete;
    case FileVerdict::SkippedUnreadable:
      return kUnreadable;
    case FileVerdict::SkippedNothingToRead:
      return kNothingToRead;
    case FileVerdict::SkippedNegativeSize:
      return kNegativeSize;
    case FileVerdict::SkippedPastBuffer:
      return kPastBuffer;
  }
  return kComplete;
}

}  // namespace format
