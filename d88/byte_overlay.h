// Bytes laid over a file's own, as reads see them: a change to a D88 file
// that is checked by reading it before anything is written.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace d88 {

class ByteOverlay {
 public:
  // Lays bytes over the file from `position` on. A later put wins where two
  // overlap.
  void put(std::int64_t position, const std::uint8_t* bytes, std::int64_t count);
  // Replaces what a read of [position, position + count) got with the laid
  // bytes; returns whether any lay there.
  [[nodiscard]] bool apply(std::int64_t position, std::uint8_t* dest, std::int64_t count) const;
  // Whether any laid byte lies in [position, position + count).
  [[nodiscard]] bool touches(std::int64_t position, std::int64_t count) const;
  [[nodiscard]] bool empty() const { return spans_.empty(); }

 private:
  // Non-overlapping spans by start; a put splits or drops what it covers.
  std::map<std::int64_t, std::vector<std::uint8_t>> spans_;
};

}  // namespace d88
