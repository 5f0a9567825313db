#pragma once

#include <pulse/sample.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "common/result/Expected.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace quillet::bench {

// The least a libpulse client does to record: a threaded main loop and one record stream whose read
// callback peeks at each packet and drops it, touching no sample. It is the yardstick for what the
// microphone adapter costs on top of the client library itself.
class BareRecorder {
 public:
  // `server` as the adapter takes it; `threadName` names the loop's thread, so that its CPU time and
  // wake-ups can be told apart from every other thread's.
  BareRecorder(std::string server, const std::string& threadName);
  ~BareRecorder();

  BareRecorder(const BareRecorder&) = delete;
  BareRecorder& operator=(const BareRecorder&) = delete;

  // Records the server's default input as `format` with fragments of `fragmentBytes`, the way the adapter
  // asks for them; answers an error description on failure.
  Status start(const pa_sample_spec& format, std::uint32_t fragmentBytes);
  void stop();

  // Packets peeked since start, holes included, and the bytes they held.
  [[nodiscard]] std::uint64_t packets() const { return packets_; }
  [[nodiscard]] std::uint64_t bytes() const { return bytes_; }

 private:
  static void stateChanged(pa_context* context, void* userdata);
  static void streamStateChanged(pa_stream* stream, void* userdata);
  static void readable(pa_stream* stream, std::size_t bytes, void* userdata);

  // Run with the loop's lock held.
  Status connect();
  Status openStream(const pa_sample_spec& format, std::uint32_t fragmentBytes);
  void release();

  const std::string server_;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::atomic<std::uint64_t> packets_ = 0;
  std::atomic<std::uint64_t> bytes_ = 0;
};

}  // namespace quillet::bench
