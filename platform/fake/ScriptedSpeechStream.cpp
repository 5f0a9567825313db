#include "platform/fake/ScriptedSpeechStream.h"

#include <utility>

namespace quillet::platform::fake {

ScriptedSpeechStream::Control::Control(std::string locale, Handlers handlers, std::vector<SpeechResult> finishResults,
                                       Status finishEnding, bool answersFinish)
    : locale_(std::move(locale)),
      handlers_(std::move(handlers)),
      finishResults_(std::move(finishResults)),
      finishEnding_(std::move(finishEnding)),
      answersFinish_(answersFinish) {}

void ScriptedSpeechStream::Control::deliver(const SpeechResult& result) {
  {
    std::lock_guard lock(mutex_);
    if (destroyed_ || ended_) return;
  }
  if (handlers_.onResult) handlers_.onResult(result);
}

void ScriptedSpeechStream::Control::end(Status ending) {
  {
    std::lock_guard lock(mutex_);
    if (destroyed_ || ended_) return;
    ended_ = true;
  }
  if (handlers_.onEnd) handlers_.onEnd(std::move(ending));
}

std::vector<std::int16_t> ScriptedSpeechStream::Control::pushed() const {
  std::lock_guard lock(mutex_);
  return pushed_;
}

bool ScriptedSpeechStream::Control::finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool ScriptedSpeechStream::Control::destroyed() const {
  std::lock_guard lock(mutex_);
  return destroyed_;
}

void ScriptedSpeechStream::Control::push(std::span<const std::int16_t> samples) {
  std::lock_guard lock(mutex_);
  if (!finished_) pushed_.insert(pushed_.end(), samples.begin(), samples.end());
}

void ScriptedSpeechStream::Control::finish() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  if (!answersFinish_) return;
  for (const auto& result : finishResults_) deliver(result);
  end(finishEnding_);
}

void ScriptedSpeechStream::Control::destroy() {
  std::lock_guard lock(mutex_);
  destroyed_ = true;
}

}  // namespace quillet::platform::fake
