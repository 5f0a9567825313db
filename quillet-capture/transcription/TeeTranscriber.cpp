#include "quillet-capture/transcription/TeeTranscriber.h"

#include <utility>

#include "quillet-capture/files/PrivateAudioFolder.h"
#include "quillet-capture/files/PrivateFile.h"
#include "quillet-capture/sources/SampleRateText.h"

namespace quillet::capture {

std::shared_ptr<TeeTranscriber> TeeTranscriber::make(std::shared_ptr<Transcriber> inner, std::filesystem::path file,
                                                     platform::AudioFiles& files, platform::ResamplerFactory resamplers,
                                                     DiagnosticSink diagnostics) {
  return std::make_shared<TeeTranscriber>(std::move(inner), std::move(file), files, std::move(resamplers),
                                          std::move(diagnostics));
}

TeeTranscriber::TeeTranscriber(std::shared_ptr<Transcriber> inner, std::filesystem::path file,
                               platform::AudioFiles& files, platform::ResamplerFactory resamplers,
                               DiagnosticSink diagnostics)
    : inner_(std::move(inner)),
      file_(std::move(file)),
      files_(files),
      diagnostics_(std::move(diagnostics)),
      converter_(std::move(resamplers)) {}

std::filesystem::path TeeTranscriber::fileFor(const std::filesystem::path& stagingDirectory, Speaker speaker) {
  return stagingDirectory / (speaker == Speaker::you ? "mic.wav" : "system.wav");
}

void TeeTranscriber::start(Speaker speaker, std::string locale, StartCompletion completion) {
  inner_->start(speaker, std::move(locale), std::move(completion));
}

void TeeTranscriber::consume(const platform::AudioBuffer& buffer) {
  inner_->consume(buffer);
  std::lock_guard lock(mutex_);
  if (failed_ || stopping_) return;
  record(buffer);
}

void TeeTranscriber::record(const platform::AudioBuffer& buffer) {
  if (!writer_) {
    if (auto opened = open(); opened.failed()) return fail(opened.error().description());
    diagnostics_("[tee] writing " + file_.filename().string() + " from " + sampleRateText(buffer.format.sampleRate) +
                 "Hz " + std::to_string(buffer.format.channelCount) + "ch\n");
  }
  auto converted = converter_.convert(buffer);
  if (converted.failed()) {
    const std::string& reason = converted.error().description();
    return fail(reason.empty() ? "tee error 1" : reason);
  }
  const auto& samples = converted.value();
  if (samples.empty()) return;
  if (auto appended = writer_->append(samples); appended.failed()) return fail(appended.error().description);
  frames_ += std::int64_t(samples.size());
}

Status TeeTranscriber::open() {
  const std::filesystem::path folder = file_.parent_path();
  if (const std::error_code error = PrivateAudioFolder::createMissing(folder)) {
    return Error("cannot create " + folder.string() + ": " + error.message());
  }
  auto created = PrivateFile::replace(file_);
  if (created.failed()) return Error("cannot create " + file_.string() + ": " + created.error().message());
  auto started = files_.pcm16Wav(created.value().release(), kSampleRate, 1);
  if (started.failed()) return Error(started.error().description);
  writer_ = std::move(started).value();
  return succeeded();
}

void TeeTranscriber::fail(const std::string& description) {
  failed_ = true;
  // What was written so far stays on disk as a complete file.
  writer_.reset();
  diagnostics_("[tee] write failed, the recognizer's transcript still stands: " + description + "\n");
}

void TeeTranscriber::stop(StopCompletion completion) {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  // Held strongly: the recording is closed even when the caller stops waiting for us.
  inner_->stop([self = shared_from_this(), completion = std::move(completion)] {
    {
      std::lock_guard lock(self->mutex_);
      self->close();
    }
    if (completion) completion();
  });
}

void TeeTranscriber::close() {
  if (writer_) {
    diagnostics_("[tee] closed " + file_.filename().string() + " frames=" + std::to_string(frames_) + " (" +
                 std::to_string(frames_ / kSampleRate) + "s)\n");
    writer_.reset();
  }
  converter_.reset();
}

}  // namespace quillet::capture
