#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/AppIdentity.h"
#include "platform/SystemAudioInput.h"
#include "platform/linux/pulse/ClockedSilence.h"
#include "platform/linux/pulse/MonitorMixer.h"
#include "platform/linux/pulse/StreamOwner.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace quillet::platform::pulse {

// What other applications play, through the PulseAudio client API (PipeWire answers it too).
//
// One application's sound is recorded without touching what the user hears: for each of its playing streams
// (sink inputs) a recording stream is attached to the monitor of the output it plays to and limited to that
// one stream (pa_stream_set_monitor_stream), and the recordings are mixed. The application's streams are
// followed while recording: a stream it opens later joins the mix, one it closes leaves it, and one moved to
// another output is followed there. Without an application, the default output's monitor is recorded whole.
// A threaded main loop of its own runs the recordings; every call that needs the server waits a few seconds at
// most, so a missing or stuck server reads as an error, never a hang.
class PulseSystemAudioInput final : public SystemAudioInput {
 public:
  // `identity` names the processes behind the streams and must outlive this object. `server` is a PulseAudio
  // server address; empty means the user's own server. `applicationName` is how the server lists this program.
  PulseSystemAudioInput(AppIdentity& identity, std::string server, std::string applicationName);
  ~PulseSystemAudioInput() override;

  PulseSystemAudioInput(const PulseSystemAudioInput&) = delete;
  PulseSystemAudioInput& operator=(const PulseSystemAudioInput&) = delete;

  Expected<SystemAudioContent, SystemAudioFailure> shareableContent() override;
  Status start(const SystemAudioScope& scope, AudioFormat format, Output output,
                                   Failed failed) override;
  void stop(Stopped stopped) override;

 private:
  // One recording stream: the monitor of one application stream, or of the whole default output.
  struct Recording {
    std::uint32_t sink = 0;
    pa_stream* stream = nullptr;
  };
  // The server's callbacks, run on the loop's thread with its lock held.
  struct Callbacks;

  // All of these run with the loop's lock held.
  pa_context* connect(std::string& error);
  Status recordWholeOutput();
  void followApplication();
  void consider(std::uint32_t sinkInput, std::uint32_t sink, const StreamOwner& owner);
  void openMonitor(std::uint32_t key, const std::string& device);
  void closeRecording(std::uint32_t key);
  void read(pa_stream* stream);
  // Hands a mixed buffer on, counting it against the clock.
  void deliverMixed(const AudioBuffer& buffer);
  // Fills a silent stretch of a one-application recording; `catchUp` at the end fills up to now.
  void fillSilence(bool catchUp);
  void fail(const std::string& description);
  void endSession();
  [[nodiscard]] std::optional<std::uint32_t> keyOf(const pa_stream* stream) const;

  AppIdentity& identity_;
  const std::string server_;
  const std::string applicationName_;
  const std::string localHostName_;
  pa_threaded_mainloop* mainloop_ = nullptr;

  // Guarded by the loop's lock.
  pa_context* context_ = nullptr;
  std::optional<std::string> application_;
  AudioFormat format_;
  Output output_;
  Failed failed_;
  std::map<std::uint32_t, Recording> recordings_;
  std::unique_ptr<MonitorMixer> mixer_;
  // Only while one application is recorded: its monitors deliver nothing while it has no stream open.
  std::unique_ptr<ClockedSilence> silence_;
  pa_time_event* silenceTimer_ = nullptr;
};

}  // namespace quillet::platform::pulse
