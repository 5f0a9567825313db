#include "platform/linux/pulse/StreamOwner.h"

#include <pulse/proplist.h>
#include <unistd.h>

#include <charconv>
#include <climits>

#include "platform/linux/identity/ApplicationIdentityTable.h"

namespace quillet::platform::pulse {

namespace {

// Where a sandbox names the application it runs.
constexpr const char* sandboxApplicationIdProperty = "pipewire.access.portal.app_id";

std::optional<std::string> property(const pa_proplist* properties, const char* key) {
  const char* value = pa_proplist_gets(properties, key);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::optional<int> processIdIn(const pa_proplist* properties) {
  const auto text = property(properties, PA_PROP_APPLICATION_PROCESS_ID);
  if (!text) return std::nullopt;
  int processId = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), processId);
  if (error != std::errc() || end != text->data() + text->size() || processId <= 0) return std::nullopt;
  return processId;
}

}  // namespace

StreamOwner StreamOwner::from(const pa_proplist* properties, const std::string& localHostName) {
  StreamOwner owner;
  owner.processId = processIdIn(properties);
  const auto host = property(properties, PA_PROP_APPLICATION_PROCESS_HOST);
  owner.processIsLocal = !host || *host == localHostName;
  owner.sandboxApplicationId = property(properties, sandboxApplicationIdProperty);
  owner.binary = property(properties, PA_PROP_APPLICATION_PROCESS_BINARY);
  owner.applicationId = property(properties, PA_PROP_APPLICATION_ID);
  return owner;
}

std::string StreamOwner::localHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::optional<std::string> StreamOwner::bundleId(AppIdentity& identity) const {
  using identity::ApplicationIdentityTable;
  if (sandboxApplicationId) {
    if (auto id = ApplicationIdentityTable::bundleIdFor(*sandboxApplicationId)) return id;
  }
  if (processId && processIsLocal) {
    if (auto id = identity.bundleIdOfProcess(*processId)) return id;
  }
  for (const auto* name : {&binary, &applicationId}) {
    if (!name->has_value()) continue;
    if (auto id = ApplicationIdentityTable::bundleIdFor(**name)) return id;
  }
  return std::nullopt;
}

}  // namespace quillet::platform::pulse
