#include "format/put_words.h"

#include "disk/file_tables.h"
#include "format/room_words.h"
#include "text/string_format.h"

namespace format {

using namespace disk;

using d88text::format;

namespace {

// "S101, S102", or `none` for no name.
std::string namesOr(const std::vector<std::string>& names, const char* none) {
  std::string out;
  for (const std::string& name : names) {
    out += (out.empty() ? "" : ", ") + name;
  }
  return out.empty() ? std::string(none) : out;
}

std::string cannotChangeSize(const Refusal& refusal, const std::string& why) {
  return refusal.file + " cannot change size: " + why;
}

unsigned long long bytes(const Refusal& refusal) {
  return static_cast<unsigned long long>(refusal.size);
}

}  // namespace

std::string refusalText(const Refusal& refusal) {
  switch (refusal.code) {
    case RefusalCode::None:
      return std::string();
    case RefusalCode::NoSuchFile:
      return "ignored: " + refusal.file +
             format(": no file of that name on disk %d", static_cast<int>(refusal.disk));
    case RefusalCode::NoSuchDisk:
      return "ignored: folder " + refusal.file + ": no such disk in the file";
    case RefusalCode::CannotRead:
      return "cannot read " + refusal.file;
    case RefusalCode::OtherSize:
      return format("%s is %llu bytes, the disk's file %d: files cannot change size",
                    refusal.file.c_str(), bytes(refusal), static_cast<int>(refusal.was)) +
             (refusal.resizeWouldTake ? " (--resize lets later files move)" : "");
    case RefusalCode::UnknownDisk:
      return cannotChangeSize(
          refusal, "the disk is not recognised, and its tables mix what both probes read");
    case RefusalCode::FixedFile:
      return cannotChangeSize(refusal, "BIOS and DRIVER have fixed sizes");
    case RefusalCode::FirstEntry:
      return cannotChangeSize(refusal,
                              "where the next file starts is part of what recognises the disk");
    case RefusalCode::NamedTwice:
      return cannotChangeSize(refusal, "two table files are named " + refusal.name);
    case RefusalCode::PastExtractBuffer:
      return format("%s is %llu bytes: no file of a table reaches past %d bytes",
                    refusal.file.c_str(), bytes(refusal), static_cast<int>(refusal.was));
    case RefusalCode::ChainBreaks:
      return format("%s cannot be changed: its chain breaks at track %02X sector %02X",
                    refusal.file.c_str(), static_cast<unsigned>(refusal.track),
                    static_cast<unsigned>(refusal.r));
    case RefusalCode::NotRelaid:
      return cannotChangeSize(
          refusal, (refusal.table < 0 ? std::string()
                                      : format("the %s table's ", tableWord(refusal.table))) +
                       roomReasonText(refusal.why));
    case RefusalCode::TableGrows:
      return format("%s grows the %s table by 0x%X bytes, but ", refusal.file.c_str(),
                    tableWord(refusal.table), static_cast<unsigned>(refusal.growth)) +
             roomReasonText(refusal.why);
    case RefusalCode::HeaderChanged:
      return (refusal.file.empty() ? std::string("a file put back") : refusal.file) +
             format(" would change the header of disk %d", static_cast<int>(refusal.disk));
    case RefusalCode::NotReadBack:
      return refusal.file + " would not read back as put: it shares bytes with " +
             namesOr(refusal.files, "another file put back");
    case RefusalCode::WouldChange:
      return refusal.file + " would change: it shares bytes with " +
             namesOr(refusal.files, "another file put back");
    case RefusalCode::EditChanged:
      return refusal.file + " changed while d88put ran";
    case RefusalCode::EditChangedUnwritten:
      return refusal.file + " changed while d88put ran; nothing written";
    case RefusalCode::FilesChanged:
      return format("disk %d would change its kind or its list of files (",
                    static_cast<int>(refusal.disk)) +
             (refusal.files.empty() ? std::string("by files of other disks")
                                    : "putting back " + namesOr(refusal.files, "")) +
             ")";
  }
  return std::string();
}

std::string diagnosticLine(const Diagnostic& diagnostic) {
  return (diagnostic.severity == Severity::Error ? "error: " : "") +
         (diagnostic.refusal.code == RefusalCode::None ? diagnostic.text
                                                       : refusalText(diagnostic.refusal));
}

}  // namespace format
