#include "bench/BareRecorder.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <limits>
#include <utility>

#include "platform/linux/pulse/PulseContext.h"
#include "platform/linux/pulse/ThreadedLoop.h"

namespace quillet::bench {

namespace {

using platform::pulse::LoopLock;
using platform::pulse::waitOnLoop;

constexpr pa_usec_t answerTimeout = 3 * PA_USEC_PER_SEC;

std::string errorText(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

}  // namespace

BareRecorder::BareRecorder(std::string server, const std::string& threadName)
    : server_(std::move(server)), mainloop_(pa_threaded_mainloop_new()) {
  if (mainloop_ == nullptr) return;
  pa_threaded_mainloop_set_name(mainloop_, threadName.c_str());
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
  }
}

BareRecorder::~BareRecorder() {
  if (mainloop_ == nullptr) return;
  stop();
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

Status BareRecorder::start(const pa_sample_spec& format, std::uint32_t fragmentBytes) {
  if (mainloop_ == nullptr) return Error("the recorder's main loop could not be started");
  LoopLock lock(mainloop_);
  if (auto connected = connect(); connected.failed()) return connected;
  if (auto opened = openStream(format, fragmentBytes); opened.failed()) {
    release();
    return opened;
  }
  return succeeded();
}

void BareRecorder::stop() {
  if (mainloop_ == nullptr) return;
  LoopLock lock(mainloop_);
  release();
}

void BareRecorder::stateChanged(pa_context* /*context*/, void* userdata) {
  pa_threaded_mainloop_signal(static_cast<BareRecorder*>(userdata)->mainloop_, 0);
}

void BareRecorder::streamStateChanged(pa_stream* /*stream*/, void* userdata) {
  pa_threaded_mainloop_signal(static_cast<BareRecorder*>(userdata)->mainloop_, 0);
}

void BareRecorder::readable(pa_stream* stream, std::size_t /*bytes*/, void* userdata) {
  auto* self = static_cast<BareRecorder*>(userdata);
  const void* data = nullptr;
  std::size_t bytes = 0;
  while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
    self->packets_.fetch_add(1, std::memory_order_relaxed);
    self->bytes_.fetch_add(bytes, std::memory_order_relaxed);
    pa_stream_drop(stream);
  }
}

Status BareRecorder::connect() {
  std::string error;
  context_ = platform::pulse::beginConnecting(pa_threaded_mainloop_get_api(mainloop_), server_, "quillet-bare-recorder",
                                              stateChanged, this, error);
  if (context_ == nullptr) return Error(error);
  pa_context* context = context_;
  waitOnLoop(
      mainloop_, context,
      [context] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
      },
      answerTimeout);
  if (pa_context_get_state(context) == PA_CONTEXT_READY) return succeeded();
  error = "cannot reach the sound server (" + errorText(context) + ")";
  release();
  return Error(error);
}

Status BareRecorder::openStream(const pa_sample_spec& format, std::uint32_t fragmentBytes) {
  stream_ = pa_stream_new(context_, "bare recording", &format, nullptr);
  if (stream_ == nullptr) return Error("cannot create a recording stream (" + errorText(context_) + ")");
  pa_stream_set_state_callback(stream_, streamStateChanged, this);
  pa_stream_set_read_callback(stream_, readable, this);
  constexpr std::uint32_t serverChooses = std::numeric_limits<std::uint32_t>::max();
  pa_buffer_attr attributes{serverChooses, serverChooses, serverChooses, serverChooses, fragmentBytes};
  if (pa_stream_connect_record(stream_, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY) < 0) {
    return Error("cannot open the recording stream (" + errorText(context_) + ")");
  }
  pa_stream* stream = stream_;
  waitOnLoop(
      mainloop_, context_,
      [stream] {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
      },
      answerTimeout);
  if (pa_stream_get_state(stream) == PA_STREAM_READY) return succeeded();
  return Error("cannot open the recording stream (" + errorText(context_) + ")");
}

void BareRecorder::release() {
  if (stream_ != nullptr) {
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  platform::pulse::releaseContext(context_);
  context_ = nullptr;
}

}  // namespace quillet::bench
