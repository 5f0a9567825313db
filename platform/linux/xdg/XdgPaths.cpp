#include "platform/linux/xdg/XdgPaths.h"

#include <pwd.h>
#include <unistd.h>


namespace quillet::platform::xdg {

namespace {


// XDG only honours absolute paths; a relative one would move with the working directory.
std::optional<std::filesystem::path> absoluteSetting(const std::optional<std::string>& value) {
  if (!value || value->empty() || (*value)[0] != '/') return std::nullopt;
  return std::filesystem::path(*value);
}

std::filesystem::path homeFolder(const XdgPaths::EnvironmentLookup& lookup) {
  if (auto home = absoluteSetting(lookup("HOME"))) return *home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return "/";
}

}  // namespace

XdgPaths::XdgPaths() : lookup_(platform::processEnvironment) {}

XdgPaths::XdgPaths(EnvironmentLookup lookup) : lookup_(std::move(lookup)) {}

std::filesystem::path XdgPaths::configHome() const {
  if (auto configured = absoluteSetting(lookup_("XDG_CONFIG_HOME"))) return *configured;
  return homeFolder(lookup_) / ".config";
}

std::filesystem::path XdgPaths::temporaryDirectory() const {
  if (auto configured = absoluteSetting(lookup_("TMPDIR"))) return *configured;
  return "/tmp";
}

}  // namespace quillet::platform::xdg
