#include "quillet-capture/transcription/ModelInstallLock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

#include "CollectedLines.h"
#include "platform/fake/ScriptedSpeechRecognizer.h"

namespace quillet::capture {
namespace {

using platform::fake::ScriptedSpeechRecognizer;
using testing::CollectedLines;

// Holds launched checks until the test runs them, so that two starts can meet while one is in flight.
class HeldChecks {
 public:
  Deadline::Launcher launcher() {
    return [this](std::function<void()> work) { held_.push_back(std::move(work)); };
  }
  void runAll() {
    while (!held_.empty()) {
      auto work = std::move(held_.front());
      held_.pop_front();
      work();
    }
  }
  [[nodiscard]] std::size_t count() const { return held_.size(); }

 private:
  std::deque<std::function<void()>> held_;
};

struct Outcome {
  bool completed = false;
  Expected<void, CaptureError> failure;
};

ModelInstallLock::Completion recordInto(Outcome& outcome) {
  return [&outcome](Expected<void, CaptureError> failure) {
    outcome.completed = true;
    outcome.failure = std::move(failure);
  };
}

TEST(ModelInstallLockTest, TwoSpeakersStartingTogetherShareOneCheck) {
  static const struct {
    const char* description;
    std::vector<std::string> installed;
    std::vector<std::string> lines;
    bool fails;
  } cases[] = {
      {"model missing",
       {},
       {"[transcriber:others] joining in-flight install for en-US\n", "[transcriber:you] starting install for en-US\n",
        "[transcriber:you] install FAILED for en-US: no speech model is installed for en-US; install the scripted "
        "model en-US\n"},
       true},
      {"model present",
       {"en-US"},
       {"[transcriber:others] joining in-flight install for en-US\n",
        "[transcriber:you] model already installed for en-US (recogniser-reported)\n"},
       false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    ScriptedSpeechRecognizer recognizer;
    recognizer.locales = testCase.installed;
    CollectedLines diagnostics;
    HeldChecks checks;
    ModelInstallLock lock(recognizer, diagnostics.sink(), checks.launcher());

    Outcome you;
    Outcome others;
    lock.ensureInstalled("en-US", "you", recordInto(you));
    lock.ensureInstalled("en-US", "others", recordInto(others));
    EXPECT_EQ(checks.count(), 1u);
    EXPECT_FALSE(you.completed || others.completed);
    checks.runAll();

    EXPECT_EQ(recognizer.installedLocalesCalls(), 1);
    EXPECT_EQ(diagnostics.lines(), testCase.lines);
    ASSERT_TRUE(you.completed && others.completed);
    EXPECT_EQ(you.failure.failed(), testCase.fails);
    EXPECT_EQ(others.failure, you.failure);
  }
}

TEST(ModelInstallLockTest, AnInstalledLocaleIsCachedAndAMissingOneCheckedAgain) {
  ScriptedSpeechRecognizer recognizer;
  recognizer.locales = {"en-US"};
  CollectedLines diagnostics;
  HeldChecks checks;
  ModelInstallLock lock(recognizer, diagnostics.sink(), checks.launcher());

  Outcome first;
  lock.ensureInstalled("en-US", "you", recordInto(first));
  checks.runAll();
  Outcome second;
  lock.ensureInstalled("en-US", "others", recordInto(second));
  EXPECT_EQ(checks.count(), 0u) << "a cached locale needs no check";
  EXPECT_TRUE(second.completed);
  EXPECT_TRUE(second.failure.hasValue());
  EXPECT_EQ(diagnostics.lines().back(), "[transcriber:others] model already installed for en-US (cached)\n");

  // A missing model may be installed by the user between two captures, so a failure is not remembered.
  Outcome missing;
  lock.ensureInstalled("de-DE", "you", recordInto(missing));
  checks.runAll();
  ASSERT_TRUE(missing.failure.failed());
  recognizer.locales.push_back("de-DE");
  Outcome installedSince;
  lock.ensureInstalled("de-DE", "you", recordInto(installedSince));
  checks.runAll();
  EXPECT_TRUE(installedSince.completed);
  EXPECT_TRUE(installedSince.failure.hasValue());
  EXPECT_EQ(recognizer.installedLocalesCalls(), 3);
}

}  // namespace
}  // namespace quillet::capture
