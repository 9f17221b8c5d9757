#include "d88/byte_overlay.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

namespace d88 {

ByteOverlay::Laid ByteOverlay::tailOf(const Laid& laid, std::int64_t cut) {
  if (laid.source == kHeld) {
    return {std::vector<std::uint8_t>(laid.bytes.begin() + cut, laid.bytes.end()),
            laid.length - cut, kHeld, 0};
  }
  return {{}, laid.length - cut, laid.source, laid.offset + cut};
}

void ByteOverlay::keepHead(Laid& laid, std::int64_t keep) {
  if (laid.source == kHeld) {
    laid.bytes.resize(static_cast<std::size_t>(keep));
  }
  laid.length = keep;
}

void ByteOverlay::put(std::int64_t position, const std::uint8_t* bytes, std::int64_t count) {
  if (count > 0) {
    lay(position, {std::vector<std::uint8_t>(bytes, bytes + count), count, kHeld, 0});
  }
}

void ByteOverlay::putFrom(std::int64_t position, std::int64_t count, std::uint32_t source,
                          std::int64_t offset) {
  if (count > 0) {
    lay(position, {{}, count, std::int64_t{source}, offset});
  }
}

void ByteOverlay::lay(std::int64_t position, Laid laid) {
  const std::int64_t end = position + laid.length;
  // The span that starts before the new one and reaches into it keeps its head
  // (and its tail, past the new span's end).
  auto it = spans_.lower_bound(position);
  if (it != spans_.begin()) {
    auto before = std::prev(it);
    const std::int64_t beforeEnd = before->first + before->second.length;
    if (beforeEnd > position) {
      if (beforeEnd > end) {
        spans_[end] = tailOf(before->second, end - before->first);
      }
      keepHead(before->second, position - before->first);
    }
  }
  // Spans starting inside the new one are dropped, but for a tail past its end.
  it = spans_.lower_bound(position);
  while (it != spans_.end() && it->first < end) {
    const std::int64_t spanEnd = it->first + it->second.length;
    if (spanEnd > end) {
      spans_[end] = tailOf(it->second, end - it->first);
    }
    it = spans_.erase(it);
  }
  spans_[position] = std::move(laid);
}

void ByteOverlay::move(std::int64_t to, std::int64_t from, std::int64_t length, std::int64_t stride,
                       std::int64_t count) {
  if (length <= 0 || count <= 0) {
    return;
  }
  // A piece that follows one of the last two moves at its stride extends it:
  // a move of many sectors laid out evenly in the file, whose pieces
  // alternate between two lengths, stays two records.
  for (std::size_t back = 1; count == 1 && back <= std::min<std::size_t>(2, moves_.size());
       ++back) {
    Move& last = moves_[moves_.size() - back];
    if (last.length != length) {
      continue;
    }
    const std::int64_t step = to - last.to;
    if (last.count == 1 && step >= length && from - last.from == step) {
      last.stride = step;
      last.count = 2;
      indexed_ = false;
      return;
    }
    if (last.count > 1 && to == last.to + last.count * last.stride &&
        from == last.from + last.count * last.stride) {
      ++last.count;
      indexed_ = false;
      return;
    }
  }
  moves_.push_back({to, from, length, count > 1 ? stride : 0, count});
  indexed_ = false;
}

void ByteOverlay::index() const {
  if (indexed_) {
    return;
  }
  sorted_ = moves_;
  std::sort(sorted_.begin(), sorted_.end(),
            [](const Move& a, const Move& b) { return a.to < b.to; });
  reach_.clear();
  std::int64_t reach = INT64_MIN;
  for (const Move& m : sorted_) {
    reach = std::max(reach, endOf(m));
    reach_.push_back(reach);
  }
  indexed_ = true;
}

template <typename Visit>
void ByteOverlay::forMovedPieces(std::int64_t position, std::int64_t count, Visit&& visit) const {
  const std::int64_t end = position + count;
  index();
  // The moves that start before the range's end, from the last back while
  // one of them or an earlier one reaches into the range.
  const auto past = std::lower_bound(sorted_.begin(), sorted_.end(), end,
                                     [](const Move& m, std::int64_t at) { return m.to < at; });
  for (auto i = static_cast<std::size_t>(past - sorted_.begin());
       i-- > 0 && reach_[i] > position;) {
    const Move& m = sorted_[i];
    if (endOf(m) <= position) {
      continue;
    }
    // Pieces k with to + k * stride < end and to + k * stride + length > position.
    std::int64_t first = 0;
    std::int64_t last = m.count - 1;
    if (m.stride > 0) {
      first = std::max<std::int64_t>(0, (position - m.to - m.length) / m.stride);
      last = std::min(last, (end - 1 - m.to) / m.stride);
    }
    for (std::int64_t k = first; k <= last && k >= 0; ++k) {
      const std::int64_t at = m.to + k * m.stride;
      const std::int64_t from = std::max(position, at);
      const std::int64_t to = std::min(end, at + m.length);
      if (from < to) {
        visit(from, m.from + k * m.stride + (from - at), to - from);
      }
    }
  }
}

bool ByteOverlay::touches(std::int64_t position, std::int64_t count) const {
  if (count <= 0) {
    return false;
  }
  bool moved = false;
  forMovedPieces(position, count, [&](std::int64_t, std::int64_t, std::int64_t) { moved = true; });
  if (moved) {
    return true;
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
  return it->first + it->second.length > position;
}

bool ByteOverlay::apply(std::int64_t position, std::uint8_t* dest, std::int64_t count,
                        const Source& source) const {
  if (count <= 0 || empty()) {
    return false;
  }
  bool applied = false;
  forMovedPieces(position, count, [&](std::int64_t at, std::int64_t from, std::int64_t length) {
    // A source that cannot give the bytes leaves zeros: the check that reads
    // the result then finds them wrong.
    std::uint8_t* piece = dest + (at - position);
    const std::int64_t got = source ? source(from, piece, length) : 0;
    std::fill(piece + std::max<std::int64_t>(got, 0), piece + length, std::uint8_t{0});
    applied = true;
  });
  const std::int64_t end = position + count;
  auto it = spans_.upper_bound(position);
  if (it != spans_.begin()) {
    --it;
  }
  for (; it != spans_.end() && it->first < end; ++it) {
    const std::int64_t from = std::max(position, it->first);
    const Laid& laid = it->second;
    const std::int64_t to = std::min(end, it->first + laid.length);
    if (from >= to) {
      continue;
    }
    std::uint8_t* piece = dest + (from - position);
    if (laid.source == kHeld) {
      std::memcpy(piece, laid.bytes.data() + (from - it->first),
                  static_cast<std::size_t>(to - from));
    } else if (!fetch_ || !fetch_(static_cast<std::uint32_t>(laid.source),
                                  laid.offset + (from - it->first), piece, to - from)) {
      // Bytes the source no longer gives read as zeros, as a move's do.
      std::fill(piece, piece + (to - from), std::uint8_t{0});
    }
    applied = true;
  }
  return applied;
}

}  // namespace d88
