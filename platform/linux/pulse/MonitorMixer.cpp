#include "platform/linux/pulse/MonitorMixer.h"

#include <algorithm>

namespace quillet::platform::pulse {

MonitorMixer::MonitorMixer(AudioFormat format, std::size_t blockFrames)
    : format_(format),
      channels_(std::size_t(std::max(format.channelCount, 1))),
      blockFrames_(std::max<std::size_t>(blockFrames, 1)),
      mixed_(channels_) {}

void MonitorMixer::addInput(std::uint32_t key) {
  auto& input = inputs_[key];
  input.leaving = false;
}

void MonitorMixer::removeInput(std::uint32_t key) {
  const auto found = inputs_.find(key);
  if (found == inputs_.end()) return;
  if (found->second.queued.empty()) {
    inputs_.erase(found);
  } else {
    found->second.leaving = true;
  }
}

bool MonitorMixer::hasInput(std::uint32_t key) const {
  const auto found = inputs_.find(key);
  return found != inputs_.end() && !found->second.leaving;
}

void MonitorMixer::append(std::uint32_t key, const float* samples, std::size_t frames) {
  const auto found = inputs_.find(key);
  if (found == inputs_.end() || frames == 0) return;
  auto& queued = found->second.queued;
  if (samples != nullptr) {
    queued.insert(queued.end(), samples, samples + frames * channels_);
  } else {
    queued.resize(queued.size() + frames * channels_, 0.0F);
  }
  const auto limit = std::size_t(format_.sampleRate) * channels_;
  if (queued.size() > limit) queued.erase(queued.begin(), queued.end() - std::ptrdiff_t(limit));
}

void MonitorMixer::mixReady(const Deliver& deliver) {
  for (;;) {
    const std::size_t fullest = fullestFrames();
    const std::size_t needed = runningInputs() > 1 ? 2 * blockFrames_ : blockFrames_;
    if (fullest < needed) return;
    mixBlock(blockFrames_, deliver);
  }
}

void MonitorMixer::flush(const Deliver& deliver) {
  while (const std::size_t fullest = fullestFrames()) mixBlock(std::min(fullest, blockFrames_), deliver);
}

std::size_t MonitorMixer::fullestFrames() const {
  std::size_t fullest = 0;
  for (const auto& [key, input] : inputs_) fullest = std::max(fullest, input.queued.size() / channels_);
  return fullest;
}

std::size_t MonitorMixer::runningInputs() const {
  return std::size_t(std::count_if(inputs_.begin(), inputs_.end(), [](const auto& entry) {
    return !entry.second.leaving;
  }));
}

void MonitorMixer::mixBlock(std::size_t frames, const Deliver& deliver) {
  for (auto& channel : mixed_) channel.assign(frames, 0.0F);
  for (auto entry = inputs_.begin(); entry != inputs_.end();) {
    auto& queued = entry->second.queued;
    const std::size_t taken = std::min(frames, queued.size() / channels_);
    for (std::size_t frame = 0; frame < taken; ++frame) {
      for (std::size_t channel = 0; channel < channels_; ++channel) {
        mixed_[channel][frame] += queued[frame * channels_ + channel];
      }
    }
    queued.erase(queued.begin(), queued.begin() + std::ptrdiff_t(taken * channels_));
    if (entry->second.leaving && queued.empty()) {
      entry = inputs_.erase(entry);
    } else {
      ++entry;
    }
  }
  delivery_.channels.clear();
  for (const auto& channel : mixed_) delivery_.channels.push_back(channel.data());
  delivery_.frameCount = frames;
  delivery_.format = format_;
  deliver(delivery_);
}

}  // namespace quillet::platform::pulse
