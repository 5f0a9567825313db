#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/SpeechRecognizer.h"
#include "quillet-capture/protocol/CaptureError.h"
#include "quillet-capture/program/Deadline.h"
#include "quillet-capture/program/DiagnosticSink.h"

namespace quillet::capture {

// Makes sure the speech model of a locale is there before a transcriber starts, once per locale for the
// whole process. On Linux a model is installed when its files are present; nothing is downloaded, so a
// missing model fails the start with the package to install. Two speakers starting together share one
// check: the second joins the one in flight.
class ModelInstallLock {
 public:
  // Nothing when the model is there; may run on any thread.
  using Completion = std::function<void(Expected<void, CaptureError> installed)>;

  explicit ModelInstallLock(platform::SpeechRecognizer& recognizer, DiagnosticSink diagnostics = writeToStandardError,
                            Deadline::Launcher launcher = Deadline::onDetachedThread);

  // `speakerTag` ("you", "others") only labels the diagnostic lines.
  void ensureInstalled(const std::string& locale, const std::string& speakerTag, Completion completion);

  // The failure of a start whose locale has no model: what is missing and what to install.
  [[nodiscard]] static CaptureError missingModel(const platform::SpeechRecognizer& recognizer,
                                                 const std::string& locale);

 private:
  // Runs away from the caller: asks the recogniser, then tells every waiter of `locale`.
  void check(const std::string& locale, const std::string& speakerTag);

  platform::SpeechRecognizer& recognizer_;
  const DiagnosticSink diagnostics_;
  const Deadline::Launcher launcher_;
  std::mutex mutex_;
  std::set<std::string> installedKeys_;
  std::map<std::string, std::vector<Completion>> inFlight_;
};

}  // namespace quillet::capture
