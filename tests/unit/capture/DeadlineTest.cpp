#include "quillet-capture/program/Deadline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "CollectedLines.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::capture {
namespace {

using testing::CollectedLines;

// Runs operations on the caller's thread, so that operations built on the virtual main loop stay on it.
void runInline(std::function<void()> work) { work(); }

class DeadlineTest : public ::testing::Test {
 protected:
  // Starts `operation` under `seconds` and records each answer.
  void run(double seconds, const char* label, Deadline::Operation operation) {
    deadline.withDeadline(seconds, label, std::move(operation), [this](bool finishedInTime) {
      std::lock_guard lock(mutex);
      answers.push_back(finishedInTime);
    });
  }

  std::vector<bool> recordedAnswers() {
    std::lock_guard lock(mutex);
    return answers;
  }

  platform::fake::VirtualMainLoop loop;
  CollectedLines diagnostics;
  Deadline deadline{loop, diagnostics.sink(), runInline};
  std::mutex mutex;
  std::vector<bool> answers;
};

TEST_F(DeadlineTest, AnOperationThatFinishesInTimeAnswersTrueAndNeverWritesTheLine) {
  run(8, "mic stop", [this](Deadline::Finished finished) { loop.after(1.0, std::move(finished)); });
  loop.advance(0.999);
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{});
  loop.advance(0.001);
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{true});
  loop.advance(60);
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{true});
  EXPECT_EQ(diagnostics.lines(), std::vector<std::string>{});
}

TEST_F(DeadlineTest, AnOperationThatNeverFinishesAnswersFalseWhenTheTimeRunsOut) {
  Deadline::Finished lateFinish;
  run(8, "mic stop", [&lateFinish](Deadline::Finished finished) { lateFinish = std::move(finished); });
  loop.advance(7.999);
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{});
  loop.advance(0.001);
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{false});
  EXPECT_EQ(diagnostics.lines(),
            std::vector<std::string>{"[deadline] mic stop did not finish in 8s \xE2\x80\x94 abandoning it (RULE 6)\n"});
  // The abandoned operation's late completion is ignored.
  lateFinish();
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{false});
}

TEST_F(DeadlineTest, AFractionalDeadlineRunsItsFullTimeAndPrintsWholeSeconds) {
  run(2.9, "system-audio stop", [](const Deadline::Finished&) {});
  loop.advance(2.899);
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{});
  loop.advance(0.001);
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{false});
  EXPECT_EQ(diagnostics.lines(),
            std::vector<std::string>{"[deadline] system-audio stop did not finish in 2s \xE2\x80\x94 abandoning it (RULE 6)\n"});
}

TEST_F(DeadlineTest, AnOperationThatFinishesAtOnceAnswersTrueOnce) {
  run(8, "quick", [](const Deadline::Finished& finished) {
    finished();
    finished();
  });
  loop.advance(10);
  EXPECT_EQ(recordedAnswers(), std::vector<bool>{true});
  EXPECT_EQ(diagnostics.lines(), std::vector<std::string>{});
}

TEST_F(DeadlineTest, UnusualLimits) {
  // Negative and NaN limits run out at once rather than waiting on an undefined duration.
  run(-3, "negative", [](const Deadline::Finished&) {});
  run(std::numeric_limits<double>::quiet_NaN(), "nan", [](const Deadline::Finished&) {});
  loop.runPending();
  EXPECT_EQ(recordedAnswers(), (std::vector<bool>{false, false}));
  // An infinite limit never runs out.
  Deadline::Finished lateFinish;
  run(std::numeric_limits<double>::infinity(), "forever",
      [&lateFinish](Deadline::Finished finished) { lateFinish = std::move(finished); });
  loop.advance(1e6);
  EXPECT_EQ(recordedAnswers().size(), 2u);
  lateFinish();
  EXPECT_EQ(recordedAnswers(), (std::vector<bool>{false, false, true}));
}

TEST(DeadlineLineTest, PrintsTheLimitTruncatedToWholeSeconds) {
  static const struct {
    double seconds;
    const char* expectedNumber;
  } cases[] = {
      {8, "8"}, {2.9, "2"}, {0.999, "0"}, {5, "5"}, {-3, "0"}, {std::numeric_limits<double>::quiet_NaN(), "0"}, {1e10, "10000000000"},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(Deadline::abandonedLine("mic stop", testCase.seconds),
              std::string("[deadline] mic stop did not finish in ") + testCase.expectedNumber +
                  "s \xE2\x80\x94 abandoning it (RULE 6)\n");
  }
}

TEST(DeadlineThreadTest, ABlockedOperationBlocksNeitherTheCallerNorTheAnswer) {
  platform::fake::VirtualMainLoop loop;
  CollectedLines diagnostics;
  const Deadline deadline(loop, diagnostics.sink());
  std::promise<void> release;
  std::promise<void> operationReturned;
  std::promise<bool> answer;

  // Called from another thread, as a controller's queue would.
  std::thread caller([&] {
    deadline.withDeadline(
        8, "mic stop",
        [&](const Deadline::Finished& finished) {
          release.get_future().wait();  // a platform call that hangs
          finished();
          operationReturned.set_value();
        },
        [&](bool finishedInTime) { answer.set_value(finishedInTime); });
  });
  caller.join();  // returns although the operation is still blocked

  ASSERT_TRUE(loop.runUntil([&] { return loop.activeTimerCount() == 1; }));
  loop.advance(8);
  auto answered = answer.get_future();
  ASSERT_EQ(answered.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_FALSE(answered.get());
  EXPECT_EQ(diagnostics.lines().size(), 1u);

  // Its late end changes nothing (a second answer would throw from the promise).
  release.set_value();
  operationReturned.get_future().wait();
}

}  // namespace
}  // namespace quillet::capture
