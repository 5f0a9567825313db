#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Clock.h"
#include "platform/Workspace.h"

namespace quillet::presence {

// Writes bytes to the host's end of standard output.
using OutputWriter = std::function<void(std::string_view bytes)>;

// What the host is told: whether a meeting seems to be going on, and who holds the audio devices.
// Lives on the main thread only.
class PresenceState {
 public:
  PresenceState(const platform::Clock& clock, platform::Workspace& workspace, OutputWriter write);

  bool micActive = false;
  bool incomingAudio = false;
  std::optional<std::string> meetingApp;
  std::optional<std::string> bundleId;
  bool frontmost = false;
  std::optional<std::string> frontmostBundleId;
  std::vector<std::string> micApps;
  std::vector<std::string> outputApps;

  // Writes a presence line with the current fields.
  void emit();

  // Writes a browsers line with the applications that open https addresses.
  void emitBrowsers();

 private:
  void writeLine(const nlohmann::ordered_json& line);
  [[nodiscard]] long long timestampMilliseconds() const;

  const platform::Clock& clock_;
  platform::Workspace& workspace_;
  OutputWriter write_;
};

}  // namespace quillet::presence
