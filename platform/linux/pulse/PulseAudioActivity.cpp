#include "platform/linux/pulse/PulseAudioActivity.h"

#include <pulse/context.h>
#include <pulse/def.h>
#include <pulse/introspect.h>
#include <pulse/mainloop-api.h>
#include <pulse/proplist.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/linux/pulse/PulseContext.h"

namespace quillet::platform::pulse {

namespace {

constexpr const char* clientName = "quillet audio activity";

// The first retry comes soon, for a server that is just restarting; a server that stays away is asked
// every few seconds, which costs nothing worth measuring.
constexpr pa_usec_t firstRetryDelay = 500 * PA_USEC_PER_MSEC;
constexpr pa_usec_t longestRetryDelay = 4 * PA_USEC_PER_SEC;

// How PipeWire marks a PA_STREAM_PEAK_DETECT stream; PulseAudio shows it as the resample method "peaks".
constexpr const char* peaksProperty = "resample.peaks";
constexpr std::string_view peaksResampleMethod = "peaks";
// PulseAudio builds no resampler for a peak stream already in the source's format, so nothing in the
// stream's info tells it from a recording; pavucontrol, whose meters are the common case, names it so.
constexpr const char* streamNameProperty = "media.name";
constexpr std::string_view peakStreamName = "Peak detect";

std::optional<std::string> property(const pa_proplist* properties, const char* key) {
  const char* value = pa_proplist_gets(properties, key);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

bool isPeakDetection(const char* resampleMethod, const pa_proplist* properties) {
  if (resampleMethod != nullptr && resampleMethod == peaksResampleMethod) return true;
  const auto peaks = property(properties, peaksProperty);
  return peaks == "true" || peaks == "1" || property(properties, streamNameProperty) == peakStreamName;
}

void forget(pa_operation* operation) {
  if (operation != nullptr) pa_operation_unref(operation);
}

}  // namespace

struct PulseAudioActivity::Callbacks {
  static PulseAudioActivity* current(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseAudioActivity*>(userdata);
    // Answers for a connection given up since are of no interest.
    return context == self->context_ ? self : nullptr;
  }

  static Stream streamFrom(const pa_proplist* properties, const std::string& localHostName) {
    Stream stream;
    stream.owner = StreamOwner::from(properties, localHostName);
    return stream;
  }

  static void contextStateChanged(pa_context* context, void* userdata) {
    PulseAudioActivity* self = current(context, userdata);
    if (self == nullptr) return;
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
      self->retryDelayMicroseconds_ = firstRetryDelay;
      self->watchServer();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
      // The connection is released by the retry, outside of its own callback.
      self->forgetEverything();
      self->retryLater();
    }
  }

  static void serverChanged(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index,
                            void* userdata) {
    PulseAudioActivity* self = current(context, userdata);
    if (self == nullptr) return;
    const unsigned facility = unsigned(event) & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if ((unsigned(event) & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
      std::lock_guard lock(self->cacheMutex_);
      if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) self->sourceIsMonitor_.erase(index);
      if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT) self->recordings_.erase(index);
      if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) self->playbacks_.erase(index);
      return;
    }
    // New and changed objects are read again whole; the answer replaces what the cache held.
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
      forget(pa_context_get_source_info_by_index(context, index, sourceAnswered, self));
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT) {
      forget(pa_context_get_source_output_info(context, index, recordingAnswered, self));
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
      forget(pa_context_get_sink_input_info(context, index, playbackAnswered, self));
    }
  }

  // An object gone before its answer was made ends the list with an error and no entry: nothing to keep.
  static void sourceAnswered(pa_context* context, const pa_source_info* info, int endOfList, void* userdata) {
    PulseAudioActivity* self = current(context, userdata);
    if (self == nullptr || endOfList != 0 || info == nullptr) return;
    std::lock_guard lock(self->cacheMutex_);
    self->sourceIsMonitor_[info->index] = info->monitor_of_sink != PA_INVALID_INDEX;
  }

  static void recordingAnswered(pa_context* context, const pa_source_output_info* info, int endOfList,
                                void* userdata) {
    PulseAudioActivity* self = current(context, userdata);
    if (self == nullptr || endOfList != 0 || info == nullptr) return;
    Stream stream = streamFrom(info->proplist, self->localHostName_);
    stream.source = info->source;
    stream.corked = info->corked != 0;
    stream.levelMeter = isPeakDetection(info->resample_method, info->proplist);
    std::lock_guard lock(self->cacheMutex_);
    self->recordings_[info->index] = std::move(stream);
  }

  static void playbackAnswered(pa_context* context, const pa_sink_input_info* info, int endOfList, void* userdata) {
    PulseAudioActivity* self = current(context, userdata);
    if (self == nullptr || endOfList != 0 || info == nullptr) return;
    Stream stream = streamFrom(info->proplist, self->localHostName_);
    stream.corked = info->corked != 0;
    std::lock_guard lock(self->cacheMutex_);
    self->playbacks_[info->index] = std::move(stream);
  }

  static void retryDue(pa_mainloop_api* /*api*/, pa_time_event* /*event*/, const timeval* /*time*/,
                       void* userdata) {
    static_cast<PulseAudioActivity*>(userdata)->connect();
  }
};

