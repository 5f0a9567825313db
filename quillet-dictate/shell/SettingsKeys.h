#pragma once

// The agent's keys in the user-defaults domain it shares with the host.
namespace quillet::dictate::settings_key {

inline constexpr const char* kSupabaseURL = "vantix.supabaseURL";
inline constexpr const char* kSupabaseAnonKey = "vantix.supabaseAnonKey";
inline constexpr const char* kSupabaseAccessToken = "vantix.supabaseAccessToken";
inline constexpr const char* kSupabaseRefreshToken = "vantix.supabaseRefreshToken";
inline constexpr const char* kWritingStyle = "vantix.writingStyle";
inline constexpr const char* kCheckTrigger = "vantix.checkTrigger";
inline constexpr const char* kGrammarEnabled = "vantix.grammarEnabled";
inline constexpr const char* kShowCapsuleAutomatically = "vantix.showCapsuleAutomatically";
inline constexpr const char* kVoiceAutoInsert = "vantix.voiceAutoInsert";
inline constexpr const char* kVoiceDefaultMode = "vantix.voiceDefaultMode";
inline constexpr const char* kVoiceAIPromptTemplate = "vantix.voiceAIPromptTemplate";
inline constexpr const char* kVoiceSmartMode = "vantix.voiceSmartMode";

// Set once the old "manual" check trigger has been moved to the default.
inline constexpr const char* kHarperAutoCheckMigrated = "vantix.harperAutoCheckMigrated_v1";
// Set at every launch; the agent never shows onboarding.
inline constexpr const char* kOnboardingDone = "vantix.onboardingDone";

}  // namespace quillet::dictate::settings_key
