// The changed D88 file of a put-back: the original's bytes with the laid
// edits and moves over them, read through a second opening of the file, and
// written whole to a byte sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "d88/byte_overlay.h"
#include "d88/d88_image.h"
#include "disk/edit_source.h"

namespace disk {

// Where a written image's bytes go, in order.
class ByteSink {
 public:
  ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;
  virtual ~ByteSink() = default;
  // False when the bytes could not be taken.
  [[nodiscard]] virtual bool write(const std::uint8_t* bytes, std::size_t count) = 0;
};

// The bytes, to an open file.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  [[nodiscard]] bool write(const std::uint8_t* bytes, std::size_t count) override {
    return std::fwrite(bytes, 1, count, file_) == count;
  }

 private:
  std::FILE* file_;
};

// The edits put back, as the overlay lays them: of each its size and hash
// are kept, and its bytes are read again from the edit source when a read
// meets them, one edit in memory at a time.
class LaidEdits {
 public:
  // Records an edit read whole, whose bytes are then the ones held; returns
  // its number, the overlay's source.
  std::uint32_t add(std::int32_t disk, const std::string& name, const std::string& shown,
                    std::vector<std::uint8_t> bytes);
  // The bytes of edit `id`, read again from `source` unless they are held;
  // null, with changed() naming it, when the edit is no longer the one
  // compared.
  [[nodiscard]] const std::vector<std::uint8_t>* bytesOf(EditSource& source, std::uint32_t id);
  // The overlay's fetch: `count` bytes of edit `id` from `offset` on.
  [[nodiscard]] bool fetch(EditSource& source, std::uint32_t id, std::int64_t offset,
                           std::uint8_t* dest, std::int64_t count);
  // The first edit that changed since it was laid ("000/S101"); empty while none did.
  [[nodiscard]] const std::string& changed() const { return changed_; }

 private:
  struct Edit {
    std::int32_t disk;
    std::string name;
    std::string shown;
    std::size_t size;
    std::size_t hash;
  };
  std::vector<Edit> edits_;
  std::int64_t held_ = -1;
  std::vector<std::uint8_t> bytes_;
  std::string changed_;
};

// The overlay and the edits it lays, over `patched`, the D88 file opened a
// second time; bound to its images by planPutBack, and kept where it was bound.
class PatchedImage {
 public:
  PatchedImage() = default;
  PatchedImage(const PatchedImage&) = delete;
  PatchedImage& operator=(const PatchedImage&) = delete;

  // Reads the edits from `edits`, which must outlive the reads.
  void bind(d88::D88Image& original, d88::D88Image& patched, EditSource& edits);
  [[nodiscard]] d88::ByteOverlay& overlay() { return overlay_; }
  [[nodiscard]] const d88::ByteOverlay& overlay() const { return overlay_; }
  [[nodiscard]] LaidEdits& laid() { return laid_; }
  [[nodiscard]] const LaidEdits& laid() const { return laid_; }
  // The patched opening, reading through the overlay.
  [[nodiscard]] d88::D88Image& image() { return *patched_; }
  // Writes the whole changed file to `sink`; false when a read, the sink or
  // an edit (changed since it was laid) fails.
  [[nodiscard]] bool writeTo(ByteSink& sink);
  // Closes both openings, for a writer that must before it replaces the file.
  void release();

 private:
  d88::D88Image* original_ = nullptr;
  d88::D88Image* patched_ = nullptr;
  EditSource* edits_ = nullptr;
  d88::ByteOverlay overlay_;
  LaidEdits laid_;
};

}  // namespace disk
