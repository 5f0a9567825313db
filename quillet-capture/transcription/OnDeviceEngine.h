#pragma once

#include "platform/MainLoop.h"
#include "platform/SpeechRecognizer.h"
#include "quillet-capture/transcription/TranscriberFactory.h"

namespace quillet::capture {

// The program's on-device recogniser and the transcriber variants built on it. Its results are streamed
// with time ranges, so the streaming variant serves the default engine and the windowed one "batch";
// the cumulative variant is kept for recognisers without time ranges and is not chosen here.
class OnDeviceEngine {
 public:
  // Two speakers, plus the two of a capture whose stop was abandoned while a new one starts.
  static constexpr std::size_t kDecoderLimit = 4;

  // The process-wide PocketSphinx recogniser, made on first use.
  static platform::SpeechRecognizer& recognizer();

  // Sets the factory's streaming and windowed makers and the locales whose models are installed.
  static void addTo(TranscriberFactory::Variants& variants, platform::MainLoop& mainLoop);
};

}  // namespace quillet::capture
