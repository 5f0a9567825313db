#include "quillet-capture/transcription/ModelInstallLock.h"

#include <algorithm>
#include <utility>


namespace quillet::capture {

namespace {

std::string prefix(const std::string& speakerTag) { return "[transcriber:" + speakerTag + "] "; }

}  // namespace

ModelInstallLock::ModelInstallLock(platform::SpeechRecognizer& recognizer, DiagnosticSink diagnostics,
                                   Deadline::Launcher launcher)
    : recognizer_(recognizer), diagnostics_(std::move(diagnostics)), launcher_(std::move(launcher)) {}

CaptureError ModelInstallLock::missingModel(const platform::SpeechRecognizer& recognizer, const std::string& locale) {
  return CaptureError::fromPlatform("no speech model is installed for " + locale + "; " +
                                    recognizer.installHint(locale));
}

void ModelInstallLock::ensureInstalled(const std::string& locale, const std::string& speakerTag,
                                       Completion completion) {
  {
    std::unique_lock lock(mutex_);
    if (!installedKeys_.contains(locale)) {
      auto [waiting, first] = inFlight_.try_emplace(locale);
      waiting->second.push_back(std::move(completion));
      lock.unlock();
      if (first) {
        launcher_([this, locale, speakerTag] { check(locale, speakerTag); });
      } else {
        diagnostics_(prefix(speakerTag) + "joining in-flight install for " + locale + "\n");
      }
      return;
    }
  }
  diagnostics_(prefix(speakerTag) + "model already installed for " + locale + " (cached)\n");
  if (completion) completion({});
}

void ModelInstallLock::check(const std::string& locale, const std::string& speakerTag) {
  const auto installed = recognizer_.installedLocales();
  Expected<void, CaptureError> outcome;
  if (std::find(installed.begin(), installed.end(), locale) != installed.end()) {
    diagnostics_(prefix(speakerTag) + "model already installed for " + locale + " (recogniser-reported)\n");
  } else {
    // Models come as system packages, which only the user can install.
    diagnostics_(prefix(speakerTag) + "starting install for " + locale + "\n");
    outcome = missingModel(recognizer_, locale);
    diagnostics_(prefix(speakerTag) + "install FAILED for " + locale + ": " + outcome.error().description() + "\n");
  }
  std::vector<Completion> waiters;
  {
    std::lock_guard lock(mutex_);
    if (outcome.hasValue()) installedKeys_.insert(locale);
    waiters = std::move(inFlight_[locale]);
    inFlight_.erase(locale);
  }
  for (auto& waiter : waiters) {
    if (waiter) waiter(outcome);
  }
}

}  // namespace quillet::capture
