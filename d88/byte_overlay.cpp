#include "byte_overlay.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace d88 {

void ByteOverlay::put(std::int64_t position, const std::uint8_t* bytes, std::int64_t count) {
  if (count <= 0) {
    return;
  }
  const std::int64_t end = position + count;
  // The span that starts before the new one and reaches into it keeps its head
  // (and its tail, past the new span's end).
  auto it = spans_.lower_bound(position);
  if (it != spans_.begin()) {
    auto before = std::prev(it);
    const std::int64_t beforeEnd = before->first + static_cast<std::int64_t>(before->second.size());
    if (beforeEnd > position) {
      if (beforeEnd > end) {
        spans_[end] = std::vector<std::uint8_t>(before->second.begin() + (end - before->first),
                                                before->second.end());
      }
      before->second.resize(static_cast<std::size_t>(position - before->first));
    }
  }
  // Spans starting inside the new one are dropped, but for a tail past its end.
  it = spans_.lower_bound(position);
  while (it != spans_.end() && it->first < end) {
    const std::int64_t spanEnd = it->first + static_cast<std::int64_t>(it->second.size());
    if (spanEnd > end) {
      spans_[end] =
          std::vector<std::uint8_t>(it->second.begin() + (end - it->first), it->second.end());
    }
    it = spans_.erase(it);
  }
  spans_[position] = std::vector<std::uint8_t>(bytes, bytes + count);
}

bool ByteOverlay::touches(std::int64_t position, std::int64_t count) const {
  if (count <= 0) {
    return false;
  }
  // The span starting at or after the position, or the one before it that
  // may reach into the range.
  auto it = spans_.lower_bound(position);
  if (it != spans_.end() && it->first < position + count) {
    return true;
  }
  if (it == spans_.begin()) {
    return false;
  }
  --it;
  return it->first + static_cast<std::int64_t>(it->second.size()) > position;
}

bool ByteOverlay::apply(std::int64_t position, std::uint8_t* dest, std::int64_t count) const {
  if (count <= 0 || spans_.empty()) {
    return false;
  }
  bool applied = false;
  const std::int64_t end = position + count;
  auto it = spans_.upper_bound(position);
  if (it != spans_.begin()) {
    --it;
  }
  for (; it != spans_.end() && it->first < end; ++it) {
    const std::int64_t from = std::max(position, it->first);
    const std::int64_t to = std::min(end, it->first + static_cast<std::int64_t>(it->second.size()));
    if (from < to) {
      std::memcpy(dest + (from - position), it->second.data() + (from - it->first),
                  static_cast<std::size_t>(to - from));
      applied = true;
    }
  }
  return applied;
}

}  // namespace d88
