#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EnvironmentLookup.h"

namespace quillet::platform::xdg {

// The applications installed for this user after the freedesktop rules: the desktop files in
// $XDG_DATA_HOME/applications (else ~/.local/share/applications) and in "applications" below each of
// $XDG_DATA_DIRS (else /usr/local/share:/usr/share). A file's id is its path below that folder with
// "/" written as "-"; the first folder holding an id decides it, and Hidden=true there removes it.
class DesktopApplications {
 public:
  using EnvironmentLookup = platform::EnvironmentLookup;

  // Reads the process environment.
  DesktopApplications();
  // Reads `lookup` instead, for tests.
  explicit DesktopApplications(EnvironmentLookup lookup);

  // The folders searched, the one that wins first.
  [[nodiscard]] std::vector<std::filesystem::path> applicationFolders() const;

  // The desktop-file ids ("firefox.desktop") of the applications whose MimeType lists `mimeType`, sorted.
  [[nodiscard]] std::vector<std::string> idsHandling(std::string_view mimeType) const;

  // The applications registered for https addresses.
  [[nodiscard]] std::vector<std::string> webBrowserIds() const { return idsHandling("x-scheme-handler/https"); }

 private:
  EnvironmentLookup lookup_;
};

}  // namespace quillet::platform::xdg
