#include "info/collection.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "text/d88_text.h"
#include "text/string_format.h"

using namespace disk;
using namespace format;

namespace {

// Seconds on a steady clock.
double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

constexpr double kRedrawSeconds = 0.1;
constexpr double kMegabyte = 1000.0 * 1000.0;

// The results between the workers and the writer: input i is listed into
// slot i % window once the writer has taken input i - window.
class OrderedResults {
 public:
  OrderedResults(std::size_t count, std::size_t window) : count_(count), slots_(window) {}

  // The next input to list, once there is room for its result; nothing
  // when every input is taken.
  std::optional<std::size_t> claim() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock,
                  [&] { return stopped_ || next_ >= count_ || next_ < taken_ + slots_.size(); });
    if (stopped_ || next_ >= count_) {
      return std::nullopt;
    }
    return next_++;
  }

  void put(std::size_t index, FileResult result) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      slots_[index % slots_.size()] = std::move(result);
    }
    changed_.notify_all();
  }

  // No input is claimed from now on.
  void stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
  }

  // The result of input `index` (the one after the last taken), when listed.
  FileResult take(std::size_t index) {
    FileResult result;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      std::optional<FileResult>& slot = slots_[index % slots_.size()];
      changed_.wait(lock, [&] { return slot.has_value(); });
      result = std::move(*slot);
      slot.reset();
      ++taken_;
    }
    changed_.notify_all();
    return result;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const std::size_t count_;
  std::size_t next_ = 0;
  std::size_t taken_ = 0;
  bool stopped_ = false;
  std::vector<std::optional<FileResult>> slots_;
};

}  // namespace

void listInOrder(const std::vector<Input>& inputs, std::size_t threads, std::size_t window,
                 const ListInput& list, const TakeResult& take) {
  threads = std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(inputs.size(), 1));
  if (threads == 1) {
    Reader reader;
    for (const Input& input : inputs) {
      FileResult result = list(reader, input);
      if (!take(input, result)) {
        return;
      }
    }
    return;
  }
  OrderedResults results(inputs.size(), std::max(window, threads));
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < threads; ++i) {
    workers.emplace_back([&] {
      // Each thread's own reader and buffers, for the whole run.
      const auto reader = std::make_unique<Reader>();
      while (const auto index = results.claim()) {
        results.put(*index, list(*reader, inputs[*index]));
      }
    });
  }
  for (std::size_t index = 0; index < inputs.size(); ++index) {
    FileResult result = results.take(index);
    if (!take(inputs[index], result)) {
      results.stop();
      break;
    }
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
}

Progress::Progress(std::size_t total, bool shown) : total_(total), shown_(shown), started_(now()) {}

void Progress::advance(std::int64_t bytes) {
  ++done_;
  bytes_ += bytes;
  if (shown_ && (drawnAt_ < 0 || now() - drawnAt_ >= kRedrawSeconds)) {
    draw();
  }
}

void Progress::draw() {
  drawnAt_ = now();
  const double seconds = std::max(drawnAt_ - started_, 1e-3);
  const std::string line =
      d88text::format("%u/%u files, %.1f MB, %.0f files/s", static_cast<unsigned>(done_),
                      static_cast<unsigned>(total_), static_cast<double>(bytes_) / kMegabyte,
                      static_cast<double>(done_) / seconds);
  // Spaces cover what a longer line before left.
  const std::string padding(drawnWidth_ > line.size() ? drawnWidth_ - line.size() : 0, ' ');
  d88text::writeText(stderr, "\r" + line + padding);
  drawnWidth_ = line.size();
}

void Progress::clear() {
  if (shown_ && drawnWidth_ > 0) {
    d88text::writeText(stderr, "\r" + std::string(drawnWidth_, ' ') + "\r");
    drawnWidth_ = 0;
    drawnAt_ = -1;
  }
}

void Progress::finish() {
  if (shown_) {
    draw();
    d88text::writeText(stderr, "\n");
  }
}
