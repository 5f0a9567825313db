#include "quillet-dictate/transcription/ChunkedTranscribeClient.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "common/runtime/Weakly.h"
#include "common/text/UnicodeText.h"
#include "quillet-dictate/transcription/TranscriptCleanup.h"
#include "quillet-dictate/transcription/TranscriptStitching.h"

namespace quillet::dictate {
namespace {

constexpr std::size_t kReceivedExcerptCharacters = 80;
constexpr std::size_t kDroppedExcerptCharacters = 90;
constexpr std::size_t kFinalExcerptCharacters = 200;

// The first `limit` user-perceived characters of `text`.
std::string leadingCharacters(std::string_view text, std::size_t limit) {
  std::string excerpt;
  std::size_t taken = 0;
  text::forEachCharacter(text, [&](std::string_view character) {
    if (taken < limit) excerpt += character;
    ++taken;
  });
  return excerpt;
}

// Keeps one log entry on one line.
std::string withLineFeedsAsSpaces(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// Calls a copy, so a callback that replaces or clears itself (through cancel()) is not destroyed while it runs.
template <class Callback, class... Arguments>
void call(const Callback& callback, const Arguments&... arguments) {
  if (!callback) return;
  const Callback running = callback;
  running(arguments...);
}

}  // namespace

std::string ChunkedTranscribeError::description() const {
  switch (kind) {
    case Kind::allChunksFailed:
      return "Transcription failed. Check your connection and try again.";
  }
  return {};
}

std::shared_ptr<ChunkedTranscribeClient> ChunkedTranscribeClient::create(ChunkTranscriber transcriber,
                                                                         platform::MainLoop& mainLoop,
                                                                         const platform::Clock& clock,
                                                                         const VxLog& log) {
  return std::shared_ptr<ChunkedTranscribeClient>(
      new ChunkedTranscribeClient(std::move(transcriber), mainLoop, clock, log));
}

ChunkedTranscribeClient::ChunkedTranscribeClient(ChunkTranscriber transcriber, platform::MainLoop& mainLoop,
                                                 const platform::Clock& clock, const VxLog& log)
    : transcriber_(std::move(transcriber)), mainLoop_(mainLoop), clock_(clock), log_(log) {}

void ChunkedTranscribeClient::connect() {
  mainLoop_.post(weakly(shared_from_this(), [](ChunkedTranscribeClient& client) {
    if (!client.isCancelled_) call(client.onConnected);
  }));
}

void ChunkedTranscribeClient::send(AudioStreamer::Chunk chunk) {
  if (isCancelled_) return;
  // Counted here, before returning, so that a finish() that follows on any thread already sees this chunk.
  const int count = ++inFlight_;
  const auto sentAt = clock_.monotonicNow();
  log_.log("[STT] send chunk #" + std::to_string(chunk.index) + " " + std::to_string(chunk.wav.size()) +
           "B inFlight=" + std::to_string(count));
  // The engine router keeps main-thread state, so its request starts there whichever thread cut the chunk.
  mainLoop_.post(weakly(shared_from_this(), [chunk = std::move(chunk), sentAt](ChunkedTranscribeClient& client) {
    client.transcribe(chunk, sentAt);
  }));
}

void ChunkedTranscribeClient::transcribe(const AudioStreamer::Chunk& chunk, std::chrono::nanoseconds sentAt) {
  if (isCancelled_) return;
  transcriber_(chunk, weakly(shared_from_this(),
                             [index = chunk.index, sentAt](ChunkedTranscribeClient& client,
                                                           AIOutcome<ChunkTranscription> outcome) {
                               client.receive(index, sentAt, std::move(outcome));
                             }));
}

void ChunkedTranscribeClient::finish() {
  const auto keepAlive = shared_from_this();  // the owner may drop the client from inside onFinal
  isFinalized_ = true;
  maybeFinalize();
}

void ChunkedTranscribeClient::cancel() {
  const auto keepAlive = shared_from_this();  // a callback may hold the owner's last reference to the client
  isFinalized_ = true;
  isCancelled_ = true;
  onConnected = nullptr;
  onPartial = nullptr;
  onFinal = nullptr;
  onError = nullptr;
  onClosed = nullptr;
  onLanguageDetected = nullptr;
}

void ChunkedTranscribeClient::receive(int index, std::chrono::nanoseconds sentAt,
                                      AIOutcome<ChunkTranscription> outcome) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.monotonicNow() - sentAt).count();
  const std::string chunkLabel = "chunk #" + std::to_string(index) + " " + std::to_string(elapsed) + "ms ";
  if (outcome.failed()) {
    log_.log("[STT] fail " + chunkLabel + "err=" + outcome.error().description());
    handleFailure(index, outcome.error());
    return;
  }
  const auto& result = outcome.value();
  log_.log("[STT] recv " + chunkLabel + "lang=" + result.language.value_or("unknown") +
           " len=" + std::to_string(text::characterCount(result.text)) + " \"" +
           withLineFeedsAsSpaces(leadingCharacters(result.text, kReceivedExcerptCharacters)) + "\"");
  handleSuccess(index, result.text, result.language);
}