PulseAudioActivity::PulseAudioActivity(AppIdentity& identity, std::string server)
    : identity_(identity),
      server_(std::move(server)),
      localHostName_(StreamOwner::localHostName()),
      mainloop_(pa_threaded_mainloop_new()),
      retryDelayMicroseconds_(firstRetryDelay) {
  // Without its thread this object only ever answers "nothing runs", which is what an absent server looks like.
  if (mainloop_ == nullptr) return;
  pa_threaded_mainloop_set_name(mainloop_, "pulse-activity");
  pa_threaded_mainloop_lock(mainloop_);
  connect();
  pa_threaded_mainloop_unlock(mainloop_);
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    releaseContext(std::exchange(context_, nullptr));
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    if (retryTimer_ != nullptr) api->time_free(std::exchange(retryTimer_, nullptr));
    pa_threaded_mainloop_free(std::exchange(mainloop_, nullptr));
  }
}

// Nothing here waits for the server: closing a connection to a frozen server is as quick as to a live one.
PulseAudioActivity::~PulseAudioActivity() {
  if (mainloop_ == nullptr) return;
  pa_threaded_mainloop_lock(mainloop_);
  releaseContext(std::exchange(context_, nullptr));
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
  if (retryTimer_ != nullptr) api->time_free(std::exchange(retryTimer_, nullptr));
  pa_threaded_mainloop_unlock(mainloop_);
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

bool PulseAudioActivity::isInputRunning() { return !countedRecordings().empty(); }

bool PulseAudioActivity::isOutputRunning() { return !countedPlaybacks().empty(); }

std::vector<std::optional<std::string>> PulseAudioActivity::inputHolders() { return holdersOf(countedRecordings()); }

std::vector<std::optional<std::string>> PulseAudioActivity::outputHolders() { return holdersOf(countedPlaybacks()); }

void PulseAudioActivity::connect() {
  releaseContext(std::exchange(context_, nullptr));
  std::string ignored;
  context_ = beginConnecting(pa_threaded_mainloop_get_api(mainloop_), server_, clientName,
                             Callbacks::contextStateChanged, this, ignored);
  // A connection can fail before beginConnecting returns, when its failure cannot yet be told apart as ours.
  if (context_ == nullptr || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) retryLater();
}

void PulseAudioActivity::retryLater() {
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
  // The main loop turns the time of day into its own monotonic clock at once, so a clock step cannot stretch it.
  timeval due{};
  pa_timeval_add(pa_gettimeofday(&due), retryDelayMicroseconds_);
  if (retryTimer_ == nullptr) {
    retryTimer_ = api->time_new(api, &due, Callbacks::retryDue, this);
  } else {
    api->time_restart(retryTimer_, &due);
  }
  retryDelayMicroseconds_ = std::min(retryDelayMicroseconds_ * 2, std::uint64_t(longestRetryDelay));
}

// Subscribing before listing leaves no gap: whatever changes after a list's answer arrives as an event after it.
void PulseAudioActivity::watchServer() {
  pa_context_set_subscribe_callback(context_, Callbacks::serverChanged, this);
  const auto watched = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT |
                                              PA_SUBSCRIPTION_MASK_SINK_INPUT);
  forget(pa_context_subscribe(context_, watched, nullptr, nullptr));
  forget(pa_context_get_source_info_list(context_, Callbacks::sourceAnswered, this));
  forget(pa_context_get_source_output_info_list(context_, Callbacks::recordingAnswered, this));
  forget(pa_context_get_sink_input_info_list(context_, Callbacks::playbackAnswered, this));
}

void PulseAudioActivity::forgetEverything() {
  std::lock_guard lock(cacheMutex_);
  sourceIsMonitor_.clear();
  recordings_.clear();
  playbacks_.clear();
}

// A recording counts when it records from a microphone rather than from what an output plays, runs, does
// more than watch levels and is not ours. A source not heard of yet counts once it is.
std::vector<PulseAudioActivity::Stream> PulseAudioActivity::countedRecordings() {
  const int ownProcessId = identity_.ownProcessId();
  std::vector<Stream> counted;
  std::lock_guard lock(cacheMutex_);
  for (const auto& [index, stream] : recordings_) {
    const auto source = sourceIsMonitor_.find(stream.source);
    const bool fromMicrophone = source != sourceIsMonitor_.end() && !source->second;
    if (fromMicrophone && !stream.corked && !stream.levelMeter && !stream.owner.isProcess(ownProcessId)) {
      counted.push_back(stream);
    }
  }
  return counted;
}

std::vector<PulseAudioActivity::Stream> PulseAudioActivity::countedPlaybacks() {
  const int ownProcessId = identity_.ownProcessId();
  std::vector<Stream> counted;
  std::lock_guard lock(cacheMutex_);
  for (const auto& [index, stream] : playbacks_) {
    if (!stream.corked && !stream.owner.isProcess(ownProcessId)) counted.push_back(stream);
  }
  return counted;
}

// Named outside the cache's lock: naming a process reads /proc, which the loop's thread must not wait for.
std::vector<std::optional<std::string>> PulseAudioActivity::holdersOf(const std::vector<Stream>& streams) {
  std::vector<std::optional<std::string>> holders;
  holders.reserve(streams.size());
  for (const auto& stream : streams) holders.push_back(holderOf(stream));
  return holders;
}

std::optional<std::string> PulseAudioActivity::holderOf(const Stream& stream) { return stream.owner.bundleId(identity_); }

}  // namespace quillet::platform::pulse
