#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "quillet-capture/program/EmitAndWait.h"
#include "quillet-capture/protocol/Event.h"

namespace quillet::capture::testing {

// Stands in for the event writer of the on-device transcribers: keeps the chunk events in the order they
// were handed over and tells each producer at once that its event is written, unless the test holds writes.
class RecordedChunks {
 public:
  // The writer of transcribers that wait for their events.
  EmitAndWait waitingWriter() {
    return [this](Event event, std::function<void()> written) { take(std::move(event), std::move(written)); };
  }

  // The writer of transcribers that do not wait.
  std::function<void(Event)> writer() {
    return [this](Event event) { take(std::move(event), {}); };
  }

  [[nodiscard]] std::vector<Chunk> chunks() const {
    std::lock_guard lock(mutex_);
    return chunks_;
  }

  // Waits (in real time, generously) until at least `count` chunks arrived.
  bool waitForCount(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return chunks_.size() >= count; });
  }

  // Writes from now on are held: producers that wait stay blocked until release().
  void holdWrites() {
    std::lock_guard lock(mutex_);
    holding_ = true;
  }

  // Tells every held producer that its event is written, and stops holding.
  void release() {
    std::vector<std::function<void()>> held;
    {
      std::lock_guard lock(mutex_);
      holding_ = false;
      held.swap(held_);
    }
    for (auto& written : held) written();
  }

 private:
  void take(Event event, std::function<void()> written) {
    {
      std::lock_guard lock(mutex_);
      const auto* chunk = std::get_if<Chunk>(&event.payload());
      EXPECT_NE(chunk, nullptr) << "only chunk events are expected";
      if (chunk != nullptr) chunks_.push_back(*chunk);
      if (holding_ && written) {
        held_.push_back(std::move(written));
        written = nullptr;
      }
    }
    changed_.notify_all();
    if (written) written();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Chunk> chunks_;
  bool holding_ = false;
  std::vector<std::function<void()>> held_;
};

// Runs launched work at once, on the caller's thread, so that a test decides when it happens.
inline void runAtOnce(std::function<void()> work) { work(); }

}  // namespace quillet::capture::testing
