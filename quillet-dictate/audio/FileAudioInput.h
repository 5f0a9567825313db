#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/AudioFileReader.h"
#include "platform/AudioInput.h"

namespace quillet::dictate {

// A recorded file standing in for the microphone: once started, its own thread hands the file to the
// tap in tap-sized buffers, as fast as the tap takes them or paced like a live microphone, and then
// reports the end of the file.
class FileAudioInput final : public platform::AudioInput {
 public:
  enum class Pace { asFastAsPossible, realTime };

  FileAudioInput(std::unique_ptr<platform::AudioFileReader> file, Pace pace);
  ~FileAudioInput() override;

  FileAudioInput(const FileAudioInput&) = delete;
  FileAudioInput& operator=(const FileAudioInput&) = delete;

  // Runs on the input's thread after the last buffer went to the tap (a success), or after a read failure.
  void onEnd(std::function<void(Status reading)> handler) { endHandler_ = std::move(handler); }

  platform::MicAuthorization authorization() override { return platform::MicAuthorization::authorized; }
  void requestAccess(std::function<void(bool granted)> completion) override;
  std::optional<platform::AudioFormat> hardwareFormat() override { return format_; }
  bool voiceProcessingEnabled() override { return false; }
  Status setVoiceProcessingEnabled(bool enabled) override;
  void installTap(std::size_t bufferFrames, Tap tap) override;
  void removeTap() override;
  Status start() override;
  void stop() override;
  [[nodiscard]] bool isRunning() const override { return running_; }

 private:
  void deliverFile();
  void joinReader();

  std::unique_ptr<platform::AudioFileReader> file_;
  Pace pace_;
  platform::AudioFormat format_;
  std::function<void(Status)> endHandler_;

  // Held while the tap runs, so removing the tap waits for a delivery in progress.
  std::mutex tapMutex_;
  // Signalled when a tap call ends, for a removeTap waiting on another thread.
  std::condition_variable tapCallEnded_;
  bool tapCalling_ = false;
  Tap tap_;
  std::size_t bufferFrames_ = 4096;

  std::atomic<bool> running_ = false;
  std::atomic<bool> stopping_ = false;
  std::thread reader_;
};

}  // namespace quillet::dictate
