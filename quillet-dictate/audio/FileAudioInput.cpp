#include "quillet-dictate/audio/FileAudioInput.h"

#include <chrono>

namespace quillet::dictate {

FileAudioInput::FileAudioInput(std::unique_ptr<platform::AudioFileReader> file, Pace pace)
    : file_(std::move(file)), pace_(pace), format_{file_->sampleRate(), file_->channelCount()} {}

FileAudioInput::~FileAudioInput() {
  stopping_ = true;
  joinReader();
}

void FileAudioInput::requestAccess(std::function<void(bool granted)> completion) {
  if (completion) completion(true);
}

Status FileAudioInput::setVoiceProcessingEnabled(bool enabled) {
  if (enabled) return Error("voice processing is not available for a file");
  return succeeded();
}

void FileAudioInput::installTap(std::size_t bufferFrames, Tap tap) {
  std::lock_guard lock(tapMutex_);
  bufferFrames_ = bufferFrames == 0 ? 1 : bufferFrames;
  tap_ = std::move(tap);
}

// Once this returns the tap is not called again. From inside the tap (its owner may end on the reader's
// thread and remove it there) there is no call to wait for but the present one.
void FileAudioInput::removeTap() {
  std::unique_lock lock(tapMutex_);
  tap_ = nullptr;
  if (std::this_thread::get_id() == reader_.get_id()) return;
  tapCallEnded_.wait(lock, [this] { return !tapCalling_; });
}

Status FileAudioInput::start() {
  if (running_ || reader_.joinable()) return Error("the file is played only once");
  running_ = true;
  reader_ = std::thread([this] { deliverFile(); });
  return succeeded();
}

void FileAudioInput::stop() {
  stopping_ = true;
  joinReader();
  running_ = false;
}

// The end handler may stop this input from the reader's own thread, which then cannot join itself.
void FileAudioInput::joinReader() {
  if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
}

void FileAudioInput::deliverFile() {
  const auto started = std::chrono::steady_clock::now();
  std::size_t framesDelivered = 0;
  Status reading;
  while (!stopping_) {
    std::size_t frames = 0;
    {
      std::lock_guard lock(tapMutex_);
      frames = bufferFrames_;
    }
    auto block = file_->readFrames(frames);
    if (block.failed()) {
      reading = Error(block.error().description);
      break;
    }
    const auto& samples = block.value();
    if (samples.frameCount() == 0) break;
    if (pace_ == Pace::realTime) {
      // A live microphone hands a buffer over once all of its audio has been heard.
      std::this_thread::sleep_until(started + std::chrono::duration<double>(
                                                  double(framesDelivered + samples.frameCount()) / format_.sampleRate));
    }
    platform::AudioBuffer buffer;
    for (const auto& channel : samples.channels) buffer.channels.push_back(channel.data());
    buffer.frameCount = samples.frameCount();
    buffer.format = format_;
    // The tap is called on a copy and without the lock, so that removing it from inside the call neither
    // destroys the running function nor waits for the lock this thread holds.
    std::unique_lock lock(tapMutex_);
    if (Tap tap = tap_) {
      tapCalling_ = true;
      lock.unlock();
      tap(buffer);
      lock.lock();
      tapCalling_ = false;
      tapCallEnded_.notify_all();
    }
    lock.unlock();
    framesDelivered += samples.frameCount();
  }
  if (!stopping_ && endHandler_) endHandler_(std::move(reading));
}

}  // namespace quillet::dictate
