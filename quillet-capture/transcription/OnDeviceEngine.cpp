#include "quillet-capture/transcription/OnDeviceEngine.h"

#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"
#include "quillet-capture/transcription/BufferedBatchTranscriber.h"
#include "quillet-capture/transcription/ModernTranscriber.h"

namespace quillet::capture {

platform::SpeechRecognizer& OnDeviceEngine::recognizer() {
  // Never destroyed: transcribers abandoned by a bounded stop may still hold its streams at exit.
  static auto* recognizer = new platform::pocketsphinx::PocketSphinxRecognizer(
      platform::pocketsphinx::PocketSphinxRecognizer::kDefaultModelRoot, kDecoderLimit);
  return *recognizer;
}

void OnDeviceEngine::addTo(TranscriberFactory::Variants& variants, platform::MainLoop& mainLoop) {
  variants.onDevice = [&mainLoop](const CaptureStart& start) -> std::shared_ptr<Transcriber> {
    return ModernTranscriber::make(start.monotonic, mainLoop);
  };
  variants.batch = [](const CaptureStart& start) -> std::shared_ptr<Transcriber> {
    return BufferedBatchTranscriber::make(start.monotonic);
  };
  variants.onDeviceLocales = [] { return recognizer().installedLocales(); };
}

}  // namespace quillet::capture
