#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillet::capture {

// The operating system's human-readable name and version, as "ready" announces it: the pretty name
// from os-release, with the version added when the pretty name lacks it; "Linux" and the kernel
// release when there is no os-release.
[[nodiscard]] std::string operatingSystemName(const std::filesystem::path& osRelease = "/etc/os-release");

// The same from the text of an os-release file; empty when it names nothing.
[[nodiscard]] std::string operatingSystemNameFrom(std::string_view osReleaseText);

}  // namespace quillet::capture
