#include "platform/linux/pulse/PulseSystemAudioInput.h"

#include <unistd.h>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <iostream>
#include <limits>
#include <utility>

#include "platform/linux/proc/RunningProcessList.h"
#include "platform/linux/pulse/PulseContext.h"
#include "platform/linux/pulse/ThreadedLoop.h"

namespace quillet::platform::pulse {

namespace {

// Long enough for a busy desktop server, short enough that a stuck one reads as an error rather than a hang.
constexpr pa_usec_t answerTimeout = 3 * PA_USEC_PER_SEC;
constexpr const char* answerTimeoutText = "3 seconds";

// The key of the one recording of a whole output; sink input indices never take it.
constexpr std::uint32_t wholeOutput = PA_INVALID_INDEX;
constexpr const char* defaultMonitor = "@DEFAULT_MONITOR@";
constexpr const char* streamName = "system audio";
// Small fragments keep the mix moving; a tenth of a second per mixed block is what a transcriber wants.
constexpr pa_usec_t fragment = 50 * PA_USEC_PER_MSEC;
constexpr double blocksPerSecond = 10;
// How far a one-application recording may fall behind the clock before silence makes up the gap: more than
// a monitor's fragment and a mixed block, so audio that is merely on its way is never doubled by silence.
constexpr double silenceLagLimitSeconds = 0.3;
constexpr pa_usec_t silenceCheckPeriod = 100 * PA_USEC_PER_MSEC;

// Written in one piece so lines from several threads do not interleave.
void writeDiagnostic(const std::string& message) { std::cerr << "[pulse] " + message + "\n"; }

std::string errorText(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

void forget(pa_operation* operation) {
  if (operation != nullptr) pa_operation_unref(operation);
}

void release(pa_stream* stream) {
  if (stream == nullptr) return;
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
}

}  // namespace

struct PulseSystemAudioInput::Callbacks {
  static void contextStateChanged(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseSystemAudioInput*>(userdata);
    pa_threaded_mainloop_signal(self->mainloop_, 0);
    if (context == self->context_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
      self->fail("lost the sound server (" + errorText(context) + ")");
    }
  }

  static void streamStateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseSystemAudioInput*>(userdata);
    pa_threaded_mainloop_signal(self->mainloop_, 0);
    const auto key = self->keyOf(stream);
    if (!key || PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) return;
    if (*key == wholeOutput) {
      self->fail("the recording stream failed (" + errorText(pa_stream_get_context(stream)) + ")");
    } else {
      // The application closed that stream, or its output went away; the rest of the mix goes on.
      self->closeRecording(*key);
    }
  }

  static void silenceDue(pa_mainloop_api* /*api*/, pa_time_event* event, const struct timeval* /*time*/,
                         void* userdata) {
    auto* self = static_cast<PulseSystemAudioInput*>(userdata);
    self->fillSilence(false);
    if (self->context_ != nullptr) pa_context_rttime_restart(self->context_, event, pa_rtclock_now() + silenceCheckPeriod);
  }

  static void streamReadable(pa_stream* stream, std::size_t /*bytes*/, void* userdata) {
    static_cast<PulseSystemAudioInput*>(userdata)->read(stream);
  }

