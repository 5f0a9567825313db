#include "platform/fake/VirtualMainLoop.h"

#include <algorithm>
#include <cmath>

namespace quillet::platform::fake {

namespace {

std::chrono::nanoseconds toNanoseconds(double seconds) {
  return std::chrono::nanoseconds(std::llround(std::max(seconds, 0.0) * 1e9));
}

// A repeating timer of zero interval would never let virtual time move on.
constexpr std::chrono::nanoseconds kShortestRepeat = std::chrono::milliseconds(1);

}  // namespace

std::chrono::system_clock::time_point VirtualMainLoop::defaultWallStart() {
  // 2026-01-15 12:00:00 UTC: a fixed instant keeps test output repeatable.
  return std::chrono::system_clock::time_point(std::chrono::seconds(1768478400));
}

VirtualMainLoop::VirtualMainLoop(std::chrono::system_clock::time_point wallStart) : wallStart_(wallStart) {}

void VirtualMainLoop::post(Block block) {
  {
    std::lock_guard lock(mutex_);
    postedBlocks_.push_back(std::move(block));
  }
  posted_.notify_all();
}

Timer VirtualMainLoop::after(double seconds, Block block) { return schedule(seconds, std::move(block), false); }

Timer VirtualMainLoop::every(double seconds, Block block) { return schedule(seconds, std::move(block), true); }

Timer VirtualMainLoop::schedule(double seconds, Block block, bool repeating) {
  auto state = std::make_shared<Timer::State>();
  auto delay = toNanoseconds(seconds);
  if (repeating) delay = std::max(delay, kShortestRepeat);
  std::lock_guard lock(mutex_);
  timers_.emplace(DueKey{now_ + delay, ++sequence_},
                  ScheduledBlock{state, std::move(block), repeating ? delay : std::chrono::nanoseconds(0)});
  return Timer(state);
}

void VirtualMainLoop::quit(int status) {
  {
    std::lock_guard lock(mutex_);
    quitRequested_ = true;
    quitStatus_ = status;
  }
  posted_.notify_all();
}

std::chrono::nanoseconds VirtualMainLoop::monotonicNow() const {
  std::lock_guard lock(mutex_);
  return now_;
}

std::chrono::system_clock::time_point VirtualMainLoop::wallNow() const {
  return wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(monotonicNow());
}

bool VirtualMainLoop::runOnePosted() {
  Block block;
  {
    std::lock_guard lock(mutex_);
    if (postedBlocks_.empty()) return false;
    block = std::move(postedBlocks_.front());
    postedBlocks_.pop_front();
  }
  block();
  return true;
}

void VirtualMainLoop::runAllPosted() {
  while (runOnePosted()) {
  }
}

bool VirtualMainLoop::fireNextTimer(std::chrono::nanoseconds limit) {
  ScheduledBlock fired;
  {
    std::lock_guard lock(mutex_);
    auto next = timers_.begin();
    while (next != timers_.end() && next->second.state->cancelled) next = timers_.erase(next);
    if (next == timers_.end() || next->first.first > limit) return false;
    now_ = std::max(now_, next->first.first);
    fired = std::move(next->second);
    timers_.erase(next);
  }
  if (fired.interval.count() == 0) fired.state->finished = true;
  fired.block();
  if (fired.interval.count() > 0 && !fired.state->cancelled) {
    std::lock_guard lock(mutex_);
    timers_.emplace(DueKey{now_ + fired.interval, ++sequence_}, std::move(fired));
  }
  return true;
}

bool VirtualMainLoop::hasLiveTimer(std::chrono::nanoseconds* earliest) const {
  std::lock_guard lock(mutex_);
  for (const auto& [key, scheduled] : timers_) {
    if (!scheduled.state->cancelled) {
      if (earliest) *earliest = key.first;
      return true;
    }
  }
  return false;
}

void VirtualMainLoop::runPending() {
  for (;;) {
    runAllPosted();
    if (!fireNextTimer(monotonicNow())) break;
  }
  runAllPosted();
}

void VirtualMainLoop::advance(double seconds) {
  const auto target = monotonicNow() + toNanoseconds(seconds);
  for (;;) {
    runAllPosted();
    if (!fireNextTimer(target)) break;
  }
  {
    std::lock_guard lock(mutex_);
    now_ = std::max(now_, target);
  }
  runAllPosted();
}

bool VirtualMainLoop::runUntil(const std::function<bool()>& condition, std::chrono::milliseconds realWait) {
  const auto deadline = std::chrono::steady_clock::now() + realWait;
  for (;;) {
    runPending();
    if (condition()) return true;
    std::unique_lock lock(mutex_);
    if (!posted_.wait_until(lock, deadline, [this] { return !postedBlocks_.empty(); })) {
      lock.unlock();
      return condition();
    }
  }
}

int VirtualMainLoop::run() {
  for (;;) {
    runAllPosted();
    if (quitRequested()) return quitStatus();
    std::chrono::nanoseconds earliest{0};
    if (hasLiveTimer(&earliest)) {
      fireNextTimer(earliest);
      continue;
    }
    std::unique_lock lock(mutex_);
    if (!posted_.wait_for(lock, idleLimit, [this] { return !postedBlocks_.empty() || quitRequested_; })) return -1;
  }
}

std::size_t VirtualMainLoop::activeTimerCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(timers_.begin(), timers_.end(), [](const auto& entry) { return !entry.second.state->cancelled; }));
}

bool VirtualMainLoop::quitRequested() const {
  std::lock_guard lock(mutex_);
  return quitRequested_;
}

int VirtualMainLoop::quitStatus() const {
  std::lock_guard lock(mutex_);
  return quitStatus_;
}

}  // namespace quillet::platform::fake
