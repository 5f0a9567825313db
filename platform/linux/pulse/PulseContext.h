#pragma once

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop-api.h>
#include <pulse/subscribe.h>

#include <string>

namespace quillet::platform::pulse {

// Silences the context's callbacks first, so that closing it reaches its owner no more, then closes it.
inline void releaseContext(pa_context* context) {
  if (context == nullptr) return;
  pa_context_set_state_callback(context, nullptr, nullptr);
  pa_context_set_subscribe_callback(context, nullptr, nullptr);
  pa_context_disconnect(context);
  pa_context_unref(context);
}

// Begins connecting to `server` ("unix:/run/user/1000/pulse/native"; empty means the user's own server from
// PULSE_SERVER and the client configuration) on `api`; `stateChanged` hears how it goes. Answers nothing and
// fills `error` when the connection cannot even begin. A missing server is never started for us: whether one
// runs is the desktop's decision, not ours.
inline pa_context* beginConnecting(pa_mainloop_api* api, const std::string& server, const std::string& applicationName,
                                   pa_context_notify_cb_t stateChanged, void* userdata, std::string& error) {
  pa_context* context = pa_context_new(api, applicationName.c_str());
  if (context == nullptr) {
    error = "cannot create a connection to the sound server";
    return nullptr;
  }
  pa_context_set_state_callback(context, stateChanged, userdata);
  if (pa_context_connect(context, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    error = std::string("cannot reach the sound server (") + pa_strerror(pa_context_errno(context)) + ")";
    releaseContext(context);
    return nullptr;
  }
  return context;
}

}  // namespace quillet::platform::pulse
