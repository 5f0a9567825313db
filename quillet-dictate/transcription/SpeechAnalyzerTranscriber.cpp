#include "quillet-dictate/transcription/SpeechAnalyzerTranscriber.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <utility>
#include <vector>

#include "common/text/UnicodeText.h"
#include "common/text/UuidString.h"

namespace quillet::dictate {

namespace {

AIFailure failure(const std::string& message) { return AIFailure{VessioError::api("speechanalyzer: " + message)}; }

std::string systemErrorText(int error) { return std::generic_category().message(error); }

// A chunk's private copy on disk, created by this call alone and removed when the call ends.
class TemporaryChunkFile {
 public:
  // Writes `bytes` to a new file in `folder`; answers the system's error text when that fails.
  static Expected<TemporaryChunkFile> create(const std::filesystem::path& folder, std::span<const std::uint8_t> bytes) {
    TemporaryChunkFile file(folder / ("ql-dictate-" + text::newUuidString() + ".wav"));
    // Exclusive creation without following links: in a shared folder nobody can slip a file of theirs in.
    const int descriptor = ::open(file.path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) return Error(systemErrorText(errno));
    file.created_ = true;
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t count = ::write(descriptor, bytes.data() + written, bytes.size() - written);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        const int error = count < 0 ? errno : EIO;
        ::close(descriptor);
        return Error(systemErrorText(error));
      }
      written += std::size_t(count);
    }
    if (::close(descriptor) != 0) return Error(systemErrorText(errno));
    return file;
  }

  TemporaryChunkFile(TemporaryChunkFile&& other) noexcept
      : path_(std::move(other.path_)), created_(std::exchange(other.created_, false)) {}
  TemporaryChunkFile& operator=(TemporaryChunkFile&&) = delete;
  ~TemporaryChunkFile() {
    if (created_) ::unlink(path_.c_str());
  }

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  explicit TemporaryChunkFile(std::filesystem::path path) : path_(std::move(path)) {}

  std::filesystem::path path_;
  bool created_ = false;
};

std::string hertz(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f Hz", rate);
  return text;
}

// Inverts the 1/32768 scaling 16-bit audio was read with, so such audio passes through unchanged.
std::vector<std::int16_t> pcm16(const std::vector<float>& samples) {
  std::vector<std::int16_t> result;
  result.reserve(samples.size());
  for (const float sample : samples) {
    const float bounded = std::isnan(sample) ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
    result.push_back(std::int16_t(std::clamp(std::lround(bounded * 32768.0f), -32768L, 32767L)));
  }
  return result;
}

// The audio as the recogniser takes it: mono 16-bit samples at `targetRate`.
Expected<std::vector<std::int16_t>, AIFailure> convertIfNeeded(const audio::AudioSamples& audio, double targetRate,
                                                              const platform::ResamplerFactory& resamplers) {
  const std::vector<float> mono = audio.mixedToMono();
  if (audio.sampleRate == targetRate) return pcm16(mono);

  // Audio at another rate than the recogniser's would be recognised as nonsense, so no conversion is a failure.
  const auto resampler = resamplers ? resamplers(audio.sampleRate, targetRate) : nullptr;
  if (!resampler) return failure("cannot convert " + hertz(audio.sampleRate) + " audio to " + hertz(targetRate));
  const auto capacity = std::size_t(targetRate / audio.sampleRate * double(mono.size()) + 1024);
  std::vector<std::int16_t> converted;
  if (auto conversion = resampler->convert(mono, capacity, converted); conversion.failed()) {
    return failure("audio conversion failed: " + conversion.error().description());
  }
  return converted;
}

}  // namespace

SpeechAnalyzerTranscriber::SpeechAnalyzerTranscriber(platform::SpeechRecognizer& recognizer, platform::AudioFiles& files,
                                                     platform::ResamplerFactory resamplers, const VxLog& log,
                                                     std::filesystem::path temporaryDirectory)
    : recognizer_(recognizer),
      files_(files),
      resamplers_(std::move(resamplers)),
      log_(log),
      temporaryDirectory_(std::move(temporaryDirectory)) {}

AIOutcome<std::string> SpeechAnalyzerTranscriber::transcribe(std::span<const std::uint8_t> wav,
                                                             std::string_view locale, std::stop_token stop) const {
  auto created = TemporaryChunkFile::create(temporaryDirectory_, wav);
  if (created.failed()) return failure("cannot write the chunk file: " + created.error().description());
  const auto& chunkFile = created.value();

  auto opened = files_.open(chunkFile.path());
  if (opened.failed()) return failure(opened.error().description);
  auto& file = *opened.value();
  if (file.frameCount() == 0) return std::string();

  if (auto installed = ensureLocaleInstalled(locale); installed.failed()) return installed.error();

  auto read = file.readRemaining();
  if (read.failed()) return failure(read.error().description);
  auto converted = convertIfNeeded(read.value(), recognizer_.preferredSampleRate(), resamplers_);
  if (converted.failed()) return converted.error();
  const auto& samples = converted.value();

  std::vector<std::string> finals;
  std::string lastVolatile;
  bool resultsStarted = false;
  const auto recognised = recognizer_.recognize(
      locale, {samples, recognizer_.preferredSampleRate(), std::move(stop)}, [&](const platform::SpeechResult& result) {
        resultsStarted = true;
        if (text::trimmedWhitespaceAndNewlines(result.text).empty()) return;
        if (result.isFinal) {
          finals.push_back(result.text);
        } else if (text::characterCount(result.text) > text::characterCount(lastVolatile)) {
          lastVolatile = result.text;
        }
      });
  if (recognised.failed()) {
    if (!resultsStarted) return failure(recognised.error().description());
    // Results that broke off are no transcript; an empty one sends the caller to its next attempt.
    return std::string();
  }

  std::string joined;
  for (const auto& piece : finals) joined += (joined.empty() ? "" : " ") + piece;
  if (auto transcript = text::trimmedWhitespaceAndNewlines(joined); !transcript.empty()) return transcript;

  auto recovered = text::trimmedWhitespaceAndNewlines(lastVolatile);
  if (!recovered.empty()) {
    log_.log("🍎 recovered volatile partial (" + std::to_string(text::characterCount(recovered)) +
             " chars) — no final emitted");
  }
  return recovered;
}

Expected<void, AIFailure> SpeechAnalyzerTranscriber::ensureLocaleInstalled(std::string_view locale) const {
  const auto installed = recognizer_.installedLocales();
  if (std::find(installed.begin(), installed.end(), locale) != installed.end()) return {};
  return failure("no on-device speech model for " + std::string(locale) + " is installed; " +
                 recognizer_.installHint(locale));
}

}  // namespace quillet::dictate
