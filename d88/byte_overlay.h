// Bytes laid over a file's own, as reads see them: a change to a D88 file
// that is checked by reading it before anything is written.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace d88 {

class ByteOverlay {
 public:
  // Lays bytes over the file from `position` on. A later put wins where two
  // overlap.
  void put(std::int64_t position, const std::uint8_t* bytes, std::int64_t count);
  // Gives the bytes of an outside source that putFrom laid: `count` bytes
  // from `offset` on of source `source`; false when it cannot.
  using Fetch = std::function<bool(std::uint32_t source, std::int64_t offset, std::uint8_t* dest,
                                   std::int64_t count)>;
  // Lays `count` bytes of an outside source over the file from `position`
  // on, those from `offset` on of source `source`, fetched by `fetch` when a
  // read meets them rather than held; otherwise as put.
  void putFrom(std::int64_t position, std::int64_t count, std::uint32_t source,
               std::int64_t offset);
  void setFetch(Fetch fetch) { fetch_ = std::move(fetch); }
  // Lays the file's own bytes of another place over it: `count` pieces of
  // `length` bytes, piece k read from from + k * stride and laid at
  // to + k * stride. Puts win over moves wherever both lie; moves must not
  // overlap one another.
  void move(std::int64_t to, std::int64_t from, std::int64_t length, std::int64_t stride = 0,
            std::int64_t count = 1);
  // Reads the file's own bytes, for the pieces that moves lay.
  using Source = std::function<std::int64_t(std::int64_t, std::uint8_t*, std::int64_t)>;
  // Replaces what a read of [position, position + count) got with the laid
  // bytes; returns whether any lay there.
  [[nodiscard]] bool apply(std::int64_t position, std::uint8_t* dest, std::int64_t count,
                           const Source& source = {}) const;
  // Whether any laid byte lies in [position, position + count).
  [[nodiscard]] bool touches(std::int64_t position, std::int64_t count) const;
  [[nodiscard]] bool empty() const { return spans_.empty() && moves_.empty(); }
  // How many move records it holds (runs of pieces at one stride count once).
  [[nodiscard]] std::size_t moveRecords() const { return moves_.size(); }

 private:
  struct Move {
    std::int64_t to;
    std::int64_t from;
    std::int64_t length;
    std::int64_t stride;
    std::int64_t count;
  };
  // Calls visit(piece start, source start, piece length) for the pieces of
  // moves that meet [position, position + count).
  template <typename Visit>
  void forMovedPieces(std::int64_t position, std::int64_t count, Visit&& visit) const;

  // The last end of a move's pieces.
  [[nodiscard]] static std::int64_t endOf(const Move& m) {
    return m.to + (m.count - 1) * m.stride + m.length;
  }
  // Sorts the moves by where they lay their first piece, for lookups.
  void index() const;

  std::vector<Move> moves_;  // in the order they were laid
  // By `to`, with the largest end among each and those before it: built on
  // the first lookup after a move was laid.
  mutable std::vector<Move> sorted_;
  mutable std::vector<std::int64_t> reach_;
  mutable bool indexed_ = true;
  // Laid bytes: held, or `length` bytes from `offset` on of an outside source.
  static constexpr std::int64_t kHeld = -1;
  struct Laid {
    std::vector<std::uint8_t> bytes;
    std::int64_t length = 0;
    std::int64_t source = kHeld;
    std::int64_t offset = 0;
  };
  // The part of laid bytes from `cut` on, and the part before it.
  [[nodiscard]] static Laid tailOf(const Laid& laid, std::int64_t cut);
  static void keepHead(Laid& laid, std::int64_t keep);
  void lay(std::int64_t position, Laid laid);

  // Non-overlapping spans by start; a put splits or drops what it covers.
  std::map<std::int64_t, Laid> spans_;
  Fetch fetch_;
};

}  // namespace d88
