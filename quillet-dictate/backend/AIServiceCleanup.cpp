// The dictation cleanup of the AI client: one backend call, then the faithfulness guard.
#include "quillet-dictate/backend/AIService.h"

#include "common/contract/BackendEndpoints.h"
#include "common/text/UnicodeText.h"
#include "quillet-dictate/backend/CleanupGuard.h"
#include "quillet-dictate/backend/CleanupMode.h"

namespace quillet::dictate {

void AIService::cleanupVoiceText(const std::string& text, const std::string& mode,
                                 const std::optional<std::string>& customPrompt,
                                 const std::optional<std::string>& /*language*/, Completion<std::string> completion) {
  std::string input = text::trimmedWhitespaceAndNewlines(text);
  // A blank transcript is answered before the sign-in check: there is nothing to polish.
  if (input.empty()) {
    completion(std::string());
    return;
  }
  std::optional<std::string> system;
  if (kCleanupModeRawValues.from(mode) == CleanupMode::custom && customPrompt) {
    std::string instruction = text::trimmedWhitespaceAndNewlines(*customPrompt);
    if (!instruction.empty()) system = std::move(instruction);
  }
  cloudDictationCleanup(input, system,
                        [this, alive = lifetime_.watch(), input,
                         completion = std::move(completion)](AIOutcome<std::string> outcome) {
                          if (alive.ended()) return;
                          if (outcome.hasValue() && !CleanupGuard::isFaithfulCleanup(input, outcome.value())) {
                            log_.log("🛡️ cloud cleanup derailed (out=" +
                                     std::to_string(text::characterCount(outcome.value())) +
                                     "c) → using raw transcript");
                            completion(input);
                            return;
                          }
                          completion(std::move(outcome));
                        });
}

void AIService::cloudDictationCleanup(const std::string& text, const std::optional<std::string>& system,
                                      Completion<std::string> completion) {
  if (settings_.supabaseAccessToken.get().empty()) {
    completion(AIFailure{VessioError::noApiKey()});
    return;
  }
  nlohmann::json body{{"text", text}};
  if (system) body["system"] = *system;
  postJSONWithRefresh({backend::path::kDictateCleanup, std::move(body), kCleanupTimeoutSeconds},
                      [completion = std::move(completion)](AIOutcome<std::string> outcome) {
                        if (outcome.failed()) {
                          completion(std::move(outcome));
                          return;
                        }
                        const auto json = nlohmann::json::parse(outcome.value(), nullptr, false);
                        const auto cleaned = json.is_object() ? json.find("cleaned") : json.end();
                        if (!json.is_object() || cleaned == json.end() || !cleaned->is_string()) {
                          completion(AIFailure{VessioError::decode("dictate-cleanup: missing 'cleaned' field")});
                          return;
                        }
                        completion(cleaned->get<std::string>());
                      });
}

}  // namespace quillet::dictate
