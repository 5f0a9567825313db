// A level meter as pavucontrol builds one: a peak-detect recording stream on the named source, asked for
// in the source's own format so the server needs no resampler. Prints "ready" once the stream records
// and runs until it is ended.
#include <pulse/pulseaudio.h>

#include <cstdio>
#include <cstring>

namespace {

const char* sourceName = nullptr;

void streamState(pa_stream* stream, void* /*userdata*/) {
  if (pa_stream_get_state(stream) != PA_STREAM_READY) return;
  std::puts("ready");
  std::fflush(stdout);
}

void sourceFound(pa_context* context, const pa_source_info* info, int endOfList, void* /*userdata*/) {
  if (endOfList != 0 || info == nullptr) return;
  pa_stream* stream = pa_stream_new(context, "Peak detect", &info->sample_spec, &info->channel_map);
  if (stream == nullptr) return;
  pa_stream_set_state_callback(stream, streamState, nullptr);
  pa_buffer_attr attributes;
  std::memset(&attributes, 0xff, sizeof attributes);
  attributes.fragsize = static_cast<uint32_t>(pa_frame_size(&info->sample_spec));
  pa_stream_connect_record(stream, sourceName, &attributes,
                           static_cast<pa_stream_flags_t>(PA_STREAM_PEAK_DETECT | PA_STREAM_ADJUST_LATENCY |
                                                          PA_STREAM_DONT_MOVE));
}

void contextState(pa_context* context, void* userdata) {
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_READY) {
    pa_operation* operation = pa_context_get_source_info_by_name(context, sourceName, sourceFound, nullptr);
    if (operation != nullptr) pa_operation_unref(operation);
  } else if (!PA_CONTEXT_IS_GOOD(state)) {
    pa_mainloop_quit(static_cast<pa_mainloop*>(userdata), 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: quillet-peak-meter SOURCE\n", stderr);
    return 2;
  }
  sourceName = argv[1];
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "level meter");
  pa_context_set_state_callback(context, contextState, loop);
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) return 1;
  int result = 1;
  pa_mainloop_run(loop, &result);
  pa_context_unref(context);
  pa_mainloop_free(loop);
  return result;
}
