#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/AudioInput.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace quillet::platform::pulse {

// The sound server's default input source through the PulseAudio client API (PipeWire answers it too),
// recorded as 32-bit float at the source's own rate and channel count. A threaded main loop owns the
// connection; its thread assembles the server's small fragments into tap buffers. Every call that needs
// the server waits a few seconds at most, so a missing or stuck server reads as an error, never a hang.
// The tap runs under the loop's lock, which is how removeTap and installTap wait out a delivery in
// progress: their caller must not hold anything the tap itself waits for.
class PulseAudioInput final : public AudioInput {
 public:
  // `server` is a PulseAudio server address ("unix:/run/user/1000/pulse/native"); empty means the
  // user's own server (PULSE_SERVER and the client configuration). The server never gets started for us.
  // `applicationName` is how the sound server lists this program.
  PulseAudioInput(std::string server, std::string applicationName);
  ~PulseAudioInput() override;

  PulseAudioInput(const PulseAudioInput&) = delete;
  PulseAudioInput& operator=(const PulseAudioInput&) = delete;

  MicAuthorization authorization() override;
  void requestAccess(std::function<void(bool granted)> completion) override;
  std::optional<AudioFormat> hardwareFormat() override;
  bool voiceProcessingEnabled() override;
  Status setVoiceProcessingEnabled(bool enabled) override;
  void installTap(std::size_t bufferFrames, Tap tap) override;
  void removeTap() override;
  Status start() override;
  void stop() override;
  [[nodiscard]] bool isRunning() const override;
  // Told when the default input becomes another source or the server drops the recording.
  void setConfigurationChangeHandler(ConfigurationChanged handler) override;

  // The fragment length, in microseconds, asked of the server for tap buffers of `bufferFrames` frames.
  static std::uint64_t fragmentMicroseconds(std::size_t bufferFrames, std::uint32_t sampleRate);

 private:
  struct SourceFacts;
  using Connection = std::pair<pa_context*, pa_stream*>;

  static void contextStateChanged(pa_context* context, void* userdata);
  static void streamStateChanged(pa_stream* stream, void* userdata);
  static void streamReadable(pa_stream* stream, std::size_t bytes, void* userdata);
  // The server's change events and answers about its default input, run on the loop's thread.
  struct ServerCallbacks;

  // All of these run with the loop's lock held.
  pa_context* connect(std::string& error);
  std::optional<SourceFacts> defaultSource(pa_context* context, std::string& error);
  Status openStream(const SourceFacts& source);
  // Waits on the loop until `done` holds or the timeout passes (the server's answer time by default).
  template <typename Done>
  bool waitFor(pa_context* context, Done done, std::uint64_t timeoutMicroseconds = 3'000'000);
  void collectTail();
  void endSession();
  void retireSession();
  void forgetSession();
  void releaseRetired();
  void watchDefaultSource();
  void reportLoss(const std::string& what);
  void reportConfigurationChange();
  void readAvailable(pa_stream* stream);
  void append(const void* data, std::size_t frames);
  void deliverPending();
  void detachTap();

  std::optional<AudioFormat> probeFormat();
  void rememberFormat(std::optional<AudioFormat> format);
  [[nodiscard]] bool insideTap() const;

  const std::string server_;
  const std::string applicationName_;
  pa_threaded_mainloop* mainloop_ = nullptr;

  // Keeps two callers from starting at once; the audio thread never takes it.
  std::mutex startMutex_;

  // Guarded by the loop's lock.
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  // Connections a tap stopped from inside a delivery, released once the loop has left it.
  std::vector<Connection> retired_;
  // Whether audio read from the stream is kept; false once stopped or lost.
  bool capturing_ = false;
  AudioFormat sessionFormat_;
  // The source the session records, to tell a change of the default input from other server changes.
  std::string sessionSourceName_;
  ConfigurationChanged configurationChanged_;
  Tap tap_;
  // Changes with every installTap and removeTap, so a delivery knows whether its tap was replaced.
  unsigned tapGeneration_ = 0;
  std::size_t bufferFrames_ = 0;
  // The tap buffer being assembled, one vector per channel, pendingFrames_ of them filled.
  std::vector<std::vector<float>> pending_;
  std::size_t pendingFrames_ = 0;
  AudioFormat pendingFormat_;
  // Frames the server has sent on the current stream, holes included.
  std::uint64_t framesRead_ = 0;
  // While the tail is collected: the frames the device had captured by then, once the server said.
  // The audio thread reads no further than that and wakes the waiting caller after every fragment,
  // so a tap slower than the audio cannot keep the caller waiting beyond its bound.
  bool collectingTail_ = false;
  std::optional<std::uint64_t> tailTarget_;
  AudioBuffer delivery_;

  std::atomic<bool> running_ = false;
  // Callers queueing for the loop's lock; the audio thread lets them in between fragments.
  std::atomic<int> callersWaiting_ = 0;
  // The thread running the tap at the moment, which must not wait for the loop.
  std::atomic<std::thread::id> tapThread_;

  // The hardware format while recording or since the last query; empty once stopped or lost.
  mutable std::mutex formatMutex_;
  std::optional<AudioFormat> format_;
};

}  // namespace quillet::platform::pulse
