#include "disk/patched_image.h"

#include <algorithm>
#include <string_view>

namespace disk {

namespace {

// Large enough for reads that bypass the reader's blocks, small enough to
// keep the memory of a copy low: the copy holds two.
constexpr std::int64_t kCopyBlock = 32 * 1024;

std::size_t hashOf(const std::vector<std::uint8_t>& bytes) {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace

std::uint32_t LaidEdits::add(std::int32_t disk, const std::string& name, const std::string& shown,
                             std::vector<std::uint8_t> bytes) {
  edits_.push_back({disk, name, shown, bytes.size(), hashOf(bytes)});
  held_ = static_cast<std::int64_t>(edits_.size() - 1);
  bytes_ = std::move(bytes);
  return static_cast<std::uint32_t>(held_);
}

const std::vector<std::uint8_t>* LaidEdits::bytesOf(EditSource& source, std::uint32_t id) {
  // Only an edit that was laid has a number.
  if (id >= edits_.size()) {
    return nullptr;
  }
  if (held_ == std::int64_t{id}) {
    return &bytes_;
  }
  const Edit& edit = edits_[id];
  held_ = -1;
  bytes_.resize(edit.size);
  if (!source.read(edit.disk, edit.name, bytes_) || hashOf(bytes_) != edit.hash) {
    if (changed_.empty()) {
      changed_ = edit.shown;
    }
    return nullptr;
  }
  held_ = id;
  return &bytes_;
}

bool LaidEdits::fetch(EditSource& source, std::uint32_t id, std::int64_t offset, std::uint8_t* dest,
                      std::int64_t count) {
  const std::vector<std::uint8_t>* bytes = bytesOf(source, id);
  // A range past the edit's end lies nowhere in it.
  if (bytes == nullptr || offset < 0 || count < 0 ||
      offset + count > static_cast<std::int64_t>(bytes->size())) {
    return false;
  }
  std::copy_n(bytes->begin() + offset, count, dest);
  return true;
}

void PatchedImage::bind(d88::D88Image& original, d88::D88Image& patched, EditSource& edits) {
  original_ = &original;
  patched_ = &patched;
  edits_ = &edits;
  overlay_.setFetch(
      [this](std::uint32_t id, std::int64_t offset, std::uint8_t* dest, std::int64_t count) {
        return laid_.fetch(*edits_, id, offset, dest, count);
      });
}

bool PatchedImage::writeTo(ByteSink& sink) {
  // The file's own bytes, block by block, with the overlay applied to a
  // copy: a moved piece mostly comes from the block at hand, so that the
  // file is read about once.
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(kCopyBlock));
  std::vector<std::uint8_t> block(raw.size());
  const std::int64_t size = original_->fileSize();
  for (std::int64_t position = 0; position < size; position += kCopyBlock) {
    const std::int64_t count = std::min(kCopyBlock, size - position);
    if (original_->readFileBytes(position, raw.data(), count) != count) {
      return false;
    }
    // A block that no laid byte meets goes out as it was read.
    const bool laid = overlay_.touches(position, count);
    if (laid) {
      std::copy_n(raw.begin(), count, block.begin());
      const auto source = [&](std::int64_t from, std::uint8_t* to, std::int64_t length) {
        if (from >= position && from + length <= position + count) {
          std::copy_n(raw.begin() + (from - position), length, to);
          return length;
        }
        return original_->readFileBytes(from, to, length);
      };
      (void)overlay_.apply(position, block.data(), count, source);
    }
    if (!sink.write((laid ? block : raw).data(), static_cast<std::size_t>(count))) {
      return false;
    }
  }
  // An edit that changed while it was copied fails the copy: what it would
  // write is not what was checked.
  return laid_.changed().empty();
}

void PatchedImage::release() {
  (void)original_->open(nullptr);
  (void)patched_->open(nullptr);
}

}  // namespace disk
