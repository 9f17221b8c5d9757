// Putting edited files back: which files of a folder differ from what
// d88extract -a writes, where their bytes go in the D88 file, and whether the
// changed file still holds every disk and file as before.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "byte_overlay.h"
#include "d88_image.h"

struct PutRequest {
  std::filesystem::path folder;
  // With a disk number the folder holds that disk's files itself (as
  // d88extract -d writes them); without, one folder per disk, 000 to 063.
  std::optional<std::int32_t> disk;
};

// A file put back, as its line reports it.
struct PutLine {
  std::string name;
  std::int32_t disk = 0;
  std::int32_t track = 0;
  std::int32_t r = 0;
  std::int32_t offset = 0;
  std::int32_t size = 0;
};

struct PutPlan {
  std::vector<PutLine> putBack;  // in disk and name order
  std::int32_t unchanged = 0;
  std::int32_t ignored = 0;
  std::int32_t errors = 0;
  std::vector<std::string> messages;  // for standard error, in order: notices and errors
  d88::ByteOverlay overlay;           // the changed bytes, by file position
};

// Compares the folder with the disks of `original` and lays every change
// over `patched` (the same D88 file opened a second time), then checks the
// result by reading `patched`: the same kind and files on every disk, every
// file put back reads back as the folder's bytes, every other file as before.
// The plan is sound when it has no errors.
void planPutBack(d88::D88Image& original, d88::D88Image& patched, const PutRequest& request,
                 PutPlan& plan);

// What a put-back prints on standard output: one line per file put back,
// then the summary, marked as a dry run when nothing is written.
[[nodiscard]] std::string putReport(const PutPlan& plan, bool dryRun);

// Writes the D88 file as `patched` reads it, overlay included, to `out`.
[[nodiscard]] bool copyPatched(d88::D88Image& patched, std::FILE* out);
