#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/Paths.h"
#include "platform/EnvironmentLookup.h"

namespace quillet::platform::xdg {

// Folders after the XDG base-directory rules: $XDG_CONFIG_HOME (else ~/.config) and $TMPDIR (else /tmp).
class XdgPaths final : public Paths {
 public:
  using EnvironmentLookup = platform::EnvironmentLookup;

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
