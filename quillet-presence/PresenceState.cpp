#include "quillet-presence/PresenceState.h"

#include <chrono>

#include "common/json/JsonLine.h"
#include "quillet-presence/IdentifierList.h"

namespace quillet::presence {

namespace {

nlohmann::ordered_json textOrNull(const std::optional<std::string>& text) {
  return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

}  // namespace

PresenceState::PresenceState(const platform::Clock& clock, platform::Workspace& workspace, OutputWriter write)
    : clock_(clock), workspace_(workspace), write_(std::move(write)) {}

void PresenceState::emit() {
  nlohmann::ordered_json line;
  line["type"] = "presence";
  line["micActive"] = micActive;
  line["incomingAudio"] = incomingAudio;
  line["meetingApp"] = textOrNull(meetingApp);
  line["bundleId"] = textOrNull(bundleId);
  line["frontmost"] = frontmost;
  line["frontmostBundleId"] = textOrNull(frontmostBundleId);
  line["micApps"] = micApps;
  line["outputApps"] = outputApps;
  line["ts"] = timestampMilliseconds();
  writeLine(line);
}

void PresenceState::emitBrowsers() {
  nlohmann::ordered_json line;
  line["type"] = "browsers";
  line["bundleIds"] = sortedUniqueIdentifiers(workspace_.browsers());
  line["ts"] = timestampMilliseconds();
  writeLine(line);
}

void PresenceState::writeLine(const nlohmann::ordered_json& line) {
  // A line that cannot be serialised is lost on its own; the next change writes a whole state again.
  const auto text = json::jsonLineText(line);
  if (text.failed()) return;
  write_(text.value());
  write_("\n");
}

long long PresenceState::timestampMilliseconds() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.wallNow().time_since_epoch()).count();
}

}  // namespace quillet::presence
