#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "quillet-dictate/backend/AIFailure.h"
#include "quillet-dictate/shell/VxLog.h"
#include "quillet-dictate/transcription/ChunkTranscription.h"

namespace quillet::dictate {

// Why a recording's transcription produced nothing at all.
struct ChunkedTranscribeError {
  enum class Kind { allChunksFailed };

  Kind kind = Kind::allChunksFailed;

  static ChunkedTranscribeError allChunksFailed() { return {Kind::allChunksFailed}; }

  [[nodiscard]] std::string description() const;

  bool operator==(const ChunkedTranscribeError&) const = default;
};

// Turns the WAV chunks of one recording into one growing transcript. Every chunk is transcribed on
// its own and concurrently; answers come back in any order, are cleaned, stored under the chunk's
// index and re-stitched in index order after each answer. The stitched text is published as a
// partial while chunks arrive and as the final text once finish() was called and nothing is in flight.
//
// Owned through a shared pointer so that answers arriving after the owner dropped the client find
// nothing to update. send() may be called on any thread; everything else, and every callback, runs
// on the main loop.
class ChunkedTranscribeClient : public std::enable_shared_from_this<ChunkedTranscribeClient> {
 public:
  // Set once by the owner before connect(); cancel() empties them.
  std::function<void(const std::string& text)> onPartial;
  std::function<void(const std::string& text)> onFinal;
  std::function<void(const ChunkedTranscribeError& error)> onError;
  std::function<void()> onClosed;  // after onFinal or onError
  std::function<void()> onConnected;
  std::function<void(const std::string& language)> onLanguageDetected;  // the recording's dominant language

  static std::shared_ptr<ChunkedTranscribeClient> create(ChunkTranscriber transcriber, platform::MainLoop& mainLoop,
                                                         const platform::Clock& clock, const VxLog& log);

  ChunkedTranscribeClient(const ChunkedTranscribeClient&) = delete;
  ChunkedTranscribeClient& operator=(const ChunkedTranscribeClient&) = delete;

  // Calls onConnected from the main loop soon, unless cancelled by then. Nothing is opened.
  void connect();

  // Counts the chunk as in flight at once and has it transcribed. Any thread; ignored once cancelled.
  void send(AudioStreamer::Chunk chunk);

  // No more chunks will come: the final text is reported as soon as nothing is in flight.
  void finish();

  // Ends the client silently: answers still in flight are ignored and no callback is called again.
  void cancel();

  // Chunks sent and not yet answered. Any thread.
  [[nodiscard]] int inFlight() const { return inFlight_.load(); }
  [[nodiscard]] bool isFinalized() const { return isFinalized_; }
  [[nodiscard]] bool isCancelled() const { return isCancelled_.load(); }
  // Cleaned text per answered chunk index; empty for a failed or dropped chunk.
  [[nodiscard]] const std::map<int, std::string>& segments() const { return segments_; }
  // Language per chunk index, for the chunks that reported one.
  [[nodiscard]] const std::map<int, std::string>& languages() const { return languages_; }
  // The last text passed to onPartial.
  [[nodiscard]] const std::string& lastEmitted() const { return lastEmitted_; }

 private:
  ChunkedTranscribeClient(ChunkTranscriber transcriber, platform::MainLoop& mainLoop, const platform::Clock& clock,
                          const VxLog& log);

  void transcribe(const AudioStreamer::Chunk& chunk, std::chrono::nanoseconds sentAt);
  void receive(int index, std::chrono::nanoseconds sentAt, AIOutcome<ChunkTranscription> outcome);
  void handleSuccess(int index, const std::string& text, const std::optional<std::string>& language);
  void handleFailure(int index, const AIFailure& error);
  [[nodiscard]] bool startsSentence(int index) const;
  void rememberLanguage(int index, const std::string& language);
  void emitPartial();
  void maybeFinalize();
  [[nodiscard]] std::optional<std::string> dominantLanguage() const;

  ChunkTranscriber transcriber_;
  platform::MainLoop& mainLoop_;
  const platform::Clock& clock_;
  const VxLog& log_;

  std::map<int, std::string> segments_;
  std::map<int, std::string> languages_;
  // Raised by send() on the caller's thread and lowered on the main loop, so it is counted atomically.
  std::atomic<int> inFlight_{0};
  bool isFinalized_ = false;
  std::atomic<bool> isCancelled_{false};  // read by send() on any thread
  bool hasReported_ = false;              // onFinal or onError was called
  std::string lastEmitted_;
};

}  // namespace quillet::dictate
