#include "quillet-dictate/waveform/WaveState.h"

#include "common/runtime/Weakly.h"

namespace quillet::dictate {

namespace {

// 2001-01-01 00:00:00 UTC on the Unix time line.
constexpr std::chrono::system_clock::time_point kReferenceDate{std::chrono::seconds(978307200)};

}  // namespace

std::shared_ptr<WaveState> WaveState::create(platform::MainLoop& mainLoop, const platform::Clock& clock) {
  std::shared_ptr<WaveState> state(new WaveState(clock));
  state->timer_ = mainLoop.every(kTickInterval, weakly(state, [](WaveState& target) { target.tick(); }));
  return state;
}

WaveState::WaveState(const platform::Clock& clock)
    : now(secondsSinceReferenceDate(clock.wallNow())), clock_(clock) {}

WaveState::~WaveState() { timer_.cancel(); }

double WaveState::secondsSinceReferenceDate(std::chrono::system_clock::time_point wallTime) {
  return std::chrono::duration<double>(wallTime - kReferenceDate).count();
}

void WaveState::tick() { now.set(secondsSinceReferenceDate(clock_.wallNow())); }

}  // namespace quillet::dictate
