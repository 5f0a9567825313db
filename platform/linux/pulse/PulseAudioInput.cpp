#include "platform/linux/pulse/PulseAudioInput.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop-api.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>

#include "platform/linux/pulse/PulseContext.h"
#include "platform/linux/pulse/ThreadedLoop.h"

namespace quillet::platform::pulse {

namespace {

// Long enough for a busy desktop server, short enough that a stuck one reads as an error rather than a hang.
constexpr pa_usec_t answerTimeout = 3 * PA_USEC_PER_SEC;
static_assert(answerTimeout == 3'000'000, "waitFor's default in the header");
constexpr const char* answerTimeoutText = "3 seconds";

// Left to itself the server hands record streams their audio in two-second bursts. Fragments as long as
// one tap buffer wake the audio thread once per buffer, which is all the tap needs; stop() fetches what
// the device still holds, so the last spoken word is not held back by the longer fragments.
constexpr pa_usec_t shortestFragment = 20 * PA_USEC_PER_MSEC;
constexpr pa_usec_t longestFragment = 100 * PA_USEC_PER_MSEC;
// While the tail is fetched: small enough that the last audio comes at once.
constexpr pa_usec_t tailFragment = 5 * PA_USEC_PER_MSEC;
// What stop() waits at most for the tail, so a stalled device cannot hold it up.
constexpr pa_usec_t tailTimeout = 60 * PA_USEC_PER_MSEC;

constexpr const char* defaultSourceName = "@DEFAULT_SOURCE@";
constexpr const char* streamName = "recording";

// Written in one piece so lines from several threads do not interleave.
void writeDiagnostic(const std::string& message) { std::cerr << "[pulse] " + message + "\n"; }

std::string errorText(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

bool sameFormat(const AudioFormat& first, const AudioFormat& second) {
  return first.sampleRate == second.sampleRate && first.channelCount == second.channelCount;
}

// Spreads `frames` interleaved float frames over `channels` from `offset` on, in one read of `source`; a null
// `source` is a hole, which becomes silence. The server's memory guarantees no alignment, hence the copies.
void deinterleave(const std::byte* source, std::size_t frames, std::vector<std::vector<float>>& channels,
                  std::size_t offset) {
  const std::size_t channelCount = channels.size();
  if (source == nullptr) {
    for (auto& channel : channels) std::fill_n(channel.data() + offset, frames, 0.0F);
  } else if (channelCount == 1) {
    std::memcpy(channels.front().data() + offset, source, frames * sizeof(float));
  } else {
    // Frame by frame, so the server's memory is read once, front to back, however many channels it holds.
    std::array<float*, PA_CHANNELS_MAX> targets{};
    for (std::size_t channel = 0; channel < channelCount; ++channel) targets[channel] = channels[channel].data() + offset;
    const std::byte* sample = source;
    for (std::size_t frame = 0; frame < frames; ++frame) {
      for (std::size_t channel = 0; channel < channelCount; ++channel, sample += sizeof(float)) {
        std::memcpy(targets[channel] + frame, sample, sizeof(float));
      }
    }
  }
}

void release(pa_context* context, pa_stream* stream) {
  if (stream != nullptr) {
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
  }
  releaseContext(context);
}

}  // namespace

struct PulseAudioInput::SourceFacts {
  std::string name;
  pa_sample_spec sampleFormat{};
  pa_channel_map channelMap{};
  bool isMonitor = false;

  [[nodiscard]] AudioFormat format() const {
    return AudioFormat{double(sampleFormat.rate), int(sampleFormat.channels)};
  }
};

struct PulseAudioInput::ServerCallbacks {
  static void changed(pa_context* context, pa_subscription_event_type_t /*event*/, std::uint32_t /*index*/,
                      void* userdata) {
    auto* self = static_cast<PulseAudioInput*>(userdata);
    if (context != self->context_ || !self->running_) return;
    if (pa_operation* query = pa_context_get_server_info(context, answered, self)) pa_operation_unref(query);
  }

