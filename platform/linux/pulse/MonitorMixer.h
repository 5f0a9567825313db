#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "platform/AudioInput.h"

namespace quillet::platform::pulse {

// Mixes several recordings that run on the same clock (the monitors of one application's streams) into one.
// Each input queues what it delivered; a block is mixed once the fullest input holds one, or two while several
// inputs run, which leaves the others one block of slack to deliver their part before it is mixed. An input
// that delivered nothing (its stream is paused) adds silence.
class MonitorMixer {
 public:
  using Deliver = std::function<void(const AudioBuffer& buffer)>;

  MonitorMixer(AudioFormat format, std::size_t blockFrames);

  void addInput(std::uint32_t key);
  // What the input still holds is mixed into the coming blocks; then it is gone.
  void removeInput(std::uint32_t key);
  [[nodiscard]] bool hasInput(std::uint32_t key) const;
  // Whether any input holds audio not yet mixed.
  [[nodiscard]] bool holdsAudio() const { return fullestFrames() > 0; }

  // Queues `frames` interleaved frames of `key`; null `samples` stands for silence (a hole in the recording).
  // An input queueing far ahead of the others (a sink with a faster clock) loses its oldest audio past a second.
  void append(std::uint32_t key, const float* samples, std::size_t frames);

  // Hands every block that is ready to `deliver`.
  void mixReady(const Deliver& deliver);
  // Hands over everything still queued, in blocks.
  void flush(const Deliver& deliver);

 private:
  struct Input {
    std::vector<float> queued;  // interleaved
    bool leaving = false;
  };

  [[nodiscard]] std::size_t fullestFrames() const;
  [[nodiscard]] std::size_t runningInputs() const;
  void mixBlock(std::size_t frames, const Deliver& deliver);

  const AudioFormat format_;
  const std::size_t channels_;
  const std::size_t blockFrames_;
  std::map<std::uint32_t, Input> inputs_;
  std::vector<std::vector<float>> mixed_;
  AudioBuffer delivery_;
};

}  // namespace quillet::platform::pulse
