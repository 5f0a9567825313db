#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/Paths.h"

namespace quillet::platform::xdg {

// Folders after the XDG base-directory rules: $XDG_CONFIG_HOME (else ~/.config) and $TMPDIR (else /tmp).
class XdgPaths final : public Paths {
 public:
  using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

  // Reads the process environment.
  XdgPaths();
  // Reads `lookup` instead, for tests.
  explicit XdgPaths(EnvironmentLookup lookup);

  std::filesystem::path configHome() const override;
  std::filesystem::path temporaryDirectory() const override;

 private:
  EnvironmentLookup lookup_;
};

}  // namespace quillet::platform::xdg