  // A recording keeps the source it was opened on; a new default input means the user picked another
  // microphone, which the owner follows by starting again.
  static void answered(pa_context* context, const pa_server_info* info, void* userdata) {
    auto* self = static_cast<PulseAudioInput*>(userdata);
    if (context != self->context_ || !self->running_ || info == nullptr || info->default_source_name == nullptr) {
      return;
    }
    if (self->sessionSourceName_ == info->default_source_name) return;
    writeDiagnostic(std::string("the default input is now \"") + info->default_source_name + "\"; recording stopped");
    // Inside the connection's own callback: it is released once the loop has left it.
    self->retireSession();
    self->reportConfigurationChange();
  }
};

PulseAudioInput::PulseAudioInput(std::string server, std::string applicationName)
    : server_(std::move(server)),
      applicationName_(std::move(applicationName)),
      mainloop_(startedThreadedLoop("pulse-input", "audio thread", writeDiagnostic)) {}

PulseAudioInput::~PulseAudioInput() {
  if (mainloop_ == nullptr) return;
  {
    LoopLock lock(mainloop_, &callersWaiting_);
    endSession();
    releaseRetired();
    tap_ = nullptr;
  }
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

MicAuthorization PulseAudioInput::authorization() {
  return probeFormat() ? MicAuthorization::authorized : MicAuthorization::denied;
}

// There is no prompt on this platform: access is whatever the sound server allows right now.
void PulseAudioInput::requestAccess(std::function<void(bool granted)> completion) {
  const bool granted = authorization() == MicAuthorization::authorized;
  if (completion) completion(granted);
}

std::optional<AudioFormat> PulseAudioInput::hardwareFormat() {
  {
    std::lock_guard lock(formatMutex_);
    if (format_) return format_;
  }
  return probeFormat();
}

bool PulseAudioInput::voiceProcessingEnabled() { return false; }

Status PulseAudioInput::setVoiceProcessingEnabled(bool enabled) {
  if (enabled) return Error("voice processing is not available");
  return succeeded();
}

void PulseAudioInput::installTap(std::size_t bufferFrames, Tap tap) {
  LoopLock lock(mainloop_, &callersWaiting_);
  detachTap();
  bufferFrames_ = std::max<std::size_t>(bufferFrames, 1);
  tap_ = std::move(tap);
}

void PulseAudioInput::removeTap() {
  LoopLock lock(mainloop_, &callersWaiting_);
  if (!insideTap()) collectTail();
  detachTap();
}

Status PulseAudioInput::start() {
  if (mainloop_ == nullptr) return Error("the audio thread could not be started");
  if (insideTap()) {
    if (running_) return succeeded();
    return Error("recording cannot start from inside the tap");
  }
  std::lock_guard serialized(startMutex_);
  LoopLock lock(mainloop_, &callersWaiting_);
  if (running_) return succeeded();
  endSession();

  std::string error;
  pa_context* context = connect(error);
  if (context == nullptr) return Error(error);
  const auto source = defaultSource(context, error);
  if (!source) {
    release(context, nullptr);
    return Error(error);
  }
  context_ = context;
  if (source->isMonitor) {
    writeDiagnostic("the default input \"" + source->name +
                    "\" is the monitor of an output, not a microphone; recording it as the sound server chose");
  }
  if (auto opened = openStream(*source); opened.failed()) {
    endSession();
    return opened;
  }
  rememberFormat(sessionFormat_);
  sessionSourceName_ = source->name;
  running_ = true;
  watchDefaultSource();
  return succeeded();
}

void PulseAudioInput::stop() {
  if (mainloop_ == nullptr) return;
  LoopLock lock(mainloop_, &callersWaiting_);
  if (insideTap()) {
    retireSession();
    return;
  }
  collectTail();
  endSession();
}

bool PulseAudioInput::isRunning() const { return running_; }

std::uint64_t PulseAudioInput::fragmentMicroseconds(std::size_t bufferFrames, std::uint32_t sampleRate) {
  if (bufferFrames == 0 || sampleRate == 0) return shortestFragment;
  const auto tapDuration = pa_usec_t(double(bufferFrames) * double(PA_USEC_PER_SEC) / double(sampleRate));
  return std::clamp(tapDuration, shortestFragment, longestFragment);
}

void PulseAudioInput::setConfigurationChangeHandler(ConfigurationChanged handler) {
  LoopLock lock(mainloop_, &callersWaiting_);
  configurationChanged_ = std::move(handler);
}

void PulseAudioInput::contextStateChanged(pa_context* context, void* userdata) {
  auto* self = static_cast<PulseAudioInput*>(userdata);
  pa_threaded_mainloop_signal(self->mainloop_, 0);
  if (context == self->context_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
    self->reportLoss("lost the sound server (" + errorText(context) + ")");
  }
}

void PulseAudioInput::streamStateChanged(pa_stream* stream, void* userdata) {
  auto* self = static_cast<PulseAudioInput*>(userdata);
  pa_threaded_mainloop_signal(self->mainloop_, 0);
  if (stream == self->stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
    self->reportLoss("the recording stream failed (" + errorText(pa_stream_get_context(stream)) + ")");
  }
}

void PulseAudioInput::streamReadable(pa_stream* stream, std::size_t /*bytes*/, void* userdata) {
  static_cast<PulseAudioInput*>(userdata)->readAvailable(stream);
}

pa_context* PulseAudioInput::connect(std::string& error) {
  pa_context* context = beginConnecting(pa_threaded_mainloop_get_api(mainloop_), server_, applicationName_,
                                        contextStateChanged, this, error);
  if (context == nullptr) return nullptr;
  const bool settled = waitFor(context, [context] {
    const pa_context_state_t state = pa_context_get_state(context);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  });
  if (!settled) {
    error = std::string("the sound server did not answer within ") + answerTimeoutText;
  } else if (pa_context_get_state(context) != PA_CONTEXT_READY) {
    error = "cannot reach the sound server (" + errorText(context) + ")";
  } else {
    return context;
  }
  release(context, nullptr);
  return nullptr;
}

std::optional<PulseAudioInput::SourceFacts> PulseAudioInput::defaultSource(pa_context* context, std::string& error) {
  struct Query {
    pa_threaded_mainloop* mainloop = nullptr;
    std::optional<SourceFacts> source;
    bool finished = false;
  } query{mainloop_, std::nullopt, false};

  auto answered = [](pa_context* /*context*/, const pa_source_info* info, int endOfList, void* userdata) {
    auto* pending = static_cast<Query*>(userdata);
    if (endOfList == 0 && info != nullptr) {
      pending->source = SourceFacts{info->name, info->sample_spec, info->channel_map,
                                    info->monitor_of_sink != PA_INVALID_INDEX};
    } else {
      pending->finished = true;
    }
    pa_threaded_mainloop_signal(pending->mainloop, 0);
  };
  pa_operation* operation = pa_context_get_source_info_by_name(context, defaultSourceName, answered, &query);
  if (operation == nullptr) {
    error = "cannot ask the sound server for its input (" + errorText(context) + ")";
    return std::nullopt;
  }
  const bool finished = waitFor(context, [&query] { return query.finished; });
  // The query lives on this stack frame; a late answer must not reach it.
  if (!finished) pa_operation_cancel(operation);
  pa_operation_unref(operation);

  if (!finished) {
    error = std::string("the sound server did not answer within ") + answerTimeoutText;
  } else if (!query.source) {
    error = pa_context_errno(context) == PA_ERR_NOENTITY
                ? "the sound server has no input source"
                : "cannot ask the sound server for its input (" + errorText(context) + ")";
  }
  return query.source;
}

Status PulseAudioInput::openStream(const SourceFacts& source) {
  // Float at the source's own rate and channel layout, so the server converts nothing but the sample type.
  const pa_sample_spec streamFormat{PA_SAMPLE_FLOAT32NE, source.sampleFormat.rate, source.sampleFormat.channels};
  const pa_channel_map* channelMap =
      pa_channel_map_compatible(&source.channelMap, &streamFormat) != 0 ? &source.channelMap : nullptr;
  pa_stream* stream = pa_stream_new(context_, streamName, &streamFormat, channelMap);
  if (stream == nullptr) return Error("cannot create a recording stream (" + errorText(context_) + ")");
  stream_ = stream;
  sessionFormat_ = source.format();
  pa_stream_set_state_callback(stream, streamStateChanged, this);
  pa_stream_set_read_callback(stream, streamReadable, this);

  constexpr std::uint32_t serverChooses = std::numeric_limits<std::uint32_t>::max();
  pa_buffer_attr attributes{};
  attributes.maxlength = serverChooses;
  attributes.tlength = serverChooses;
  attributes.prebuf = serverChooses;
  attributes.minreq = serverChooses;
  attributes.fragsize =
      static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentMicroseconds(bufferFrames_, streamFormat.rate), &streamFormat));
  framesRead_ = 0;

