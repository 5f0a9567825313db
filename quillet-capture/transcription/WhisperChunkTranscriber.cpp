#include "quillet-capture/transcription/WhisperChunkTranscriber.h"

#include <unistd.h>

#include <string_view>
#include <utility>

#include "common/audio/WavFormat.h"
#include "quillet-capture/protocol/FullWrite.h"
#include "quillet-capture/files/PrivateFile.h"

namespace quillet::capture {

namespace {

std::optional<std::filesystem::path> runtimeDirectory(const platform::EnvironmentLookup& environment) {
  auto value = environment("XDG_RUNTIME_DIR");
  if (!value || value->empty()) return std::nullopt;
  return std::filesystem::path(std::move(*value));
}

}  // namespace

WhisperChunkTranscriber::WhisperChunkTranscriber(std::chrono::nanoseconds captureStartedAt, Services services)
    : captureStartedAt_(captureStartedAt),
      clock_(services.clock),
      settings_(ChunkingSettings::fromEnvironment(services.environment)),
      emit_(std::move(services.emit)),
      diagnostics_(std::move(services.diagnostics)),
      folder_(PrivateAudioFolder::choose(services.temporaryDirectory, runtimeDirectory(services.environment),
                                         diagnostics_)),
      converter_(std::move(services.resamplers)),
      cutter_(settings_) {}


std::string WhisperChunkTranscriber::fileName(Speaker speaker, std::int64_t number) {
  return "ql-" + std::string(rawValue(speaker)) + "-" + std::to_string(number) + ".wav";
}

void WhisperChunkTranscriber::start(Speaker speaker, std::string /*locale*/, StartCompletion completion) {
  diagnostics_("[whisper] start speaker=" + std::string(rawValue(speaker)) + " — emitting audio chunks\n");
  queue_.async([this, speaker] { speaker_ = speaker; });
  if (completion) completion({});
}

void WhisperChunkTranscriber::consume(const platform::AudioBuffer& buffer) {
  auto samples = converter_.convert(buffer).valueOr({});
  if (samples.empty()) return;
  const auto arrivalMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock_.monotonicNow() - captureStartedAt_).count();
  queue_.async([this, block = std::move(samples), arrivalMs] { append(block, arrivalMs); });
}

void WhisperChunkTranscriber::stop(StopCompletion completion) {
  // The queue is serial, so every block consumed before this call is cut before the final flush.
  queue_.async([this, completion = std::move(completion)] {
    flush();
    if (completion) completion();
  });
}

void WhisperChunkTranscriber::append(const std::vector<std::int16_t>& block, std::int64_t arrivalMs) {
  if (auto utterance = cutter_.append(block, arrivalMs)) report(*utterance);
}

void WhisperChunkTranscriber::flush() {
  if (auto utterance = cutter_.flush()) report(*utterance);
}

void WhisperChunkTranscriber::report(const Utterance& utterance) {
  const auto path = writeWav(utterance);
  if (!path) return;
  emit_(Event::audio({speaker_, path->string(), utterance.startMs, utterance.startMs + utterance.durationMs()}));
}

std::optional<std::filesystem::path> WhisperChunkTranscriber::writeWav(const Utterance& utterance) {
  const auto wav = audio::WavFormat::buildWAVFromSamples(utterance.samples);
  const std::string_view bytes(reinterpret_cast<const char*>(wav.data()), wav.size());
  for (;;) {
    const std::filesystem::path path = folder_.path() / fileName(speaker_, seq_);
    ++seq_;
    const auto fail = [&] {
      diagnostics_("[whisper] WAV write failed: " + path.string() + "\n");
      return std::nullopt;
    };
    if (!folder_.usable()) return fail();

    auto created = PrivateFile::createNew(path);
    if (created.failed()) {
      // A name left by an earlier capture is never overwritten: the host may not have read it yet.
      if (created.error() == std::errc::file_exists) continue;
      return fail();
    }
    const auto& file = created.value();
    if (writeFully(file.descriptor(), bytes)) {
      ::unlink(path.c_str());  // a truncated file must not look like a finished piece
      return fail();
    }
    return path;
  }
}

}  // namespace quillet::capture
