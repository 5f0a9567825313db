#include "quillet-dictate/shell/SettingsManager.h"

#include "quillet-dictate/shell/DeploymentConfig.h"
#include "quillet-dictate/shell/NotificationNames.h"
#include "quillet-dictate/shell/SettingsKeys.h"

namespace quillet::dictate {

namespace {

template <class Enum, std::size_t Count>
Enum loadEnum(const platform::DefaultsStore& store, const char* key, const RawValueTable<Enum, Count>& table,
              Enum fallback) {
  const auto raw = store.stringValue(key);
  if (!raw) return fallback;
  return table.from(*raw).value_or(fallback);
}

}  // namespace

SettingsDefaults SettingsDefaults::deployment() {
  return {deployment::kDefaultBackendOrigin, deployment::kDefaultAnonKey};
}

SettingsManager::SettingsManager(platform::DefaultsStore& store, NotificationCenter& notifications,
                                 SettingsDefaults defaults)
    : store_(store),
      notifications_(notifications),
      supabaseURL(loadString(settings_key::kSupabaseURL, defaults.backendOrigin),
                  storeString(settings_key::kSupabaseURL)),
      supabaseAnonKey(loadString(settings_key::kSupabaseAnonKey, defaults.anonKey),
                      storeString(settings_key::kSupabaseAnonKey)),
      supabaseAccessToken(loadString(settings_key::kSupabaseAccessToken, ""),
                          storeString(settings_key::kSupabaseAccessToken)),
      supabaseRefreshToken(loadString(settings_key::kSupabaseRefreshToken, ""),
                           storeString(settings_key::kSupabaseRefreshToken)),
      writingStyle(loadEnum(store, settings_key::kWritingStyle, kWritingStyleRawValues, WritingStyle::originalVoice),
                   storeRawValue(settings_key::kWritingStyle, kWritingStyleRawValues)),
      checkTriggerMigrated_(migrateCheckTrigger()),
      checkTrigger(loadEnum(store, settings_key::kCheckTrigger, kCheckTriggerRawValues, CheckTrigger::onPause500ms),
                   storeRawValue(settings_key::kCheckTrigger, kCheckTriggerRawValues)),
      grammarEnabled(loadBool(settings_key::kGrammarEnabled, true), storeBool(settings_key::kGrammarEnabled)),
      showCapsuleAutomatically(loadBool(settings_key::kShowCapsuleAutomatically, false),
                               [this, persist = storeBool(settings_key::kShowCapsuleAutomatically)](const bool& value) {
                                 persist(value);
                                 notifications_.post(notification::kCapsuleVisibilityChanged, value);
                               }),
      voiceAutoInsert(true, storeBool(settings_key::kVoiceAutoInsert)),
      voiceDefaultMode(loadString(settings_key::kVoiceDefaultMode, "grammar"),
                       storeString(settings_key::kVoiceDefaultMode)),
      voiceAIPromptTemplate(loadString(settings_key::kVoiceAIPromptTemplate, "auto"),
                            storeString(settings_key::kVoiceAIPromptTemplate)),
      voiceSmartMode(loadBool(settings_key::kVoiceSmartMode, false), storeBool(settings_key::kVoiceSmartMode)) {}

bool SettingsManager::migrateCheckTrigger() {
  if (store_.boolValue(settings_key::kHarperAutoCheckMigrated).value_or(false)) return false;
  // The store reports a refused write itself; a migration that did not land simply runs again next launch.
  if (store_.stringValue(settings_key::kCheckTrigger) == "manual") (void)store_.remove(settings_key::kCheckTrigger);
  (void)store_.set(settings_key::kHarperAutoCheckMigrated, true);
  return true;
}

std::string SettingsManager::loadString(const char* key, const std::string& fallback) const {
  return store_.stringValue(key).value_or(fallback);
}

bool SettingsManager::loadBool(const char* key, bool fallback) const { return store_.boolValue(key).value_or(fallback); }

void SettingsManager::assignTogether(const std::function<void()>& assignments) {
  bool outermost = false;
  {
    std::lock_guard lock(gatheringMutex_);
    outermost = !gatheringThread_;
    if (outermost) gatheringThread_ = std::this_thread::get_id();
  }
  assignments();
  // A nested group's values join the outer one's write.
  if (!outermost) return;
  platform::DefaultsEntries gathered;
  {
    std::lock_guard lock(gatheringMutex_);
    gatheringThread_.reset();
    gathered.swap(gathered_);
  }
  // The store reports a refused write itself; the values still hold for this run.
  if (!gathered.empty()) (void)store_.setMany(gathered);
}

void SettingsManager::persist(const char* key, platform::DefaultsValue value) {
  {
    std::lock_guard lock(gatheringMutex_);
    if (gatheringThread_ == std::this_thread::get_id()) {
      gathered_.emplace_back(key, std::move(value));
      return;
    }
  }
  // The store reports a refused write itself; the value still holds for this run.
  (void)store_.set(key, value);
}

std::function<void(const std::string&)> SettingsManager::storeString(const char* key) {
  return [this, key](const std::string& value) { persist(key, value); };
}

std::function<void(const bool&)> SettingsManager::storeBool(const char* key) {
  return [this, key](const bool& value) { persist(key, value); };
}

template <class Enum, std::size_t Count>
std::function<void(const Enum&)> SettingsManager::storeRawValue(const char* key,
                                                                const RawValueTable<Enum, Count>& table) {
  return [this, key, &table](const Enum& value) { persist(key, std::string(table.rawValue(value))); };
}

}  // namespace quillet::dictate