  // Audio that arrives while this call still waits for the stream to settle is kept.
  capturing_ = true;
  if (pa_stream_connect_record(stream, source.name.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0) {
    return Error("cannot open the recording stream (" + errorText(context_) + ")");
  }
  const bool settled = waitFor(context_, [this, stream] {
    return stream_ != stream || pa_stream_get_state(stream) == PA_STREAM_READY ||
           !PA_STREAM_IS_GOOD(pa_stream_get_state(stream));
  });
  if (stream_ != stream) return Error("recording was stopped while it started");
  if (!settled) return Error(std::string("the sound server did not open the recording within ") + answerTimeoutText);
  if (pa_stream_get_state(stream) != PA_STREAM_READY) {
    return Error("cannot open the recording stream (" + errorText(context_) + ")");
  }
  return succeeded();
}

template <typename Done>
bool PulseAudioInput::waitFor(pa_context* context, Done done, pa_usec_t timeout) {
  return waitOnLoop(mainloop_, context, done, timeout);
}

void PulseAudioInput::endSession() {
  release(context_, stream_);
  forgetSession();
}

// A tap runs inside the stream's read callback, so there the connection is only set aside and
// released once the loop has left that callback.
void PulseAudioInput::retireSession() {
  if (context_ != nullptr || stream_ != nullptr) {
    retired_.emplace_back(context_, stream_);
    pa_mainloop_api_once(
        pa_threaded_mainloop_get_api(mainloop_),
        [](pa_mainloop_api* /*api*/, void* userdata) { static_cast<PulseAudioInput*>(userdata)->releaseRetired(); },
        this);
  }
  forgetSession();
}

// A start waiting for its stream learns from the signal that the stream is gone.
void PulseAudioInput::forgetSession() {
  context_ = nullptr;
  stream_ = nullptr;
  capturing_ = false;
  running_ = false;
  rememberFormat(std::nullopt);
  pa_threaded_mainloop_signal(mainloop_, 0);
}

void PulseAudioInput::releaseRetired() {
  for (const auto& [context, stream] : retired_) release(context, stream);
  retired_.clear();
}

// The connection is left for stop or the next start to release: this runs inside its own callbacks.
// The device may still hold up to one fragment the server has not sent. The stream's clock says how much
// audio exists up to this instant; with small fragments asked for, the server sends the rest at once.
void PulseAudioInput::collectTail() {
  pa_stream* stream = stream_;
  if (stream == nullptr || !capturing_ || !tap_ || pa_stream_get_state(stream) != PA_STREAM_READY) return;
  struct TailCollection {
    PulseAudioInput& input;
    ~TailCollection() {
      input.collectingTail_ = false;
      input.tailTarget_.reset();
    }
  } collection{*this};
  collectingTail_ = true;

  struct TimingAnswer {
    pa_threaded_mainloop* mainloop = nullptr;
    bool answered = false;
    bool succeeded = false;
  } timing{mainloop_};
  pa_operation* update = pa_stream_update_timing_info(
      stream,
      [](pa_stream* /*stream*/, int success, void* userdata) {
        auto* answer = static_cast<TimingAnswer*>(userdata);
        answer->answered = true;
        answer->succeeded = success != 0;
        pa_threaded_mainloop_signal(answer->mainloop, 0);
      },
      &timing);
  if (update == nullptr) return;
  waitFor(context_, [&] { return timing.answered || stream_ != stream; }, tailTimeout);
  // An answer that never came must not call back into this frame later.
  pa_operation_cancel(update);
  pa_operation_unref(update);
  pa_usec_t captured = 0;
  if (stream_ != stream || !timing.succeeded || pa_stream_get_time(stream, &captured) < 0) return;

  // The clock is an estimate in microseconds and lands a few frames either side of what the server sent;
  // waiting for those few would wait for the device's next fragment, so a shortfall of under a millisecond
  // counts as having it all.
  const pa_sample_spec* format = pa_stream_get_sample_spec(stream);
  const auto clockSlack = std::uint64_t(format->rate / 1000);
  const auto estimatedFrames = std::uint64_t(double(captured) * double(format->rate) / double(PA_USEC_PER_SEC));
  const std::uint64_t capturedFrames = estimatedFrames > clockSlack ? estimatedFrames - clockSlack : 0;
  if (framesRead_ >= capturedFrames) return;
  tailTarget_ = capturedFrames;
  pa_buffer_attr attributes = *pa_stream_get_buffer_attr(stream);
  attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(tailFragment, format));
  if (pa_operation* shrink = pa_stream_set_buffer_attr(stream, &attributes, nullptr, nullptr)) {
    pa_operation_unref(shrink);
  }
  waitFor(context_, [&] { return stream_ != stream || framesRead_ >= capturedFrames; }, tailTimeout);
}

// Subscribing before asking leaves no gap: a change after the answer arrives as an event after it.
void PulseAudioInput::watchDefaultSource() {
  pa_context_set_subscribe_callback(context_, ServerCallbacks::changed, this);
  if (pa_operation* subscription = pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr)) {
    pa_operation_unref(subscription);
  }
  if (pa_operation* query = pa_context_get_server_info(context_, ServerCallbacks::answered, this)) {
    pa_operation_unref(query);
  }
}

