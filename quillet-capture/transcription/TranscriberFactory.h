#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillet-capture/protocol/Capabilities.h"
#include "platform/EnvironmentLookup.h"
#include "quillet-capture/transcription/Transcriber.h"

namespace quillet::capture {

// When a capture started, on the wall clock (for the host) and the monotonic one (for audio times).
struct CaptureStart {
  std::chrono::system_clock::time_point wall;
  std::chrono::nanoseconds monotonic{0};
};

// Chooses the transcriber every capture uses, from QL_CAPTURE_ENGINE: "whisper" (any case) cuts
// WAV files for the host; otherwise the on-device recogniser transcribes, streamed or, with
// "batch", in overlapping windows.
class TranscriberFactory {
 public:
  using Maker = std::function<std::shared_ptr<Transcriber>(const CaptureStart& start)>;

  // The variants this build has; an empty maker is a variant it lacks.
  struct Variants {
    Maker whisper;
    Maker onDevice;
    Maker batch;
    // The locales the on-device recogniser has models for.
    std::function<std::vector<std::string>()> onDeviceLocales;
  };

  TranscriberFactory(platform::EnvironmentLookup environment, Variants variants);

  [[nodiscard]] bool useWhisper() const;
  [[nodiscard]] bool useBatch() const;

  // A new transcriber of the chosen variant. A variant missing from this build still answers one,
  // whose start fails with a message saying what to do instead.
  [[nodiscard]] std::shared_ptr<Transcriber> make(const CaptureStart& start) const;

  // What the "ready" event announces: the transcriber's name and the locales it can take.
  [[nodiscard]] Capabilities capabilities(std::string operatingSystem) const;

 private:
  [[nodiscard]] bool engineIs(const char* name) const;

  platform::EnvironmentLookup environment_;
  Variants variants_;
};

}  // namespace quillet::capture
