#include "quillet-dictate/audio/AudioStreamer.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "common/runtime/Weakly.h"
#include "quillet-dictate/audio/LevelMeter.h"
#include "common/audio/WavFormat.h"

namespace quillet::dictate {

namespace {

std::string describe(const platform::AudioFormat& format) {
  char text[96];
  std::snprintf(text, sizeof text, "<%d ch, %.0f Hz, Float32, deinterleaved>", format.channelCount, format.sampleRate);
  return text;
}

std::string describeTargetFormat() {
  char text[96];
  std::snprintf(text, sizeof text, "<%d ch, %u Hz, Int16, interleaved>", int(audio::WavFormat::kChannelCount),
                unsigned(audio::WavFormat::kSampleRate));
  return text;
}

double millisecondsOfBytes(std::size_t byteCount) {
  return double(byteCount / 2) * 1000.0 / double(audio::WavFormat::kSampleRate);
}

}  // namespace

std::shared_ptr<AudioStreamer> AudioStreamer::create(platform::AudioInput& input, platform::ResamplerFactory resamplers,
                                                     platform::MainLoop& mainLoop, const VxLog& log,
                                                     platform::UrlOpener& urlOpener) {
  return std::shared_ptr<AudioStreamer>(new AudioStreamer(input, std::move(resamplers), mainLoop, log, urlOpener));
}

AudioStreamer::AudioStreamer(platform::AudioInput& input, platform::ResamplerFactory resamplers,
                             platform::MainLoop& mainLoop, const VxLog& log, platform::UrlOpener& urlOpener)
    : input_(input), resamplers_(std::move(resamplers)), mainLoop_(mainLoop), log_(log), urlOpener_(urlOpener) {}

AudioStreamer::~AudioStreamer() {
  // The tap and the analysis hold the streamer weakly, but the input must not keep a tap into freed memory.
  if (sessionActive_) input_.removeTap();
  fftQueue_.drain();
}

void AudioStreamer::start(ChunkHandler onChunk, StatusHandler onStatus, LevelsHandler onLevels) {
  start(input_.authorization(), std::move(onChunk), std::move(onStatus), std::move(onLevels));
}

void AudioStreamer::start(platform::MicAuthorization status, ChunkHandler onChunk, StatusHandler onStatus,
                          LevelsHandler onLevels) {
  log_.log("🎙 mic authorizationStatus = " + std::to_string(int(status)) + " (0=notDet,1=restr,2=denied,3=auth)");
  switch (status) {
    case platform::MicAuthorization::authorized:
      begin(std::move(onChunk), std::move(onLevels));
      mainLoop_.post([onStatus = std::move(onStatus)] { onStatus(MicStatus::started); });
      return;
    case platform::MicAuthorization::restricted:
    case platform::MicAuthorization::denied:
      log_.log("🎙 mic permission previously denied");
      mainLoop_.post([onStatus = std::move(onStatus)] { onStatus(MicStatus::denied); });
      return;
    case platform::MicAuthorization::notDetermined:
      input_.requestAccess([weakSelf = weak_from_this(), onChunk = std::move(onChunk), onStatus = std::move(onStatus),
                            onLevels = std::move(onLevels), &mainLoop = mainLoop_](bool granted) mutable {
        mainLoop.post([weakSelf, granted, onChunk = std::move(onChunk), onStatus = std::move(onStatus),
                       onLevels = std::move(onLevels)]() mutable {
          auto self = weakSelf.lock();
          if (granted) {
            if (self) self->begin(std::move(onChunk), std::move(onLevels));
            onStatus(MicStatus::started);
          } else {
            if (self) self->log_.log("🎙 mic permission denied");
            onStatus(MicStatus::denied);
          }
        });
      });
      return;
  }
  mainLoop_.post([onStatus = std::move(onStatus)] { onStatus(MicStatus::denied); });
}

void AudioStreamer::begin(ChunkHandler onChunk, LevelsHandler onLevels) {
  // Made before any analysis can be queued, so the analysis thread only ever reads it.
  if (!levelMeter_) levelMeter_ = std::make_unique<LevelMeter>();
  onChunk_ = std::move(onChunk);
  {
    std::lock_guard lock(levelsMutex_);
    onLevels_ = std::move(onLevels);
  }
  speechMsInChunk_ = 0;
  silenceRunMs_ = 0;
  resetDisplayGate();
  // Room for the longest chunk and a second more (a tap buffer of any rate the hardware offers), touched
  // here once, so the audio thread neither grows it nor takes its first page faults mid-session.
  pcmBuffer_.resize(std::size_t((kMaxChunkMs + 1000) * audio::WavFormat::kSampleRate / 1000.0) * 2);
  pcmBuffer_.clear();
  segmentIndex_ = 0;

  disableVoiceProcessing();

  const auto hardware = input_.hardwareFormat();
  const double hardwareRate = hardware ? hardware->sampleRate : 0;
  converter_ = hardware && hardware->channelCount > 0 ? resamplers_(hardwareRate, audio::WavFormat::kSampleRate) : nullptr;
  if (!converter_) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", hardwareRate);
    log_.log(std::string("🎙 could not build AVAudioConverter @") + rate + "Hz mono → " + describeTargetFormat());
    return;
  }

