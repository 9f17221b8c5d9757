// d88info: shows what a D88 file holds, disk by disk (header fields, tracks
// with their sector IDs) and what d88extract would do with each disk, without
// writing anything.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d88_image.h"
#include "extract_file.h"
#include "file_tables.h"
#include "messages.h"

namespace {

constexpr const char* kDefaultProgramName = "d88info";
constexpr const char* kUsage = "Usage: %s [d88file]\n";
constexpr std::int32_t kMostRecordsPerTrack = 0x10000;  // the walk's own bound
// Some writers store only 160 track offsets and start the first track right
// after them; the last four slots then hold sector bytes. No real track
// starts before the end of a 160-slot table.
constexpr std::int32_t kShortTrackTableEnd = d88::kTrackTableOffset + 160 * d88::kTrackEntrySize;

const char* mediaName(std::int32_t mediaType) {
  switch (mediaType) {
    case 0x00:
      return "2D";
    case 0x10:
      return "2DD";
    case 0x20:
      return "2HD";
    case 0x30:
      return "1D";
    case 0x40:
      return "1DD";
    default:
      return "unknown";
  }
}

const char* kindName(DiskKind kind) {
  switch (kind) {
    case DiskKind::System:
      return "system disk";
    case DiskKind::Data:
      return "data disk";
    case DiskKind::Unknown:
      break;
  }
  return "not recognised";
}

void printHeader(const d88::D88Image& image, std::int32_t disk) {
  std::printf("disk %d: offset 0x%08X  name \"%s\"  media 0x%02X (%s)  size 0x%08X\n", disk,
              static_cast<unsigned>(image.diskOffset(disk)), image.diskName(),
              static_cast<unsigned>(image.mediaType()), mediaName(image.mediaType()),
              static_cast<unsigned>(image.diskSize()));
}

// One line per present track: the sector count of its first record and the
// IDs of the records a lookup can reach; [LLLL] follows an ID whose stored
// data length differs from 128 << N.
// Room for the longest walk of a track, allocated once for the whole file.
struct TrackListing {
  std::vector<std::uint8_t> ids = std::vector<std::uint8_t>(
      static_cast<std::size_t>(kMostRecordsPerTrack) * d88::kSectorIdSize);
  std::vector<d88::SectorRecordInfo> records =
      std::vector<d88::SectorRecordInfo>(static_cast<std::size_t>(kMostRecordsPerTrack));
};

void printTracks(d88::D88Image& image, TrackListing& listing) {
  std::vector<std::uint8_t>& ids = listing.ids;
  std::vector<d88::SectorRecordInfo>& records = listing.records;
  for (std::int32_t track = 0; track < d88::kTrackCount; ++track) {
    if (!image.hasTrack(track)) {
      continue;
    }
    const std::int32_t idBytes =
        image.readSectorIds(track, ids.data(), static_cast<std::int32_t>(ids.size()));
    const std::int32_t count = image.readSectorRecords(track, records.data(), kMostRecordsPerTrack);
    std::printf("  track %3d (C %2d H %d): ", track, track / 2, track % 2);
    if (image.trackOffset(track) < kShortTrackTableEnd) {
      std::printf("offset 0x%08X points into the disk header, not a track\n",
                  static_cast<unsigned>(image.trackOffset(track)));
      continue;
    }
    if (count == 0) {
      std::printf("no sectors\n");
      continue;
    }
    std::printf("%d sectors:", records[0].sectorCount);
    for (std::int32_t i = 0; i < count && i * d88::kSectorIdSize < idBytes; ++i) {
      const std::uint8_t* id = ids.data() + static_cast<std::size_t>(i) * d88::kSectorIdSize;
      std::printf(" %02X-%02X-%02X-%02X", id[0], id[1], id[2], id[3]);
      const d88::SectorRecordInfo& record = records[static_cast<std::size_t>(i)];
      const std::int64_t nominal = std::int64_t{d88::kBaseSectorSize} << record.id.n;
      if (record.dataLength != nominal) {
        std::printf("[%04X]", static_cast<unsigned>(record.dataLength));
      }
    }
    std::printf("\n");
  }
}

// What d88extract -a would write, in its report-line format, with what
// happens to each file.
void printFiles(DiskKind kind) {
  forEachDiskFile(kind, firstTable, secondTable, [](const DiskFile& file) {
    std::array<char, 128> line{};
    std::snprintf(line.data(), line.size(), messages::kReportLine, file.name.data(),
                  static_cast<unsigned>(file.track), static_cast<unsigned>(file.r),
                  static_cast<unsigned>(file.offset), static_cast<unsigned>(file.size));
    line[std::strcspn(line.data(), "\n")] = '\0';
    std::string notes;
    if (file.writtenWithoutAll) {
      notes += "  (written without -a)";
    }
    const FileRead read = readFileChain(file.track, file.cylinder(), file.head(), file.r, kSizeCode,
                                        file.offset, file.size);
    std::array<char, 96> note{};
    switch (read.status) {
      case FileReadStatus::Complete:
        break;
      case FileReadStatus::Incomplete:
        std::snprintf(note.data(), note.size(), "  (chain breaks: read %04X of %04X bytes)",
                      static_cast<unsigned>(read.bytesRead), static_cast<unsigned>(file.size));
        break;
      case FileReadStatus::Unreadable:
        std::snprintf(note.data(), note.size(), "  (skipped: first sector unreadable)");
        break;
      case FileReadStatus::Damaged:
        std::snprintf(note.data(), note.size(), "  (skipped: size %s)",
                      file.size < 0 ? "negative" : "past the extraction buffer");
        break;
    }
    std::printf("  %s%s%s\n", line.data(), notes.c_str(), note.data());
  });
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : kDefaultProgramName;
  if (argc < 2) {
    std::fprintf(stderr, kUsage, program);
    return 1;
  }
  if (!diskImage.open(argv[1])) {
    std::fputs(messages::kOpenError, stderr);
    return 1;
  }
  TrackListing listing;
  for (std::int32_t disk = 0; disk < diskImage.diskCount(); ++disk) {
    const bool selected = diskImage.selectDisk(disk);
    diskImage.setSectorRange(1, kSectorsPerTrack);
    if (!selected) {
      std::printf("disk %d: offset 0x%08X  header cut short\n", disk,
                  static_cast<unsigned>(diskImage.diskOffset(disk)));
      continue;
    }
    printHeader(diskImage, disk);
    printTracks(diskImage, listing);
    const DiskKind kind = recogniseDisk(diskImage, firstTable, secondTable);
    std::printf("  kind: %s\n", kindName(kind));
    printFiles(kind);
  }
  return 0;
}
