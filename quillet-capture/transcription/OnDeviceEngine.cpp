#include "quillet-capture/transcription/OnDeviceEngine.h"

#include "quillet-capture/transcription/BufferedBatchTranscriber.h"
#include "quillet-capture/transcription/ModernTranscriber.h"

namespace quillet::capture {

void OnDeviceEngine::addTo(TranscriberFactory::Variants& variants, const Services& services) {
  variants.onDevice = [services](const CaptureStart& start) -> std::shared_ptr<Transcriber> {
    return std::make_shared<ModernTranscriber>(
        start.monotonic, ModernTranscriber::Services{services.recognizer, services.installs,
                                                     services.mainLoop, services.resamplers, services.emit});
  };
  variants.batch = [services](const CaptureStart& start) -> std::shared_ptr<Transcriber> {
    return std::make_shared<BufferedBatchTranscriber>(
        start.monotonic,
        BufferedBatchTranscriber::Services{services.clock, services.recognizer, services.resamplers, services.emit});
  };
  variants.onDeviceLocales = [&recognizer = services.recognizer] { return recognizer.installedLocales(); };
}

}  // namespace quillet::capture
