#include "disk/listing.h"

#include <algorithm>
#include <cstdio>

namespace disk {

namespace {

// No real track starts before the end of a 160-slot track table.
constexpr std::int32_t kShortTrackTableEnd = d88::kTrackTableOffset + 160 * d88::kTrackEntrySize;
static_assert(kShortTrackTableEnd < d88::kHeaderSize, "a short table ends inside the header");

void listTrack(d88::D88Image& image, TrackListing& track) {
  track.storedOffset = image.trackOffset(track.slot);
  track.pastSize = !image.hasTrack(track.slot);
  track.insideHeader = !track.pastSize && track.storedOffset < kShortTrackTableEnd;
  track.records.clear();
  track.walkEnd = d88::WalkEnd::NoTrack;
  if (track.pastSize) {
    return;
  }
  readTrackRecords(image, track.slot, track.records, track.walkEnd);
}

}  // namespace

FileListing listFile(d88::D88Image& image, std::uint8_t* buffer, const DiskFile& file) {
  const FileRead read = readFileChain(image, buffer, file);
  return {file, read.verdict, read.bytesRead};
}

std::vector<bool> lastOfTheirName(const std::vector<FileListing>& files) {
  std::vector<bool> last(files.size(), false);
  LastOfName names;
  for (std::size_t i = files.size(); i-- > 0;) {
    last[i] = isWritten(files[i].verdict) && names.claim(files[i].file.name.data());
  }
  return last;
}

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

void describeDisk(d88::D88Image& image, std::int32_t index, const DiskBuffers& buffers,
                  DiskListing& disk, DescribeParts parts) {
  disk.index = index;
  disk.offset = image.diskOffset(index);
  disk.headerComplete = selectDisk(image, index);
  disk.nameField = image.nameField();
  disk.writeProtect = image.writeProtect();
  disk.mediaType = image.mediaType();
  disk.sizeField = image.diskSize();
  disk.kind = DiskKind::Unknown;
  disk.files.clear();
  disk.rooms.clear();
  std::size_t present = 0;
  if (disk.headerComplete) {
    for (std::int32_t slot = 0; parts.tracks && slot < d88::kTrackCount; ++slot) {
      // Zero marks an absent track.
      if (image.trackOffset(slot) == 0) {
        continue;
      }
      // Track listings are kept from disk to disk with their records' room.
      if (present == disk.tracks.size()) {
        disk.tracks.emplace_back();
      }
      TrackListing& track = disk.tracks[present++];
      track.slot = slot;
      listTrack(image, track);
    }
    TableBuffers& tables = buffers.tables;
    disk.kind = recogniseDisk(image, tables);
    forEachDiskFile(disk.kind, tables, [&](const DiskFile& file) {
      if (!parts.chains) {
        disk.files.push_back(FileListing{file});
      } else if (parts.chainBytes) {
        disk.files.push_back(listFile(image, buffers.chain, file));
      } else {
        const FileRead read = locateFileRead(image, file);
        disk.files.push_back({file, read.verdict, read.bytesRead});
      }
    });
    if (parts.rooms && disk.kind != DiskKind::Unknown) {
      // The records the listing walked are the users' record headers.
      DiskUsage usage;
      if (parts.tracks) {
        usage.begin(image);
        for (std::size_t i = 0; i < present; ++i) {
          usage.addRecords(disk.tracks[i].records);
        }
        usage.finish(image, disk.kind, tables);
      } else {
        usage.collect(image, disk.kind, tables);
      }
      disk.rooms = measureTableRooms(image, disk.kind, tables, usage);
    }
  }
  disk.tracks.resize(present);
}

void describeImage(d88::D88Image& image, const DiskBuffers& buffers,
                   const std::function<void(const DiskListing&)>& visit) {
  DiskListing disk;
  for (std::int32_t index = 0; index < image.diskCount(); ++index) {
    describeDisk(image, index, buffers, disk);
    visit(disk);
  }
}

bool changedWhileRead(const d88::D88Image& image, const DiskListing& disk) {
  return !disk.headerComplete || image.fileChanged();
}

bool describeUnchanged(d88::D88Image& image, const DiskBuffers& buffers, DiskListing& disk,
                       DescribeParts parts, const std::function<void(const DiskListing&)>& visit) {
  for (std::int32_t index = 0; index < image.diskCount(); ++index) {
    describeDisk(image, index, buffers, disk, parts);
    if (changedWhileRead(image, disk)) {
      return false;
    }
    visit(disk);
  }
  return true;
}

}  // namespace disk
