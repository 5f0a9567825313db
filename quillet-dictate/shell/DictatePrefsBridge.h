#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "common/runtime/Weakly.h"
#include "platform/FolderWatch.h"
#include "platform/MainLoop.h"
#include "platform/Paths.h"
#include "quillet-dictate/shell/DictatePrefs.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// Reads the dictation preferences the host writes to its small JSON file, at launch and again whenever the host
// rewrites, replaces or deletes the file, and hands every result to `onChange`. Never writes the file. Main loop only.
class DictatePrefsBridge {
 public:
  static constexpr std::string_view kFileName = "dictate-prefs.json";
  static constexpr double kReloadDelaySeconds = 0.1;
  // A preferences file is a few dozen bytes; anything this large is not one, and is not read into memory.
  static constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;

  DictatePrefsBridge(const platform::Paths& paths, platform::FolderWatch& watch, platform::MainLoop& mainLoop,
                     const VxLog& log);

  DictatePrefsBridge(const DictatePrefsBridge&) = delete;
  DictatePrefsBridge& operator=(const DictatePrefsBridge&) = delete;

  // Called with the preferences after every load, also when nothing changed or the file could not be read.
  std::function<void(const DictatePrefs&)> onChange;

  // The last preferences loaded; the capsule shown and the Fn shortcut until a file says otherwise.
  [[nodiscard]] const DictatePrefs& prefs() const { return prefs_; }

  // Where the host keeps the file; the folder is created when missing.
  [[nodiscard]] std::filesystem::path fileURL() const;

  // Reads the file: a readable JSON object replaces the preferences, anything else keeps them.
  void load();

  // Loads again 0.1 s after each change to the file, for the life of this object.
  void beginWatching();

  // The preferences a file holds, or nothing when it is not a JSON object.
  [[nodiscard]] static std::optional<DictatePrefs> parse(std::string_view contents);

 private:
  [[nodiscard]] std::optional<std::string> readFile(const std::filesystem::path& file) const;
  void deliver();

  const platform::Paths& paths_;
  platform::FolderWatch& watch_;
  platform::MainLoop& mainLoop_;
  const VxLog& log_;
  DictatePrefs prefs_;
  // Last, so that a change still queued sees this object end before any of its members do.
  Lifetime lifetime_;
};

}  // namespace quillet::dictate
