#include "quillet-capture/transcription/ModernTranscriber.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "quillet-capture/sources/SampleRateText.h"

namespace quillet::capture {

namespace {

// The sample-format number of 32-bit float samples, the only kind the audio port delivers.
constexpr int kFloatSampleFormat = 1;

float peakOf(const platform::AudioBuffer& buffer) {
  float peak = 0;
  for (const float* channel : buffer.channels) {
    for (std::size_t frame = 0; frame < buffer.frameCount; ++frame) peak = std::max(peak, std::fabs(channel[frame]));
  }
  return peak;
}

bool isPaced(int count) { return count % 100 == 0; }

}  // namespace

ModernTranscriber::ModernTranscriber(std::chrono::nanoseconds captureStartedAt, Services services)
    : captureStartedAt_(captureStartedAt),
      recognizer_(services.recognizer),
      installs_(services.installs),
      mainLoop_(services.mainLoop),
      resamplers_(std::move(services.resamplers)),
      emit_(std::move(services.emit)),
      diagnostics_(std::move(services.diagnostics)),
      launcher_(std::move(services.launcher)),
      deadline_(mainLoop_, diagnostics_, launcher_) {}

ModernTranscriber::~ModernTranscriber() = default;


std::string ModernTranscriber::converterKey(const platform::AudioFormat& format) {
  return sampleRateText(format.sampleRate) + "-" + std::to_string(format.channelCount) + "-" +
         std::to_string(kFloatSampleFormat);
}

std::string ModernTranscriber::prefix() const { return "[transcriber:" + std::string(rawValue(speaker_)) + "] "; }

void ModernTranscriber::start(Speaker speaker, std::string locale, StartCompletion completion) {
  speaker_ = speaker;
  installs_.ensureInstalled(
      locale, std::string(rawValue(speaker)),
      [weak = weak_from_this(), locale, completion = std::move(completion)](Expected<void, CaptureError> started) {
        if (started.failed()) {
          if (completion) completion(std::move(started));
          return;
        }
        auto self = weak.lock();
        if (!self) {
          if (completion) completion(CaptureError::fromPlatform("the transcriber was released before it started"));
          return;
        }
        // Opening may wait for a decoder to come free or load the model: never on the caller's thread.
        self->launcher_([weak, locale, completion]() mutable {
          if (auto opening = weak.lock()) {
            opening->open(locale, completion);
          } else if (completion) {
            completion(CaptureError::fromPlatform("the transcriber was released before it started"));
          }
        });
      });
}

void ModernTranscriber::open(const std::string& locale, StartCompletion completion) {
  const double rate = recognizer_.preferredSampleRate();
  if (rate != Pcm16MonoConverter::kOutputRate) {
    if (completion) {
      completion(CaptureError::fromPlatform("the recogniser takes " + sampleRateText(rate) +
                                            " Hz audio, which this transcriber cannot deliver"));
    }
    return;
  }
  diagnostics_(prefix() + "target format=" + sampleRateText(rate) + "Hz 1ch\n");

  auto publisher = std::make_shared<StreamResultPublisher>(
      speaker_, emit_, diagnostics_, [counts = counts_] { return counts->consumed > 0 && counts->yielded > 0; });
  auto opened = recognizer_.openStream(locale, StreamResultPublisher::handlersFor(publisher));
  if (opened.failed()) {
    if (completion) completion(CaptureError::fromPlatform(opened.error().description()));
    return;
  }
  std::shared_ptr<platform::SpeechStream> stream = std::move(opened).value();
  {
    std::lock_guard lock(streamMutex_);
    if (!stopped_) {
      stream_ = std::exchange(stream, nullptr);
      publisher_ = std::move(publisher);
      inputOpen_ = true;
    }
  }
  if (stream) {
    // Stopped while the stream opened: it goes at once, here, off the main loop, and its decoder with it.
    stream.reset();
    if (completion) completion(CaptureError::fromPlatform("the transcriber was stopped before its stream opened"));
    return;
  }
  diagnostics_(prefix() + "results-task started, awaiting results\n");
  if (completion) completion({});
}

void ModernTranscriber::consume(const platform::AudioBuffer& buffer) {
  int results = 0;
  {
    std::lock_guard lock(streamMutex_);
    if (!inputOpen_) return;
    if (publisher_) results = publisher_->resultCount();
  }
  const int count = ++counts_->consumed;
  if (count == 1) {
    diagnostics_(prefix() + "consume:first inFrames=" + std::to_string(buffer.frameCount) +
                 " inFormat=" + sampleRateText(buffer.format.sampleRate) + "Hz " +
                 std::to_string(buffer.format.channelCount) + "ch commonFormat=" + std::to_string(kFloatSampleFormat) +
                 "\n");
  } else if (isPaced(count)) {
    char peak[32];
    std::snprintf(peak, sizeof peak, "%.4f", double(peakOf(buffer)));
    diagnostics_(prefix() + "consume:n=" + std::to_string(count) + " yields=" + std::to_string(counts_->yielded.load()) +
                 " results=" + std::to_string(results) + " inPeak=" + peak + "\n");
  }

  Pcm16MonoConverter* converter = converterFor(buffer);
  if (converter == nullptr) {
    diagnostics_(prefix() + "failed to create converter\n");
    return;
  }
  auto converted = converter->convert(buffer);
  if (converted.failed()) {
    if (count < 6 || isPaced(count)) {
      diagnostics_(prefix() + "convert error status=3 err=" + converted.error().description() + "\n");
    }
    return;
  }
  if (converted.value().empty()) {
    if (count <= 5 || isPaced(count)) {
      diagnostics_(prefix() + "convert:empty status=1 (consume=" + std::to_string(count) + ")\n");
    }
    return;
  }
  push(converted.value());
}

void ModernTranscriber::push(const std::vector<std::int16_t>& samples) {
  {
    std::lock_guard lock(streamMutex_);
    if (!inputOpen_ || !stream_) return;
    stream_->push(samples);
  }
  const int yields = ++counts_->yielded;
  if (yields <= 2 || isPaced(yields)) {
    diagnostics_(prefix() + "yield:n=" + std::to_string(yields) + " frames=" + std::to_string(samples.size()) + "\n");
  }
}

Pcm16MonoConverter* ModernTranscriber::converterFor(const platform::AudioBuffer& buffer) {
  const std::string key = converterKey(buffer.format);
  auto found = converters_.find(key);
  if (found != converters_.end()) return &found->second;
  const double rate = buffer.format.sampleRate;
  const bool convertible = std::isfinite(rate) && rate > 0 && buffer.format.channelCount > 0 && resamplers_ &&
                           resamplers_(rate, Pcm16MonoConverter::kOutputRate) != nullptr;
  if (!convertible) return nullptr;
  return &converters_.try_emplace(key, resamplers_).first->second;
}

void ModernTranscriber::stop(StopCompletion completion) {
  std::weak_ptr<platform::SpeechStream> stream;
  std::shared_ptr<StreamResultPublisher> publisher;
  {
    std::lock_guard lock(streamMutex_);
    inputOpen_ = false;
    stopped_ = true;
    stream = stream_;
    publisher = publisher_;
  }
  if (!publisher) {
    if (completion) completion();
    return;
  }
  // The stream must outlive its finishing, so this object keeps itself until the stop is done, even when
  // its owner lets go right after asking; its last reference goes on the main loop, never on the publisher's
  // queue, which it would have to join.
  deadline_.withDeadline(
      kFinalizeSeconds, "transcriber:" + std::string(rawValue(speaker_)) + " finalize",
      [stream, publisher, diagnostics = diagnostics_, prefix = prefix()](const Deadline::Finished& finished) {
        publisher->whenEnded([finished, diagnostics, prefix](const Status& ending) {
          if (ending.failed()) diagnostics(prefix + "finalize error: " + ending.error().description() + "\n");
          finished();
        });
        if (auto open = stream.lock()) open->finish();
      },
      [self = shared_from_this(), completion = std::move(completion)](bool finalizedInTime) mutable {
        auto& loop = self->mainLoop_;
        loop.post([self = std::move(self), finalizedInTime, completion = std::move(completion)]() mutable {
          self->drain(finalizedInTime, std::move(completion));
        });
      });
}

void ModernTranscriber::drain(bool finalizedInTime, StopCompletion completion) {
  std::shared_ptr<StreamResultPublisher> publisher;
  {
    std::lock_guard lock(streamMutex_);
    publisher = publisher_;
  }
  deadline_.withDeadline(
      kDrainSeconds, "transcriber:" + std::string(rawValue(speaker_)) + " results drain",
      [publisher](const Deadline::Finished& finished) { publisher->drain(finished); },
      [self = shared_from_this(), weakPublisher = std::weak_ptr(publisher), finalizedInTime,
       completion = std::move(completion)](bool drained) mutable {
        if (!drained) {
          if (auto late = weakPublisher.lock()) late->cancel();
        }
        auto& loop = self->mainLoop_;
        loop.post([self = std::move(self), finalizedInTime, completion = std::move(completion)]() mutable {
          self->release(finalizedInTime);
          if (completion) completion();
        });
      });
}

void ModernTranscriber::release(bool finalizedInTime) {
  std::shared_ptr<platform::SpeechStream> stream;
  {
    std::lock_guard lock(streamMutex_);
    stream = std::move(stream_);
    publisher_.reset();
  }
  if (!stream || finalizedInTime) return;
  // A stream that did not finish in time may still be decoding; its release waits for that, off the main loop.
  launcher_([stream = std::move(stream)]() mutable { stream.reset(); });
}

}  // namespace quillet::capture
