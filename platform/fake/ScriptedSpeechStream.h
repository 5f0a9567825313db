#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/SpeechStream.h"

namespace quillet::platform::fake {

// A stream whose results the test delivers by hand, on the test's thread standing in for the decoding thread.
class ScriptedSpeechStream final : public SpeechStream {
 public:
  // What a test sees and drives of one opened stream; it outlives the stream.
  class Control {
   public:
    Control(std::string locale, Handlers handlers, std::vector<SpeechResult> finishResults,
            Status finishEnding, bool answersFinish);

    // Runs the stream's result handler, unless the stream is gone or has ended.
    void deliver(const SpeechResult& result);
    // Runs the end handler once, unless the stream is gone.
    void end(Status ending = succeeded());

    [[nodiscard]] const std::string& locale() const { return locale_; }
    [[nodiscard]] std::vector<std::int16_t> pushed() const;
    [[nodiscard]] bool finished() const;
    [[nodiscard]] bool destroyed() const;

   private:
    friend class ScriptedSpeechStream;
    void push(std::span<const std::int16_t> samples);
    void finish();
    void destroy();

    const std::string locale_;
    const Handlers handlers_;
    const std::vector<SpeechResult> finishResults_;
  const Status finishEnding_;
    const bool answersFinish_;
    mutable std::mutex mutex_;
    std::vector<std::int16_t> pushed_;
    bool finished_ = false;
    bool ended_ = false;
    bool destroyed_ = false;
  };

  explicit ScriptedSpeechStream(std::shared_ptr<Control> control) : control_(std::move(control)) {}
  ~ScriptedSpeechStream() override { control_->destroy(); }

  ScriptedSpeechStream(const ScriptedSpeechStream&) = delete;
  ScriptedSpeechStream& operator=(const ScriptedSpeechStream&) = delete;

  void push(std::span<const std::int16_t> samples) override { control_->push(samples); }
  // With answersFinish, delivers the finish results and ends (with the finish failure, if any) at once, like an
  // engine with nothing left to do.
  void finish() override { control_->finish(); }

 private:
  std::shared_ptr<Control> control_;
};

}  // namespace quillet::platform::fake
