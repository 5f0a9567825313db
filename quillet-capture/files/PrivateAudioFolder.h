#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "common/result/Expected.h"
#include "quillet-capture/program/DiagnosticSink.h"

namespace quillet::capture {

// The folder "quillet-audio" that holds the WAV files left for the host. The shared temporary
// directory is open to every local user, so the folder is used only when it is a real directory
// of this user that nobody else can enter; otherwise the same folder under the user's own runtime
// directory ($XDG_RUNTIME_DIR) serves instead.
class PrivateAudioFolder {
 public:
  static constexpr const char* kName = "quillet-audio";

  // The folder in `temporaryDirectory`, else in `runtimeDirectory`, created if missing. A folder
  // that is refused is named on `diagnostics` with a "[whisper] " line. When neither can be used
  // the result is not usable and names the first one, so that failed writes can say where.
  static PrivateAudioFolder choose(const std::filesystem::path& temporaryDirectory,
                                   const std::optional<std::filesystem::path>& runtimeDirectory,
                                   const DiagnosticSink& diagnostics);

  // Creates `folder` and any missing parents (new ones with mode 0700), then answers whether it may hold
  // private files, and why not when it must not.
  [[nodiscard]] static Status prepare(const std::filesystem::path& folder);

  // Creates every missing folder on the way to `folder`, each with mode 0700; existing ones are
  // left as they are.
  [[nodiscard]] static std::error_code createMissing(const std::filesystem::path& folder);

  // Absolute.
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] bool usable() const { return usable_; }

 private:
  PrivateAudioFolder(std::filesystem::path path, bool usable) : path_(std::move(path)), usable_(usable) {}

  std::filesystem::path path_;
  bool usable_;
};

}  // namespace quillet::capture
