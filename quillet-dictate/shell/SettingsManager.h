#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/runtime/NotificationCenter.h"
#include "common/runtime/Published.h"
#include "platform/DefaultsStore.h"
#include "quillet-dictate/shell/CheckTrigger.h"
#include "quillet-dictate/shell/WritingStyle.h"

namespace quillet::dictate {

// Values used for settings the store has never held; the backend pair is deployment configuration.
struct SettingsDefaults {
  std::string backendOrigin;
  std::string anonKey;

  // The values this build was configured with.
  static SettingsDefaults deployment();
};

// The agent's persistent settings. Each property is loaded once from the shared
// defaults store when the manager is built, and every assignment is written straight
// back (also when the value is unchanged) before observers hear of it; assignments made
// inside assignTogether are written together once they are all made.
class SettingsManager {
 public:
  SettingsManager(platform::DefaultsStore& store, NotificationCenter& notifications,
                  SettingsDefaults defaults = SettingsDefaults::deployment());

  SettingsManager(const SettingsManager&) = delete;
  SettingsManager& operator=(const SettingsManager&) = delete;


  // Runs `assignments` and stores what they assign in one write, so that the host never finds some of
  // the values without the others. Observers hear each assignment as it is made.
  void assignTogether(const std::function<void()>& assignments);

 private:
  // Declared first so the properties below can persist through it while they are built.
  platform::DefaultsStore& store_;
  NotificationCenter& notifications_;
  // The values assignTogether is gathering, and the thread it runs on.
  std::mutex gatheringMutex_;
  std::optional<std::thread::id> gatheringThread_;
  platform::DefaultsEntries gathered_;

 public:
  // Properties in load order; the check-trigger migration runs between writingStyle and checkTrigger.
  Published<std::string> supabaseURL;
  Published<std::string> supabaseAnonKey;
  Published<std::string> supabaseAccessToken;
  Published<std::string> supabaseRefreshToken;
  Published<WritingStyle> writingStyle;

 private:
  bool checkTriggerMigrated_;

 public:
  Published<CheckTrigger> checkTrigger;
  Published<bool> grammarEnabled;
  // Every assignment also posts "vessio.capsuleVisibilityChanged" with the new value.
  Published<bool> showCapsuleAutomatically;
  // Not loaded: every start begins with auto-insert on.
  Published<bool> voiceAutoInsert;
  // Raw values of the cleanup mode and prompt template, kept unchecked; readers fall back themselves.
  Published<std::string> voiceDefaultMode;
  Published<std::string> voiceAIPromptTemplate;
  Published<bool> voiceSmartMode;

 private:
  // Moves a stored "manual" check trigger to the default, once per user.
  bool migrateCheckTrigger();
  std::string loadString(const char* key, const std::string& fallback) const;
  bool loadBool(const char* key, bool fallback) const;
  std::function<void(const std::string&)> storeString(const char* key);
  std::function<void(const bool&)> storeBool(const char* key);
  template <class Enum, std::size_t Count>
  std::function<void(const Enum&)> storeRawValue(const char* key, const RawValueTable<Enum, Count>& table);
  // Writes `value` back, or keeps it for the write of assignTogether when that runs on this thread.
  void persist(const char* key, platform::DefaultsValue value);
};

}  // namespace quillet::dictate
