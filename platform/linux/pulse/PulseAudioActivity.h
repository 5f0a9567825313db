#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppIdentity.h"
#include "platform/AudioActivity.h"
#include "platform/linux/pulse/StreamOwner.h"

struct pa_context;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace quillet::platform::pulse {

// Which devices are in use and by whom, through the PulseAudio client API (PipeWire answers it too).
// A threaded main loop of its own keeps a cache of the server's sources, recording streams and playing
// streams current from the server's change events, so a query costs no round trip and an idle desktop
// costs nothing. Without a server, or once it is gone, every answer is "nothing runs" while the loop
// tries again to connect, less and less often up to every few seconds.
class PulseAudioActivity final : public AudioActivity {
 public:
  // `identity` names the processes behind the streams and must outlive this object; it is only asked from the
  // threads calling the queries. `server` is a PulseAudio server address ("unix:/run/user/1000/pulse/native");
  // empty means the user's own server (PULSE_SERVER and the client configuration). No server is ever started for us.
  explicit PulseAudioActivity(AppIdentity& identity, std::string server = {});
  ~PulseAudioActivity() override;

  PulseAudioActivity(const PulseAudioActivity&) = delete;
  PulseAudioActivity& operator=(const PulseAudioActivity&) = delete;

  bool isInputRunning() override;
  bool isOutputRunning() override;
  std::vector<std::optional<std::string>> inputHolders() override;
  std::vector<std::optional<std::string>> outputHolders() override;

 private:
  // What the cache keeps of one stream: whether it counts and what names its application.
  struct Stream {
    // The source a recording stream reads; unused for playing streams.
    std::uint32_t source = 0;
    bool corked = false;
    // Opened with PA_STREAM_PEAK_DETECT, as level meters do: it watches levels, it does not record.
    bool levelMeter = false;
    StreamOwner owner;
  };

  // The server's callbacks, which run on the loop's thread with its lock held.
  struct Callbacks;

  // Run on the loop's thread with its lock held.
  void connect();
  void retryLater();
  void watchServer();
  void forgetEverything();

  [[nodiscard]] std::vector<Stream> countedRecordings();
  [[nodiscard]] std::vector<Stream> countedPlaybacks();
  [[nodiscard]] std::vector<std::optional<std::string>> holdersOf(const std::vector<Stream>& streams);
  [[nodiscard]] std::optional<std::string> holderOf(const Stream& stream);

  AppIdentity& identity_;
  const std::string server_;
  const std::string localHostName_;
  pa_threaded_mainloop* mainloop_ = nullptr;

  // Used on the loop's thread, or elsewhere under the loop's lock.
  pa_context* context_ = nullptr;
  pa_time_event* retryTimer_ = nullptr;
  std::uint64_t retryDelayMicroseconds_ = 0;

  // Written on the loop's thread, read by the queries.
  std::mutex cacheMutex_;
  std::map<std::uint32_t, bool> sourceIsMonitor_;
  std::map<std::uint32_t, Stream> recordings_;
  std::map<std::uint32_t, Stream> playbacks_;
};

}  // namespace quillet::platform::pulse