void ChunkedTranscribeClient::handleSuccess(int index, const std::string& text,
                                            const std::optional<std::string>& language) {
  if (isCancelled_) return;
  --inFlight_;
  const std::string spoken = TranscriptStitching::dropLikelySilenceHallucination(text);
  if (spoken.empty() && !text::trimmedWhitespaceAndNewlines(text).empty()) {
    log_.log("[STT] drop hallucinated/no-speech chunk #" + std::to_string(index) + ": \"" +
             leadingCharacters(text, kDroppedExcerptCharacters) + "\"");
  }
  const bool sentenceStart = startsSentence(index);
  segments_[index] = TranscriptCleanup::clean(spoken, sentenceStart);
  if (language) rememberLanguage(index, *language);
  emitPartial();
  maybeFinalize();
}

void ChunkedTranscribeClient::handleFailure(int index, const AIFailure& error) {
  if (isCancelled_) return;
  --inFlight_;
  log_.log("🎙 chunk " + std::to_string(index) + " failed: " + error.description());
  segments_[index] = std::string();
  emitPartial();
  maybeFinalize();
}

// Decided from what has arrived so far: an earlier chunk still in flight is not waited for.
bool ChunkedTranscribeClient::startsSentence(int index) const {
  if (index == 0) return true;
  const auto following = segments_.lower_bound(index);
  if (following == segments_.begin()) return true;
  return TranscriptStitching::startsSentenceAfter(std::prev(following)->second);
}

void ChunkedTranscribeClient::rememberLanguage(int index, const std::string& language) {
  std::string trimmed = text::trimmedWhitespaceAndNewlines(language);
  if (trimmed.empty() || text::lowercased(trimmed) == "unknown") return;
  languages_[index] = trimmed;
  call(onLanguageDetected, dominantLanguage().value_or(trimmed));
}

void ChunkedTranscribeClient::emitPartial() {
  std::string text = TranscriptStitching::stitch(segments_);
  if (text == lastEmitted_) return;
  lastEmitted_ = text;
  call(onPartial, text);
}

void ChunkedTranscribeClient::maybeFinalize() {
  // Reported once, even if finish() comes twice or a stray chunk is sent after it.
  if (!isFinalized_ || inFlight_ != 0 || isCancelled_ || hasReported_) return;
  hasReported_ = true;
  const std::string text = TranscriptStitching::stitch(segments_);
  const bool everySegmentEmpty =
      std::all_of(segments_.begin(), segments_.end(), [](const auto& segment) { return segment.second.empty(); });
  if (text.empty() && !segments_.empty() && everySegmentEmpty) {
    log_.log("[STT] ❌ all " + std::to_string(segments_.size()) + " chunks empty/failed");
    call(onError, ChunkedTranscribeError::allChunksFailed());
    call(onClosed);
    return;
  }
  const std::size_t length = text::characterCount(text);
  log_.log("[STT] ✅ final chunks=" + std::to_string(segments_.size()) + " len=" + std::to_string(length) + " \"" +
           withLineFeedsAsSpaces(leadingCharacters(text, kFinalExcerptCharacters)) +
           (length > kFinalExcerptCharacters ? "…" : "") + "\"");
  call(onFinal, text);
  call(onClosed);
}

std::optional<std::string> ChunkedTranscribeClient::dominantLanguage() const {
  std::map<std::string, int> counts;
  for (const auto& [index, language] : languages_) ++counts[language];
  std::optional<std::string> dominant;
  int highest = 0;
  // Ascending order and a strict comparison let the value that sorts first win a tie.
  for (const auto& [language, count] : counts) {
    if (count > highest) {
      dominant = language;
      highest = count;
    }
  }
  return dominant;
}

}  // namespace quillet::dictate
