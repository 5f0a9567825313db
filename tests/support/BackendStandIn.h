#pragma once

#include <string_view>
#include <vector>

#include "common/runtime/NotificationCenter.h"
#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/shell/VxLog.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/RecordingHttpClient.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::test {

// What a backend client needs around it in a test: a loopback server standing in for the backend,
// settings that point at it, real curl behind a recording client, virtual time and a captured log.
struct BackendStandIn {
  static constexpr const char* kAnonKey = "anon-key-test";

  // The requests whose path and query begin with `prefix`, in arrival order.
  [[nodiscard]] std::vector<RecordedRequest> requestsTo(std::string_view prefix) const {
    std::vector<RecordedRequest> matching;
    for (auto& request : server.requests()) {
      if (request.target.starts_with(prefix)) matching.push_back(request);
    }
    return matching;
  }

  LoopbackHttpServer server;
  platform::fake::VirtualMainLoop loop;
  platform::fake::MemoryDefaultsStore store;
  NotificationCenter notifications;
  dictate::SettingsManager settings{store, notifications, dictate::SettingsDefaults{server.url(""), kAnonKey}};
  platform::curl::CurlHttpClient curl{loop};
  RecordingHttpClient http{curl};
  TemporaryDirectory folder;
  CapturedLog capture;
  dictate::VxLog log{folder.path() / "vessio.log", loop, capture.mirror()};
};

}  // namespace quillet::test