  static void serverChanged(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index,
                            void* userdata) {
    auto* self = static_cast<PulseSystemAudioInput*>(userdata);
    if (context != self->context_ ||
        (unsigned(event) & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
      return;
    }
    if ((unsigned(event) & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
      self->closeRecording(index);
    } else {
      forget(pa_context_get_sink_input_info(context, index, sinkInputAnswered, self));
    }
  }

  static void sinkInputAnswered(pa_context* context, const pa_sink_input_info* info, int endOfList,
                                void* userdata) {
    auto* self = static_cast<PulseSystemAudioInput*>(userdata);
    if (context != self->context_ || endOfList != 0 || info == nullptr) return;
    self->consider(info->index, info->sink, StreamOwner::from(info->proplist, self->localHostName_));
  }

  static void sinkAnswered(pa_context* context, const pa_sink_info* info, int endOfList, void* userdata) {
    auto* self = static_cast<PulseSystemAudioInput*>(userdata);
    if (context != self->context_ || endOfList != 0 || info == nullptr) return;
    std::vector<std::uint32_t> waiting;
    for (const auto& [key, recording] : self->recordings_) {
      if (recording.sink == info->index && recording.stream == nullptr) waiting.push_back(key);
    }
    for (const auto key : waiting) self->openMonitor(key, std::to_string(info->monitor_source));
  }
};

PulseSystemAudioInput::PulseSystemAudioInput(AppIdentity& identity, std::string server, std::string applicationName)
    : identity_(identity),
      server_(std::move(server)),
      applicationName_(std::move(applicationName)),
      localHostName_(StreamOwner::localHostName()),
      mainloop_(startedThreadedLoop("pulse-system-audio", "system audio thread", writeDiagnostic)) {}

PulseSystemAudioInput::~PulseSystemAudioInput() {
  if (mainloop_ == nullptr) return;
  {
    LoopLock lock(mainloop_);
    endSession();
  }
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

Expected<SystemAudioContent, SystemAudioFailure> PulseSystemAudioInput::shareableContent() {
  if (mainloop_ == nullptr) return SystemAudioFailure{"the system audio thread could not be started"};
  // Held only while the server is asked: reading the processes' identities needs no loop.
  std::optional<LoopLock> lock(std::in_place, mainloop_);
  std::string error;
  pa_context* context = connect(error);
  if (context == nullptr) return SystemAudioFailure{error};

  struct Query {
    PulseSystemAudioInput* self = nullptr;
    bool serverAnswered = false;
    bool streamsAnswered = false;
    bool hasOutput = false;
    std::vector<StreamOwner> owners;
  } query{this, false, false, false, {}};
  auto serverAnswered = [](pa_context* /*context*/, const pa_server_info* info, void* userdata) {
    auto* pending = static_cast<Query*>(userdata);
    pending->hasOutput = info != nullptr && info->default_sink_name != nullptr && *info->default_sink_name != '\0';
    pending->serverAnswered = true;
    pa_threaded_mainloop_signal(pending->self->mainloop_, 0);
  };
  auto streamAnswered = [](pa_context* /*context*/, const pa_sink_input_info* info, int endOfList, void* userdata) {
    auto* pending = static_cast<Query*>(userdata);
    if (endOfList == 0 && info != nullptr) {
      pending->owners.push_back(StreamOwner::from(info->proplist, pending->self->localHostName_));
    } else {
      pending->streamsAnswered = true;
    }
    pa_threaded_mainloop_signal(pending->self->mainloop_, 0);
  };
  pa_operation* server = pa_context_get_server_info(context, serverAnswered, &query);
  pa_operation* streams = pa_context_get_sink_input_info_list(context, streamAnswered, &query);
  const bool answered = server != nullptr && streams != nullptr &&
                        waitOnLoop(mainloop_, context, [&query] { return query.serverAnswered && query.streamsAnswered; },
                                   answerTimeout);
  // The query lives on this stack frame; a late answer must not reach it.
  for (pa_operation* operation : {server, streams}) {
    if (operation == nullptr) continue;
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
  }
  if (!answered) {
    error = server == nullptr || streams == nullptr
                ? "cannot ask the sound server what plays (" + errorText(context) + ")"
                : std::string("the sound server did not answer within ") + answerTimeoutText;
    releaseContext(context);
    return SystemAudioFailure{error};
  }
  releaseContext(context);
  lock.reset();

  SystemAudioContent content{query.hasOutput, {}, {}};
  const auto addOnce = [](std::vector<std::string>& identities, const std::optional<std::string>& bundleId) {
    if (bundleId && std::find(identities.begin(), identities.end(), *bundleId) == identities.end()) {
      identities.push_back(*bundleId);
    }
  };
  const int ownProcessId = identity_.ownProcessId();
  for (const auto& owner : query.owners) {
    if (!owner.isProcess(ownProcessId)) addOnce(content.applications, owner.bundleId(identity_));
  }
  // An application that runs but is silent now is still one whose sound can be recorded when it comes.
  proc::RunningProcessList running(identity_, proc::ProcessDirectory(), ::getuid());
  running.refresh();
  for (const auto& application : running.applications()) {
    if (application.processId != ownProcessId) addOnce(content.runningApplications, application.bundleId);
  }
  return content;
}

Status PulseSystemAudioInput::start(const SystemAudioScope& scope, AudioFormat format,
                                                        Output output, Failed failed) {
  if (mainloop_ == nullptr) return Error("the system audio thread could not be started");
  LoopLock lock(mainloop_);
  if (context_ != nullptr) return Error("system audio is already being recorded");
  std::string error;
  pa_context* context = connect(error);
  if (context == nullptr) return Error(error);
  context_ = context;
  application_ = scope.applicationBundleId;
  format_ = format;
  output_ = std::move(output);
  mixer_ = std::make_unique<MonitorMixer>(format, std::size_t(format.sampleRate / blocksPerSecond));
  if (application_) {
    silence_ = std::make_unique<ClockedSilence>(format, std::size_t(format.sampleRate / blocksPerSecond),
                                                silenceLagLimitSeconds);
    silence_->start(pa_rtclock_now());
    silenceTimer_ = pa_context_rttime_new(context_, pa_rtclock_now() + silenceCheckPeriod, Callbacks::silenceDue, this);
    followApplication();
  } else if (auto recording = recordWholeOutput(); recording.failed()) {
    endSession();
    return recording;
  }
  // Set last: a failure while starting is the start's answer, not a report.
  failed_ = std::move(failed);
  return succeeded();
}

void PulseSystemAudioInput::stop(Stopped stopped) {
  if (mainloop_ != nullptr) {
    LoopLock lock(mainloop_);
    if (mixer_ && output_) mixer_->flush([this](const AudioBuffer& buffer) { deliverMixed(buffer); });
    fillSilence(true);
    endSession();
  }
  if (stopped) stopped();
}

pa_context* PulseSystemAudioInput::connect(std::string& error) {
  pa_context* context = beginConnecting(pa_threaded_mainloop_get_api(mainloop_), server_, applicationName_,
                                        Callbacks::contextStateChanged, this, error);
  if (context == nullptr) return nullptr;
  const bool settled = waitOnLoop(
      mainloop_, context,
      [context] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
      },
      answerTimeout);
  if (!settled) {
    error = std::string("the sound server did not answer within ") + answerTimeoutText;
  } else if (pa_context_get_state(context) != PA_CONTEXT_READY) {
    error = "cannot reach the sound server (" + errorText(context) + ")";
  } else {
    return context;
  }
  releaseContext(context);
  return nullptr;
}

Status PulseSystemAudioInput::recordWholeOutput() {
  recordings_[wholeOutput] = Recording{wholeOutput, nullptr};
  openMonitor(wholeOutput, defaultMonitor);
  const auto found = recordings_.find(wholeOutput);
  pa_stream* stream = found == recordings_.end() ? nullptr : found->second.stream;
  if (stream == nullptr) return Error("cannot record the default output (" + errorText(context_) + ")");
  const bool settled = waitOnLoop(
      mainloop_, context_,
      [stream] {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
      },
      answerTimeout);
  if (!settled) return Error(std::string("the sound server did not open the recording within ") + answerTimeoutText);
  if (pa_stream_get_state(stream) != PA_STREAM_READY) {
    return Error("cannot record the default output (" + errorText(context_) + ")");
  }
  return succeeded();
}

// Subscribing before listing leaves no gap: a stream opened after the list's answer arrives as an event after it.
void PulseSystemAudioInput::followApplication() {
  pa_context_set_subscribe_callback(context_, Callbacks::serverChanged, this);
  forget(pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
  forget(pa_context_get_sink_input_info_list(context_, Callbacks::sinkInputAnswered, this));
}

void PulseSystemAudioInput::consider(std::uint32_t sinkInput, std::uint32_t sink, const StreamOwner& owner) {
  const auto found = recordings_.find(sinkInput);
  if (found != recordings_.end() && found->second.sink == sink) return;
  if (owner.isProcess(identity_.ownProcessId()) || owner.bundleId(identity_) != application_) return;
  // A stream moved to another output is recorded there from now on.
  if (found != recordings_.end()) closeRecording(sinkInput);
  recordings_[sinkInput] = Recording{sink, nullptr};
  forget(pa_context_get_sink_info_by_index(context_, sink, Callbacks::sinkAnswered, this));
}

void PulseSystemAudioInput::openMonitor(std::uint32_t key, const std::string& device) {
  const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, std::uint32_t(format_.sampleRate),
                              std::uint8_t(std::max(format_.channelCount, 1))};
  pa_stream* stream = pa_stream_new(context_, streamName, &format, nullptr);
  if (stream == nullptr) {
    writeDiagnostic("cannot create a recording of system audio (" + errorText(context_) + ")");
    recordings_.erase(key);
    return;
  }
  recordings_[key].stream = stream;
  pa_stream_set_state_callback(stream, Callbacks::streamStateChanged, this);
  pa_stream_set_read_callback(stream, Callbacks::streamReadable, this);
  auto flags = PA_STREAM_ADJUST_LATENCY;
  if (key != wholeOutput) {
    pa_stream_set_monitor_stream(stream, key);
    // A recording of one application stream belongs to the output it was opened on; a move is followed anew.
    flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
  }
  constexpr std::uint32_t serverChooses = std::numeric_limits<std::uint32_t>::max();
  pa_buffer_attr attributes{serverChooses, serverChooses, serverChooses, serverChooses,
                            std::uint32_t(pa_usec_to_bytes(fragment, &format))};
  mixer_->addInput(key);
  if (pa_stream_connect_record(stream, device.c_str(), &attributes, flags) < 0) {
    writeDiagnostic("cannot record from \"" + device + "\" (" + errorText(context_) + ")");
    closeRecording(key);
  }
}

void PulseSystemAudioInput::closeRecording(std::uint32_t key) {
  const auto found = recordings_.find(key);
  if (found == recordings_.end()) return;
  release(found->second.stream);
  recordings_.erase(found);
  if (mixer_) mixer_->removeInput(key);
}

void PulseSystemAudioInput::read(pa_stream* stream) {
  const auto key = keyOf(stream);
  if (!key || !mixer_) return;
  const std::size_t frameBytes = sizeof(float) * std::size_t(std::max(format_.channelCount, 1));
  for (;;) {
    const std::size_t readable = pa_stream_readable_size(stream);
    if (readable == 0 || readable == std::numeric_limits<std::size_t>::max()) break;
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
    mixer_->append(*key, static_cast<const float*>(data), bytes / frameBytes);
    pa_stream_drop(stream);
  }
  if (output_) mixer_->mixReady([this](const AudioBuffer& buffer) { deliverMixed(buffer); });
}

void PulseSystemAudioInput::deliverMixed(const AudioBuffer& buffer) {
  if (silence_) silence_->counted(buffer.frameCount);
  if (output_) output_(buffer);
}

void PulseSystemAudioInput::fillSilence(bool catchUp) {
  if (!silence_ || !mixer_ || !output_) return;
  silence_->fill(pa_rtclock_now(), mixer_->holdsAudio(), catchUp, output_);
}

void PulseSystemAudioInput::fail(const std::string& description) {
  if (auto failed = std::exchange(failed_, nullptr)) failed(description);
}

void PulseSystemAudioInput::endSession() {
  if (silenceTimer_ != nullptr) {
    pa_threaded_mainloop_get_api(mainloop_)->time_free(silenceTimer_);
    silenceTimer_ = nullptr;
  }
  silence_.reset();
  while (!recordings_.empty()) closeRecording(recordings_.begin()->first);
  releaseContext(std::exchange(context_, nullptr));
  application_.reset();
  output_ = nullptr;
  failed_ = nullptr;
  mixer_.reset();
}

std::optional<std::uint32_t> PulseSystemAudioInput::keyOf(const pa_stream* stream) const {
  for (const auto& [key, recording] : recordings_) {
    if (recording.stream == stream) return key;
  }
  return std::nullopt;
}

}  // namespace quillet::platform::pulse