  input_.installTap(kTapBufferFrames, weakly(shared_from_this(), [](AudioStreamer& self, const platform::AudioBuffer& buffer) {
                      self.handleTap(buffer);
                    }));
  if (auto started = input_.start(); started.failed()) {
    log_.log("🎙 engine.start failed: " + started.error().description());
    // Nothing will arrive; taking the tap away keeps the next start clean.
    input_.removeTap();
    return;
  }
  sessionActive_ = true;
  log_.log("🎙 streamer started  in=" + describe(*hardware) + "  out=" + describeTargetFormat());
}

void AudioStreamer::disableVoiceProcessing() {
  if (!input_.voiceProcessingEnabled()) return;
  if (auto disabled = input_.setVoiceProcessingEnabled(false); disabled.failed()) {
    log_.log("🎙 could not disable voice processing: " + disabled.error().description());
    return;
  }
  log_.log("🎙 voice processing DISABLED — other apps' audio no longer ducks");
}

void AudioStreamer::handleTap(const platform::AudioBuffer& buffer) {
  if (!converter_ || !onChunk_ || buffer.channels.empty() || !(buffer.format.sampleRate > 0)) return;

  // Mix down to mono as the average of the channels, accumulated channel by channel.
  const std::size_t frames = buffer.frameCount;
  mono_.assign(frames, 0.0f);
  if (buffer.channels.size() == 1) {
    std::copy(buffer.channels[0], buffer.channels[0] + frames, mono_.begin());
  } else {
    const float weight = 1.0f / float(buffer.channels.size());
    for (const float* channel : buffer.channels) {
      for (std::size_t frame = 0; frame < frames; ++frame) mono_[frame] += channel[frame] * weight;
    }
  }

  queueAnalysis(mono_);

  const auto capacity =
      std::size_t(double(audio::WavFormat::kSampleRate) / buffer.format.sampleRate * double(frames)) + 16;
  converted_.clear();
  if (auto conversion = converter_->convert(mono_, capacity, converted_); conversion.failed()) {
    const std::string& reason = conversion.error().description();
    log_.log("🎙 convert error: " + (reason.empty() ? std::string("?") : reason));
    return;
  }
  if (converted_.empty()) return;

  const double durationMs = double(converted_.size()) * 1000.0 / double(audio::WavFormat::kSampleRate);
  audio::WavFormat::appendPCM(converted_, pcmBuffer_);
  const float rms = audio::WavFormat::normalizedRMS(std::span<const std::int16_t>(converted_));

  bool pause = false;
  if (rms >= kSpeechThreshold) {
    speechMsInChunk_ += durationMs;
    silenceRunMs_ = 0;
  } else {
    silenceRunMs_ += durationMs;
    pause = silenceRunMs_ >= kPauseMs;
  }

  const double bufferedMs = millisecondsOfBytes(pcmBuffer_.size());
  if (speechMsInChunk_ >= kMinSpeechForPauseCutMs && pause) {
    emitCurrentChunk("pause");
  } else if (bufferedMs >= kMaxChunkMs) {
    emitCurrentChunk("max");
  } else if (speechMsInChunk_ == 0 && bufferedMs >= kLeadingSilenceLimitMs) {
    // Only silence so far: keep the last half second so speech that starts now has its onset.
    if (pcmBuffer_.size() > kLeadingSilenceKeptBytes) {
      pcmBuffer_.erase(pcmBuffer_.begin(), pcmBuffer_.end() - std::ptrdiff_t(kLeadingSilenceKeptBytes));
    }
    silenceRunMs_ = 0;
  }
}

