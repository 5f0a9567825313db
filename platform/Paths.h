#pragma once

#include <filesystem>

namespace quillet::platform {

// The per-user folders the programs keep files in.
class Paths {
 public:
  virtual ~Paths() = default;

  // The user's configuration folder (the application-support folder of the behaviour).
  [[nodiscard]] virtual std::filesystem::path configHome() const = 0;

  // The folder for short-lived files.
  [[nodiscard]] virtual std::filesystem::path temporaryDirectory() const = 0;

  // The product's own folder inside configHome().
  [[nodiscard]] std::filesystem::path applicationSupport() const { return configHome() / "Quillet"; }
};

}  // namespace quillet::platform
