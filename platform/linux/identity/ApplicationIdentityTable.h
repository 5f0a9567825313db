#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillet::platform::identity {

// Maps the names Linux gives an application (desktop-file id, executable name, Flatpak or Snap id)
// onto the identifiers the behaviour's tables use; unknown names keep their own id.
//
// Matching ignores ASCII case and a trailing ".desktop", since the same application is "Zoom.desktop"
// in one package and "zoom" as a process. A Snap desktop id "<snap>_<app>" also matches by its snap name.
class ApplicationIdentityTable {
 public:
  // The identifier for a well-known application, or nothing when the name is not in the table.
  [[nodiscard]] static std::optional<std::string> knownBundleId(std::string_view linuxName);

  // The identifier for any name: the table's, else the name itself without a ".desktop" suffix
  // (nothing for an empty name).
  [[nodiscard]] static std::optional<std::string> bundleIdFor(std::string_view linuxName);
};

}  // namespace quillet::platform::identity