void PulseAudioInput::reportLoss(const std::string& what) {
  capturing_ = false;
  rememberFormat(std::nullopt);
  if (running_.exchange(false)) {
    writeDiagnostic(what + "; recording stopped");
    reportConfigurationChange();
  }
}

void PulseAudioInput::reportConfigurationChange() {
  if (configurationChanged_) configurationChanged_();
}

void PulseAudioInput::readAvailable(pa_stream* stream) {
  const std::size_t frameBytes = sizeof(float) * std::size_t(std::max(sessionFormat_.channelCount, 1));
  // A tap may stop recording, which detaches the stream from this object; nothing reads it after that.
  // A caller waiting for the lock (removeTap, stop) goes first, or a tap slower than the audio would
  // keep it out for as long as the backlog lasts; what is left is read with the next fragment.
  const auto tailHeld = [this] { return collectingTail_ && (!tailTarget_ || framesRead_ >= *tailTarget_); };
  while (stream == stream_ && callersWaiting_ == 0 && !tailHeld()) {
    const std::size_t readable = pa_stream_readable_size(stream);
    if (readable == 0 || readable == std::numeric_limits<std::size_t>::max()) return;
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    framesRead_ += bytes / frameBytes;
    if (capturing_) append(data, bytes / frameBytes);
    if (stream == stream_) pa_stream_drop(stream);
    if (collectingTail_) pa_threaded_mainloop_signal(mainloop_, 0);
  }
}

