#include "quillet-dictate/audio/FileAudioInput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "common/audio/WavFormat.h"
#include "common/runtime/Weakly.h"
#include "platform/linux/sndfile/SndfileAudioFiles.h"

namespace quillet::dictate {
namespace {

std::unique_ptr<FileAudioInput> inputOfSeconds(double seconds) {
  const std::vector<std::int16_t> samples(std::size_t(16000 * seconds), 1000);
  auto file = platform::sndfile::SndfileAudioFiles().openBytes(audio::WavFormat::buildWAVFromSamples(samples));
  return std::make_unique<FileAudioInput>(std::move(file).value(), FileAudioInput::Pace::asFastAsPossible);
}

// What owns a tap, as the streamer does: its tap holds it weakly, and ending it removes the tap.
struct TapOwner {
  explicit TapOwner(FileAudioInput& tapped) : input(tapped) {}
  ~TapOwner() { input.removeTap(); }
  FileAudioInput& input;
};

// The owner's last reference may go while a buffer is being handed over, so the owner ends on the input's
// thread and removes the tap from inside the call: that must neither deadlock nor hold up the input's end.
TEST(FileAudioInputTest, ATapRemovedFromInsideItsOwnCallEndsCleanly) {
  auto input = inputOfSeconds(2);
  auto owner = std::make_shared<TapOwner>(*input);
  std::atomic<bool> inCall{false};
  std::atomic<bool> ownerReleased{false};
  std::atomic<int> calls{0};
  input->installTap(1600, weakly(owner, [&](TapOwner&, const platform::AudioBuffer&) {
    ++calls;
    inCall = true;
    while (!ownerReleased) std::this_thread::yield();
  }));
  ASSERT_EQ(input->start(), succeeded());
  while (!inCall) std::this_thread::yield();
  owner.reset();
  ownerReleased = true;

  auto ending = std::async(std::launch::async, [&] { input.reset(); });
  EXPECT_EQ(ending.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the input deadlocked";
  ending.wait();
  EXPECT_EQ(calls.load(), 1) << "the tap was called after its owner removed it";
}

// Removed from another thread, the tap is not called once removeTap has returned, even mid-file.
TEST(FileAudioInputTest, NoTapCallFollowsRemoveTap) {
  auto input = inputOfSeconds(20);
  std::atomic<bool> removed{false};
  std::atomic<int> callsAfterRemoval{0};
  std::atomic<int> calls{0};
  input->installTap(160, [&](const platform::AudioBuffer&) {
    ++calls;
    if (removed) ++callsAfterRemoval;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  });
  ASSERT_EQ(input->start(), succeeded());
  while (calls < 5) std::this_thread::yield();
  input->removeTap();
  removed = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  input->stop();
  EXPECT_EQ(callsAfterRemoval.load(), 0);
}

}  // namespace
}  // namespace quillet::dictate
