#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/runtime/SerialQueue.h"
#include "platform/Clock.h"
#include "platform/Resampler.h"
#include "quillet-capture/transcription/ChunkingSettings.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "platform/EnvironmentLookup.h"
#include "quillet-capture/protocol/Event.h"
#include "quillet-capture/sources/Pcm16MonoConverter.h"
#include "quillet-capture/files/PrivateAudioFolder.h"
#include "quillet-capture/transcription/Transcriber.h"
#include "quillet-capture/transcription/UtteranceCutter.h"

namespace quillet::capture {

// The transcriber that recognises nothing itself: it converts a source's audio to 16 kHz mono
// 16-bit, cuts it into utterances by energy, writes each as a WAV file in a private folder and
// reports it with an "audio" event for the host to transcribe. One object per speaker per capture.
class WhisperChunkTranscriber final : public Transcriber {
 public:
  static constexpr const char* kQueueLabel = "quillet.whisper.chunker";

  // Hands an event over without waiting; production passes it to EventWriter::emitWithoutWaiting.
  using EmitEvent = std::function<void(Event event)>;

  struct Services {
    const platform::Clock& clock;
    platform::ResamplerFactory resamplers;
    platform::EnvironmentLookup environment;  // QL_VAD_* and XDG_RUNTIME_DIR, read once at construction
    std::filesystem::path temporaryDirectory;
    EmitEvent emit;
    DiagnosticSink diagnostics = writeToStandardError;
  };

  // `captureStartedAt` is the capture's zero on the clock's monotonic time line.
  WhisperChunkTranscriber(std::chrono::nanoseconds captureStartedAt, Services services);


  // Writes "[whisper] start speaker=<speaker> — emitting audio chunks"; never fails.
  void start(Speaker speaker, std::string locale, StartCompletion completion) override;
  // Converts on the calling thread and leaves the rest to the chunking queue.
  void consume(const platform::AudioBuffer& buffer) override;
  // Completes once every consumed block has been cut and the last piece written and reported.
  void stop(StopCompletion completion) override;

  [[nodiscard]] const ChunkingSettings& settings() const { return settings_; }
  [[nodiscard]] const PrivateAudioFolder& folder() const { return folder_; }

  // "ql-" + speaker + "-" + number + ".wav".
  [[nodiscard]] static std::string fileName(Speaker speaker, std::int64_t number);

 private:
  // The steps below run on queue_ only.
  void append(const std::vector<std::int16_t>& block, std::int64_t arrivalMs);
  void flush();
  void report(const Utterance& utterance);
  // Writes the piece under the next free number; answers its path, or nothing on failure.
  [[nodiscard]] std::optional<std::filesystem::path> writeWav(const Utterance& utterance);

  const std::chrono::nanoseconds captureStartedAt_;
  const platform::Clock& clock_;
  const ChunkingSettings settings_;
  const EmitEvent emit_;
  const DiagnosticSink diagnostics_;
  const PrivateAudioFolder folder_;

  Pcm16MonoConverter converter_;  // the source's thread only

  // Chunking state, touched on queue_ only.
  Speaker speaker_ = Speaker::others;
  UtteranceCutter cutter_;
  std::int64_t seq_ = 0;

  // Last, so that its destructor runs what is still queued while everything above exists: queued
  // blocks never outlive the transcriber.
  SerialQueue queue_{kQueueLabel};
};

}  // namespace quillet::capture