// `data` holds interleaved frames, or is null for a hole in the recording, which becomes silence. The frames
// go from the server's memory straight into the tap buffer: the stream keeps them until they are dropped,
// and a tap that stops recording only sets the stream aside.
void PulseAudioInput::append(const void* data, std::size_t frames) {
  if (!tap_ || frames == 0) return;
  // Audio left from a session with another source goes out on its own before the new format starts.
  if (pendingFrames_ > 0 && !sameFormat(pendingFormat_, sessionFormat_)) deliverPending();

  const auto channelCount = std::size_t(sessionFormat_.channelCount);
  const auto* bytes = static_cast<const std::byte*>(data);
  // The tap may stop recording or detach itself; the rest of the fragment then goes nowhere.
  std::size_t done = 0;
  while (done < frames && tap_ && capturing_) {
    if (pendingFrames_ == 0) {
      pendingFormat_ = sessionFormat_;
      pending_.resize(channelCount);
      for (auto& channel : pending_) channel.resize(bufferFrames_);
    }
    const std::size_t count = std::min(frames - done, bufferFrames_ - pendingFrames_);
    deinterleave(bytes == nullptr ? nullptr : bytes + done * channelCount * sizeof(float), count, pending_,
                 pendingFrames_);
    pendingFrames_ += count;
    done += count;
    if (pendingFrames_ == bufferFrames_) deliverPending();
  }
}

void PulseAudioInput::deliverPending() {
  if (pendingFrames_ == 0 || !tap_) return;
  delivery_.channels.clear();
  for (const auto& channel : pending_) delivery_.channels.push_back(channel.data());
  delivery_.frameCount = pendingFrames_;
  delivery_.format = pendingFormat_;
  pendingFrames_ = 0;

  // The tap may remove or replace itself while it runs; it is put back only if it did neither.
  const unsigned generation = tapGeneration_;
  Tap tap = std::exchange(tap_, nullptr);
  const std::thread::id outerTapThread = tapThread_.exchange(std::this_thread::get_id());
  tap(delivery_);
  tapThread_ = outerTapThread;
  if (generation == tapGeneration_) tap_ = std::move(tap);
}

void PulseAudioInput::detachTap() {
  deliverPending();
  tap_ = nullptr;
  ++tapGeneration_;
  pendingFrames_ = 0;
}

std::optional<AudioFormat> PulseAudioInput::probeFormat() {
  // A tap cannot wait for the server: the loop that would bring the answer is busy running the tap.
  if (mainloop_ == nullptr || insideTap()) {
    std::lock_guard lock(formatMutex_);
    return format_;
  }
  LoopLock lock(mainloop_, &callersWaiting_);
  std::string ignored;
  std::optional<AudioFormat> format;
  if (pa_context* context = connect(ignored)) {
    if (auto source = defaultSource(context, ignored)) format = source->format();
    release(context, nullptr);
  }
  // While recording, the cache keeps the format the buffers carry.
  if (!running_) rememberFormat(format);
  return format;
}

void PulseAudioInput::rememberFormat(std::optional<AudioFormat> format) {
  std::lock_guard lock(formatMutex_);
  format_ = format;
}

bool PulseAudioInput::insideTap() const { return tapThread_.load() == std::this_thread::get_id(); }

}  // namespace quillet::platform::pulse
