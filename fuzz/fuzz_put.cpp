// Arbitrary bytes as a D88 file, and edits drawn from them: every file that
// d88extract -a writes is an edit held in memory, some are changed (bytes,
// sizes, unknown names), and the put-back is planned, half the time with
// sizes allowed to change. Either it is refused, or the image it writes
// holds every disk's kind and files as before (moved ones at new places),
// each changed file with its edit's bytes and every other file as it was,
// and no byte changed outside the table tracks and the old and new extents
// of the files that changed or moved. The planner's two checks must agree
// on every disk. Now and then the room listed for each table is put to the
// test: its file grown by the room is accepted, by one byte more refused.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string_view>
#include <system_error>
#include <vector>

#include "disk/chain.h"
#include "disk/listing.h"
#include "disk/put_back.h"
#include "fuzz/fuzz_support.h"

using namespace disk;

namespace {

namespace fs = std::filesystem;

struct Disk {
  DiskKind kind = DiskKind::Unknown;
  std::vector<FileListing> files;
  std::vector<std::vector<std::uint8_t>> bytes;  // as extracted, by file
  std::vector<TableRoom> rooms;
  std::int32_t firstTableFiles = 0;
};

std::vector<std::uint8_t> chainBytes(d88::D88Image& image, std::vector<std::uint8_t>& buffer,
                                     const DiskFile& file) {
  (void)readFileChain(image, buffer.data(), file);
  return {buffer.begin() + file.offset, buffer.begin() + file.offset + file.size};
}

// The file positions a file's chain reads from its offset on.
void addExtent(d88::D88Image& image, const DiskFile& file, std::vector<d88::ChainStep>& steps,
               std::vector<std::pair<std::int64_t, std::int64_t>>& extents) {
  (void)locateFileChain(image, file, steps);
  for (const d88::ChainStep& step : steps) {
    if (step.position >= 0 && step.length > 0) {
      extents.emplace_back(step.position, step.position + step.length);
    }
  }
}

bool sameFile(const DiskFile& a, const DiskFile& b) {
  return a.track == b.track && a.r == b.r && a.offset == b.offset && a.size == b.size;
}

TableBuffers tables;

d88::D88Image original;
d88::D88Image patched;
d88::D88Image written;

// Whether a put-back with --resize of one file, `bytes` grown by `by`, is
// sound, planned on openings of its own.
bool acceptsGrowth(const std::string& path, std::int32_t disk, const std::string& name,
                   std::vector<std::uint8_t> bytes, std::int32_t by) {
  d88::D88Image before;
  d88::D88Image after;
  if (!before.open(path.c_str()) || !after.open(path.c_str())) {
    std::abort();
  }
  bytes.insert(bytes.end(), static_cast<std::size_t>(by), 0x47);
  MemoryEdits edits;
  edits.add(disk, name, std::move(bytes));
  PutPlan plan;
  PlanOptions options;
  options.resize = true;
  planPutBack(before, after, edits, plan, options);
  return plan.errors == 0;
}

// The room d88info lists for a table is what --resize takes: the file it
// names grows by it, and by no byte more.
void checkRoom(const std::string& path, const std::vector<Disk>& disks,
               const std::vector<std::map<std::string, std::size_t>>& lastOfName) {
  for (std::size_t d = 0; d < disks.size(); ++d) {
    const Disk& disk = disks[d];
    for (std::size_t table = 0; table < disk.rooms.size(); ++table) {
      const TableRoom& room = disk.rooms[table];
      if (!room.measured || room.fixed) {
        continue;
      }
      const std::size_t file =
          layoutOf(disk.kind).fixed.count +
          static_cast<std::size_t>((table == 0 ? 0 : disk.firstTableFiles) + room.grows);
      const std::string name = disk.files.at(file).file.name.data();
      const auto last = lastOfName[d].find(name);
      // The file that can grow is one that can be put back.
      if (last == lastOfName[d].end() || last->second != file) {
        std::fprintf(stderr, "disk %zu table %zu: the room's file %s is not written\n", d, table,
                     name.c_str());
        std::abort();
      }
      const auto disk32 = static_cast<std::int32_t>(d);
      if (!acceptsGrowth(path, disk32, name, disk.bytes[file], room.room) ||
          acceptsGrowth(path, disk32, name, disk.bytes[file], room.room + 1)) {
        std::fprintf(stderr, "disk %zu table %zu: %s does not take exactly the room 0x%X\n", d,
                     table, name.c_str(), static_cast<unsigned>(room.room));
        std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzzsupport::writeInput(data, size);
  if (!original.open(path.c_str()) || !patched.open(path.c_str())) {
    return 0;
  }
  std::vector<std::uint8_t> buffer(kExtractBufferSize);
  // What d88extract -a writes: later files of a name replace earlier ones.
  std::vector<Disk> disks(static_cast<std::size_t>(original.diskCount()));
  std::vector<std::map<std::string, std::size_t>> lastOfName(disks.size());
  DiskListing listing;
  for (std::int32_t index = 0; index < original.diskCount(); ++index) {
    Disk& disk = disks[static_cast<std::size_t>(index)];
    describeDisk(original, index, {tables, buffer.data()}, listing);
    disk.kind = listing.kind;
    disk.files = listing.files;
    disk.rooms = listing.rooms;
    walkTable(tables[0], 0, [&](const TableFile&) { ++disk.firstTableFiles; });
    const std::vector<bool> last = lastOfTheirName(disk.files);
    for (std::size_t i = 0; i < disk.files.size(); ++i) {
      disk.bytes.push_back(isWritten(disk.files[i].verdict)
                               ? chainBytes(original, buffer, disk.files[i].file)
                               : std::vector<std::uint8_t>{});
      if (last[i]) {
        lastOfName[static_cast<std::size_t>(index)][disk.files[i].file.name.data()] = i;
      }
    }
  }
  // Edits drawn from the input: changed bytes mostly, now and then a size.
  std::mt19937 random(static_cast<std::uint32_t>(
      std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(data), size))));
  if (random() % 4 == 0) {
    checkRoom(path, disks, lastOfName);
  }
  MemoryEdits edits;
  const bool resize = random() % 2 == 0;
  // The bytes of each edit, by disk and name.
  std::vector<std::map<std::string, std::vector<std::uint8_t>>> edited(disks.size());
  for (std::size_t d = 0; d < disks.size(); ++d) {
    const auto disk = static_cast<std::int32_t>(d);
    for (const auto& [name, i] : lastOfName[d]) {
      std::vector<std::uint8_t> bytes = disks[d].bytes[i];
      const std::uint32_t roll = random() % 16;
      if (roll < 4 && !bytes.empty()) {
        bytes[random() % bytes.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
      } else if (roll == 4) {
        bytes.insert(bytes.end(), resize ? 1 + random() % 600 : 1,
                     static_cast<std::uint8_t>(random()));
      } else if (roll == 5 && !bytes.empty()) {
        bytes.resize(bytes.size() - (resize ? 1 + random() % bytes.size() : 1));
      }
      edited[d][name] = bytes;
      edits.add(disk, name, std::move(bytes));
    }
    if (random() % 8 == 0) {
      edits.add(disk, "notes.txt", {1, 2, 3});
    }
  }
  PutPlan plan;
  // The fast check is an optimisation of the full one: both run on every
  // disk it concludes on, and must give the same errors.
  PlanOptions options;
  options.proveFastCheck = true;
  options.resize = resize;
  planPutBack(original, patched, edits, plan, options);
  if (plan.disagreement.found()) {
    std::fprintf(stderr, "the planner's checks disagree on disk %d\n",
                 static_cast<int>(plan.disagreement.disk));
    for (const auto* list : {&plan.disagreement.fast, &plan.disagreement.full}) {
      std::fprintf(stderr, "%s check:\n", list == &plan.disagreement.fast ? "fast" : "full");
      for (const Refusal& refusal : *list) {
        std::fprintf(stderr, "  refusal %d of %s\n", static_cast<int>(refusal.code),
                     refusal.file.c_str());
      }
    }
    std::abort();
  }
  if (plan.errors == 0) {
    const fs::path out = fuzzsupport::scratchRoot() / "out.d88";
    std::FILE* file = std::fopen(out.string().c_str(), "wb");
    FileSink sink(file);
    if (file == nullptr || !plan.image.writeTo(sink)) {
      std::abort();
    }
    std::fclose(file);
    if (!written.open(out.string().c_str()) || written.diskCount() != original.diskCount()) {
      std::abort();
    }
    // Every disk where it was, with the header it had.
    std::array<std::uint8_t, d88::kHeaderSize> before{};
    std::array<std::uint8_t, d88::kHeaderSize> after{};
    for (std::int32_t index = 0; index < written.diskCount(); ++index) {
      const std::int64_t offset = original.diskOffset(index);
      if (written.diskOffset(index) != offset ||
          original.readFileBytes(offset, before.data(), d88::kHeaderSize) !=
              written.readFileBytes(offset, after.data(), d88::kHeaderSize) ||
          before != after) {
        std::abort();
      }
    }
    // Where bytes may change: the table tracks, and the old and new extents
    // of the files put back or moved.
    std::vector<std::pair<std::int64_t, std::int64_t>> extents;
    std::vector<d88::ChainStep> steps;
    for (std::int32_t index = 0; index < written.diskCount(); ++index) {
      const Disk& disk = disks[static_cast<std::size_t>(index)];
      describeDisk(written, index, {tables, buffer.data()}, listing, kFileListOnly);
      if (listing.kind != disk.kind || listing.files.size() != disk.files.size()) {
        std::abort();
      }
      const DiskLayout& layout = layoutOf(disk.kind);
      for (const TablePlace& place : layout.tables) {
        (void)selectDisk(original, index, disk.kind);
        (void)original.locateSectors(place.track, d88::cylinderOfSlot(place.track), 0, 1, kSizeCode,
                                     kTableSize, steps);
        for (const d88::ChainStep& step : steps) {
          if (step.position >= 0) {
            extents.emplace_back(step.position, step.position + step.length);
          }
        }
      }
      for (std::size_t i = 0; i < disk.files.size(); ++i) {
        const DiskFile& was = disk.files[i].file;
        const DiskFile& now = listing.files[i].file;
        // Without --resize nothing moves; with it, only files after a
        // changed one, which the byte check below bounds.
        if (!sameFile(was, now) && !resize) {
          std::abort();
        }
        const auto& names = lastOfName[static_cast<std::size_t>(index)];
        const auto named = names.find(was.name.data());
        const bool edit =
            named != names.end() && named->second == i &&
            edited[static_cast<std::size_t>(index)].at(was.name.data()) != disk.bytes[i];
        if (edit || !sameFile(was, now)) {
          (void)selectDisk(original, index, disk.kind);
          addExtent(original, was, steps, extents);
          (void)selectDisk(written, index, disk.kind);
          addExtent(written, now, steps, extents);
        }
      }
    }
    std::sort(extents.begin(), extents.end());
    std::vector<std::uint8_t> was(64 * 1024);
    std::vector<std::uint8_t> now(was.size());
    for (std::int64_t at = 0; at < original.fileSize();
         at += static_cast<std::int64_t>(was.size())) {
      const std::int64_t count =
          original.readFileBytes(at, was.data(), static_cast<std::int64_t>(was.size()));
      if (written.readFileBytes(at, now.data(), count) != count) {
        std::abort();
      }
      for (std::int64_t i = 0; i < count; ++i) {
        if (was[static_cast<std::size_t>(i)] == now[static_cast<std::size_t>(i)]) {
          continue;
        }
        const std::int64_t position = at + i;
        const bool allowed = std::any_of(extents.begin(), extents.end(), [&](const auto& extent) {
          return position >= extent.first && position < extent.second;
        });
        if (!allowed) {
          std::fprintf(stderr, "byte %lld changed outside the extents\n",
                       static_cast<long long>(position));
          std::abort();
        }
      }
    }
    for (std::int32_t index = 0; index < written.diskCount(); ++index) {
      const Disk& disk = disks[static_cast<std::size_t>(index)];
      describeDisk(written, index, {tables, buffer.data()}, listing, kFileListOnly);
      for (std::size_t i = 0; i < disk.files.size(); ++i) {
        if (!isWritten(disk.files[i].verdict)) {
          continue;
        }
        const auto& last = lastOfName[static_cast<std::size_t>(index)];
        const bool edit = last.at(disk.files[i].file.name.data()) == i;
        const std::vector<std::uint8_t>& expected =
            edit ? edited[static_cast<std::size_t>(index)].at(disk.files[i].file.name.data())
                 : disk.bytes[i];
        if (chainBytes(written, buffer, listing.files[i].file) != expected) {
          std::abort();
        }
      }
    }
    (void)written.open(nullptr);
  }
  (void)original.open(nullptr);
  (void)patched.open(nullptr);
  return 0;
}