void AudioStreamer::emitCurrentChunk(const char* reason) {
  if (!onChunk_) return;
  Chunk chunk;
  chunk.durationSec = audio::WavFormat::durationSeconds(pcmBuffer_.size());
  chunk.rms = audio::WavFormat::normalizedRMS(pcmBuffer_);
  chunk.wav = audio::WavFormat::buildWAV(pcmBuffer_);
  chunk.index = segmentIndex_;

  char line[160];
  std::snprintf(line, sizeof line, "[AUDIO] chunk #%d (%s) %.1fs speech=%lldms rms=%.5f", chunk.index, reason,
                chunk.durationSec, static_cast<long long>(speechMsInChunk_), double(chunk.rms));
  log_.log(line);

  ++segmentIndex_;
  pcmBuffer_.clear();
  speechMsInChunk_ = 0;
  silenceRunMs_ = 0;
  onChunk_(std::move(chunk));
}

void AudioStreamer::flushResidualChunk() {
  const std::size_t byteCount = pcmBuffer_.size();
  if (byteCount < kResidualMinimumBytes) {
    if (byteCount >= 2) {
      log_.log("🎙 residual too short (" + std::to_string(byteCount / 2) + " samples) — nothing to transcribe");
    }
    return;
  }
  // The first chunk of a session is always sent when long enough, speech or not.
  if (speechMsInChunk_ != 0 || segmentIndex_ < 1) {
    emitCurrentChunk("stop");
    return;
  }
  log_.log("🎙 residual is silence (" + std::to_string(byteCount / 2) + " samples) — not sent");
  pcmBuffer_.clear();
}

void AudioStreamer::stop() {
  // Keyed on the session rather than on the input still running: if the sound server died
  // mid-session, the audio captured before it did is still flushed.
  if (!sessionActive_) return;
  sessionActive_ = false;
  input_.removeTap();
  input_.stop();
  flushResidualChunk();
  converter_.reset();
  onChunk_ = nullptr;
  {
    std::lock_guard lock(levelsMutex_);
    onLevels_ = nullptr;
  }
  resetDisplayGate();
  pcmBuffer_.clear();
  segmentIndex_ = 0;
  log_.log("🎙 streamer stopped");
}

// Without a settings program the user stays where they are; there is nothing else to offer.
void AudioStreamer::openMicSettings() { (void)urlOpener_.openSoundSettings(); }

void AudioStreamer::resetDisplayGate() {
  // The gate belongs to the analysis queue; resetting it there keeps it in order with the analyses.
  fftQueue_.async([weakSelf = weak_from_this()] {
    if (auto self = weakSelf.lock(); self && self->levelMeter_) self->levelMeter_->resetGate();
  });
}

AudioStreamer::LevelsHandler AudioStreamer::currentLevelsHandler() const {
  std::lock_guard lock(levelsMutex_);
  return onLevels_;
}

// Runs on the audio thread, once per tap buffer: the copy goes into a buffer an earlier analysis handed back,
// so the steady state allocates no sample memory there.
void AudioStreamer::queueAnalysis(std::span<const float> samples) {
  std::vector<float> copy;
  {
    std::lock_guard lock(levelsMutex_);
    if (!onLevels_) return;
    if (!spareAnalysisBuffers_.empty()) {
      copy = std::move(spareAnalysisBuffers_.back());
      spareAnalysisBuffers_.pop_back();
    }
  }
  copy.assign(samples.begin(), samples.end());
  fftQueue_.async([weakSelf = weak_from_this(), samples = std::move(copy)]() mutable {
    if (auto self = weakSelf.lock()) self->analyze(std::move(samples));
  });
}

void AudioStreamer::analyze(std::vector<float> samples) {
  if (auto onLevels = currentLevelsHandler(); levelMeter_ && onLevels) {
    const auto format = input_.hardwareFormat();
    Levels levels = levelMeter_->analyze(samples, format ? format->sampleRate : 0);
    mainLoop_.post([onLevels = std::move(onLevels), levels = std::move(levels)] { onLevels(levels); });
  }
  std::lock_guard lock(levelsMutex_);
  if (spareAnalysisBuffers_.size() < kSpareAnalysisBuffers) spareAnalysisBuffers_.push_back(std::move(samples));
}

}  // namespace quillet::dictate
