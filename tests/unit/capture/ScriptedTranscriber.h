#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quillet-capture/transcription/Transcriber.h"

namespace quillet::capture::testing {

// A transcriber a source test scripts: it answers its start as told, notes every buffer's first sample
// and frame count, and can hold its start open.
class ScriptedTranscriber final : public Transcriber {
 public:
  void start(Speaker speaker, std::string locale, StartCompletion completion) override {
    startedAs = {speaker, std::move(locale)};
    if (holdStart) {
      heldStart = std::move(completion);
      return;
    }
    completion(startFailure);
  }
  void consume(const platform::AudioBuffer& buffer) override {
    firstSamples.push_back(buffer.channels.empty() || buffer.frameCount == 0 ? 0.0F : buffer.channels.front()[0]);
    frames += buffer.frameCount;
  }
  void stop(StopCompletion completion) override {
    ++stops;
    completion();
  }

  Expected<void, CaptureError> startFailure;
  // With holdStart, the start answers only when the test calls heldStart.
  bool holdStart = false;
  StartCompletion heldStart;
  std::optional<std::pair<Speaker, std::string>> startedAs;
  std::vector<float> firstSamples;
  std::size_t frames = 0;
  int stops = 0;
};

}  // namespace quillet::capture::testing
