#pragma once

#include <cstddef>

#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "platform/Resampler.h"
#include "platform/SpeechRecognizer.h"
#include "quillet-capture/program/EmitAndWait.h"
#include "quillet-capture/transcription/ModelInstallLock.h"
#include "quillet-capture/transcription/TranscriberFactory.h"

namespace quillet::capture {

// The transcriber variants built on the on-device recogniser. Its results are streamed with time ranges,
// so the streaming variant serves the default engine and the windowed one "batch"; the cumulative variant
// is kept for recognisers without time ranges and is not chosen here.
class OnDeviceEngine {
 public:
  // Two speakers, plus the two of a capture whose stop was abandoned while a new one starts.
  static constexpr std::size_t kDecoderLimit = 4;

  // What the transcribers are built on; every reference must outlive the factory the variants go into.
  struct Services {
    platform::SpeechRecognizer& recognizer;
    ModelInstallLock& installs;  // of `recognizer`
    platform::MainLoop& mainLoop;
    const platform::Clock& clock;
    platform::ResamplerFactory resamplers;
    EmitAndWait emit;
  };

  // Sets the factory's streaming and windowed makers and the locales whose models are installed.
  static void addTo(TranscriberFactory::Variants& variants, const Services& services);
};

}  // namespace quillet::capture
