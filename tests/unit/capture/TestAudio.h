#pragma once

#include <cstddef>
#include <vector>

#include "platform/AudioInput.h"

namespace quillet::capture::testing {

// Source audio for a transcriber: one sample vector per channel, and the buffer view a source hands out.
struct TestAudio {
  double sampleRate = 16000;
  std::vector<std::vector<float>> channels;

  // `frames` frames at `sampleRate` whose channels hold the constant values `levels`, one per channel.
  static TestAudio constant(double sampleRate, std::size_t frames, std::vector<float> levels) {
    TestAudio audio{sampleRate, {}};
    for (const float level : levels) audio.channels.emplace_back(frames, level);
    return audio;
  }

  // `milliseconds` of 16 kHz mono audio at `level`.
  static TestAudio mono16k(std::size_t milliseconds, float level) {
    return constant(16000, milliseconds * 16, {level});
  }

  [[nodiscard]] platform::AudioBuffer buffer() const {
    platform::AudioBuffer view;
    for (const auto& channel : channels) view.channels.push_back(channel.data());
    view.frameCount = channels.empty() ? 0 : channels.front().size();
    view.format = {sampleRate, int(channels.size())};
    return view;
  }
};

}  // namespace quillet::capture::testing
