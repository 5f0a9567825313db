#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "platform/AudioFiles.h"
#include "platform/Resampler.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/sources/Pcm16MonoConverter.h"
#include "quillet-capture/transcription/Transcriber.h"

namespace quillet::capture {

// Passes everything to the wrapped transcriber and, beside it, records the same audio as a 16 kHz
// mono 16-bit WAV file for the host. The recording is secondary: its first failure ends it for the
// rest of the capture with one diagnostic line, and the transcript never notices.
class TeeTranscriber final : public Transcriber, public std::enable_shared_from_this<TeeTranscriber> {
 public:
  static constexpr int kSampleRate = 16000;

  // `files` must outlive the tee.
  static std::shared_ptr<TeeTranscriber> make(std::shared_ptr<Transcriber> inner, std::filesystem::path file,
                                              platform::AudioFiles& files, platform::ResamplerFactory resamplers,
                                              DiagnosticSink diagnostics = writeToStandardError);

  // "mic.wav" for the microphone, "system.wav" for the meeting's audio, in `stagingDirectory`.
  [[nodiscard]] static std::filesystem::path fileFor(const std::filesystem::path& stagingDirectory, Speaker speaker);

  // Starts the wrapped transcriber and fails as it fails.
  void start(Speaker speaker, std::string locale, StartCompletion completion) override;
  // The wrapped transcriber gets every buffer first; then the buffer is recorded, unless the
  // recording failed or the tee has begun to stop.
  void consume(const platform::AudioBuffer& buffer) override;
  // Stops the wrapped transcriber, then closes the recording with a "[tee] closed" line.
  void stop(StopCompletion completion) override;

  // Use make(); public only for std::make_shared.
  TeeTranscriber(std::shared_ptr<Transcriber> inner, std::filesystem::path file, platform::AudioFiles& files,
                 platform::ResamplerFactory resamplers, DiagnosticSink diagnostics);

 private:
  // The steps below run with mutex_ held.
  void record(const platform::AudioBuffer& buffer);
  // Creates the folder and the file; answers why it could not.
  [[nodiscard]] Status open();
  void fail(const std::string& description);
  void close();

  const std::shared_ptr<Transcriber> inner_;
  const std::filesystem::path file_;
  platform::AudioFiles& files_;
  const DiagnosticSink diagnostics_;

  // A stream whose stop was abandoned can still deliver buffers while the tee stops, so the
  // recording side is guarded; on every other path the lock is never contended.
  std::mutex mutex_;
  Pcm16MonoConverter converter_;
  std::unique_ptr<platform::AudioFileWriter> writer_;
  bool failed_ = false;
  bool stopping_ = false;
  std::int64_t frames_ = 0;
};

}  // namespace quillet::capture
