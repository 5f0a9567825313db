#include "quillet-dictate/shell/DictatePrefsBridge.h"

#include <fstream>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

namespace quillet::dictate {
namespace {

using Json = nlohmann::json;

// A key code fits the platform's 16 bits; anything else is malformed.
std::optional<std::uint16_t> keyCodeIn(const Json& hotkey) {
  const auto found = hotkey.find("keyCode");
  if (found == hotkey.end() || !found->is_number_integer()) return std::nullopt;
  constexpr std::uint64_t kLargest = 65535;
  if (found->is_number_unsigned()) {
    const auto value = found->get<std::uint64_t>();
    if (value > kLargest) return std::nullopt;
    return static_cast<std::uint16_t>(value);
  }
  const auto value = found->get<std::int64_t>();
  if (value < 0 || std::uint64_t(value) > kLargest) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// The modifiers of a combination: an array of strings, else none at all.
std::set<std::string> modifiersIn(const Json& hotkey) {
  const auto found = hotkey.find("modifiers");
  if (found == hotkey.end() || !found->is_array()) return {};
  std::set<std::string> modifiers;
  for (const auto& modifier : *found) {
    if (!modifier.is_string()) return {};
    modifiers.insert(modifier.get<std::string>());
  }
  return modifiers;
}

DictateHotkey::Kind kindIn(const Json& object) {
  const auto hotkey = object.find("hotkey");
  if (hotkey == object.end() || !hotkey->is_object()) return DictateHotkey::Fn{};
  const auto typeMember = hotkey->find("type");
  const std::string type =
      typeMember != hotkey->end() && typeMember->is_string() ? typeMember->get<std::string>() : std::string("fn");
  const auto keyCode = keyCodeIn(*hotkey);
  if (type == "combo" && keyCode) return DictateHotkey::Combo{*keyCode, modifiersIn(*hotkey)};
  if (type == "holdKey" && keyCode) return DictateHotkey::HoldKey{*keyCode};
  if (type == "shiftDouble") return DictateHotkey::ShiftDouble{};
  return DictateHotkey::Fn{};
}

}  // namespace

DictatePrefsBridge::DictatePrefsBridge(const platform::Paths& paths, platform::FolderWatch& watch,
                                       platform::MainLoop& mainLoop, const VxLog& log)
    : paths_(paths), watch_(watch), mainLoop_(mainLoop), log_(log) {}

std::filesystem::path DictatePrefsBridge::fileURL() const {
  const auto folder = paths_.applicationSupport();
  std::error_code ignored;  // a folder that cannot be made leaves the file unreadable, which load() handles
  std::filesystem::create_directories(folder, ignored);
  return folder / kFileName;
}

std::optional<DictatePrefs> DictatePrefsBridge::parse(std::string_view contents) {
  // Invalid UTF-8 and every other malformation come back as a discarded value, not as an exception.
  const Json object = Json::parse(contents, nullptr, false);
  if (object.is_discarded() || !object.is_object()) return std::nullopt;
  DictatePrefs prefs;
  const auto floatingMic = object.find("floatingMic");
  prefs.floatingMic = floatingMic == object.end() || !floatingMic->is_boolean() || floatingMic->get<bool>();
  prefs.hotkey.kind = kindIn(object);
  return prefs;
}

std::optional<std::string> DictatePrefsBridge::readFile(const std::filesystem::path& file) const {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error) return std::nullopt;
  if (size > kMaxFileBytes) {
    log_.log("⚙️ dictate-prefs ignored: " + std::to_string(size) + " bytes is not a preferences file");
    return std::nullopt;
  }
  std::ifstream stream(file, std::ios::binary);
  if (!stream) return std::nullopt;
  std::string contents(static_cast<std::size_t>(size), '\0');
  stream.read(contents.data(), std::streamsize(contents.size()));
  contents.resize(static_cast<std::size_t>(stream.gcount()));
  return contents;
}

void DictatePrefsBridge::load() {
  const auto contents = readFile(fileURL());
  const auto parsed = contents ? parse(*contents) : std::nullopt;
  if (parsed) {
    prefs_ = *parsed;
    log_.log(std::string("⚙️ dictate-prefs loaded: floatingMic=") + (prefs_.floatingMic ? "true" : "false") +
             " hotkey=" + describe(prefs_.hotkey.kind));
  }
  deliver();
}

void DictatePrefsBridge::deliver() {
  if (onChange) onChange(prefs_);
}

void DictatePrefsBridge::beginWatching() {
  const auto folder = fileURL().parent_path();
  const Status watching = watch_.watch(folder, [this, alive = lifetime_.watch()](const std::string& name) {
    // The folder also holds the settings store, whose writes say nothing about the preferences.
    if (alive.ended() || name != kFileName) return;
    mainLoop_.after(kReloadDelaySeconds, [this, alive] {
      if (!alive.ended()) load();
    });
  });
  if (watching.failed()) {
    log_.log("⚙️ dictate-prefs not watched: " + watching.error().description());
  }
}

}  // namespace quillet::dictate
