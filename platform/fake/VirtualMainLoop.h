#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/Clock.h"
#include "platform/MainLoop.h"

namespace quillet::platform::fake {

// A main loop on virtual time: timers fire when the test advances the clock,
// so a two-hour limit is checked in microseconds. It is also the clock the code under test reads.
class VirtualMainLoop final : public MainLoop, public Clock {
 public:
  explicit VirtualMainLoop(std::chrono::system_clock::time_point wallStart = defaultWallStart());

  void post(Block block) override;
  Timer after(double seconds, Block block) override;
  Timer every(double seconds, Block block) override;
  // Runs until quit(), jumping virtual time to each next timer; answers -1 when nothing
  // is left to run and no other thread posts anything within `idleLimit` of real time.
  int run() override;
  void quit(int status) override;

  std::chrono::nanoseconds monotonicNow() const override;
  std::chrono::system_clock::time_point wallNow() const override;

  // Moves virtual time forward by `seconds`, running every block and timer that falls due, in order.
  void advance(double seconds);

  // Runs the posted blocks and the timers due at the current virtual time.
  void runPending();

  // Runs blocks posted from any thread (without moving virtual time) until `condition`
  // holds; answers false if it still does not after `realWait` of real time.
  bool runUntil(const std::function<bool()>& condition,
                std::chrono::milliseconds realWait = std::chrono::seconds(10));

  [[nodiscard]] double now() const { return std::chrono::duration<double>(monotonicNow()).count(); }
  [[nodiscard]] std::size_t activeTimerCount() const;
  [[nodiscard]] bool quitRequested() const;
  [[nodiscard]] int quitStatus() const;

  std::chrono::milliseconds idleLimit{std::chrono::seconds(10)};

  static std::chrono::system_clock::time_point defaultWallStart();

 private:
  struct ScheduledBlock {
    std::shared_ptr<Timer::State> state;
    Block block;
    std::chrono::nanoseconds interval{0};  // zero for one-shot timers
  };
  using DueKey = std::pair<std::chrono::nanoseconds, std::uint64_t>;

  Timer schedule(double seconds, Block block, bool repeating);
  bool runOnePosted();
  void runAllPosted();
  // Fires the earliest live timer due at or before `limit`; answers false if there is none.
  bool fireNextTimer(std::chrono::nanoseconds limit);
  bool hasLiveTimer(std::chrono::nanoseconds* earliest) const;

  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<Block> postedBlocks_;
  std::multimap<DueKey, ScheduledBlock> timers_;
  std::uint64_t sequence_ = 0;
  std::chrono::nanoseconds now_{0};
  std::chrono::system_clock::time_point wallStart_;
  bool quitRequested_ = false;
  int quitStatus_ = 0;
};

}  // namespace quillet::platform::fake
