#include "quillet-capture/transcription/TranscriberFactory.h"

#include "common/text/UnicodeText.h"

namespace quillet::capture {

namespace {

// Stands in for a variant this build lacks: its start fails, so the host hears why instead of
// getting a capture that silently transcribes nothing.
class MissingTranscriber final : public Transcriber {
 public:
  explicit MissingTranscriber(std::string reason) : reason_(std::move(reason)) {}

  void start(Speaker /*speaker*/, std::string /*locale*/, StartCompletion completion) override {
    completion(CaptureError::fromPlatform(reason_));
  }
  void consume(const platform::AudioBuffer& /*buffer*/) override {}
  void stop(StopCompletion completion) override { completion(); }

 private:
  std::string reason_;
};

}  // namespace

TranscriberFactory::TranscriberFactory(platform::EnvironmentLookup environment, Variants variants)
    : environment_(std::move(environment)), variants_(std::move(variants)) {}

bool TranscriberFactory::engineIs(const char* name) const {
  const auto engine = environment_("QL_CAPTURE_ENGINE");
  return engine && text::lowercased(*engine) == name;
}

bool TranscriberFactory::useWhisper() const { return engineIs("whisper"); }

bool TranscriberFactory::useBatch() const { return engineIs("batch"); }

std::shared_ptr<Transcriber> TranscriberFactory::make(const CaptureStart& start) const {
  const Maker& maker = useWhisper() ? variants_.whisper : useBatch() ? variants_.batch : variants_.onDevice;
  if (maker) return maker(start);
  return std::make_shared<MissingTranscriber>(
      "on-device transcription is not available in this build; start the capture with QL_CAPTURE_ENGINE=whisper "
      "to receive audio files instead");
}

Capabilities TranscriberFactory::capabilities(std::string operatingSystem) const {
  if (useWhisper()) return {"whisper", {"*"}, std::move(operatingSystem)};
  // The batch engine runs on the same recogniser, so it announces the same name.
  std::vector<std::string> locales;
  if ((useBatch() ? variants_.batch : variants_.onDevice) && variants_.onDeviceLocales) {
    locales = variants_.onDeviceLocales();
  }
  return {"SpeechAnalyzer", std::move(locales), std::move(operatingSystem)};
}

}  // namespace quillet::capture
