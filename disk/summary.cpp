#include "disk/summary.h"

namespace disk {

void ListingSummary::add(const DiskListing& disk) {
  // A header cut short holds nothing that can be counted.
  if (!disk.headerComplete) {
    return;
  }
  ++disks;
  switch (disk.kind) {
    case DiskKind::System:
      ++systemDisks;
      break;
    case DiskKind::Data:
      ++dataDisks;
      break;
    case DiskKind::Unknown:
      ++notRecognised;
      break;
  }
  for (const FileListing& file : disk.files) {
    ++files;
    if (file.verdict == FileVerdict::Incomplete) {
      ++incomplete;
    } else if (!isWritten(file.verdict)) {
      ++skipped;
    }
  }
}

ListingSummary& ListingSummary::operator+=(const ListingSummary& other) {
  disks += other.disks;
  systemDisks += other.systemDisks;
  dataDisks += other.dataDisks;
  notRecognised += other.notRecognised;
  files += other.files;
  incomplete += other.incomplete;
  skipped += other.skipped;
  return *this;
}

bool summariseImage(d88::D88Image& image, const DiskBuffers& buffers, DiskListing& disk,
                    ListingSummary& summary) {
  summary = {};
  const bool whole =
      describeUnchanged(image, buffers, disk, kSummaryParts,
                        [&summary](const DiskListing& listed) { summary.add(listed); });
  if (!whole) {
    summary = {};
  }
  return whole;
}

}  // namespace disk
