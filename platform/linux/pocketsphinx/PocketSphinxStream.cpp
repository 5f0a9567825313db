#include "platform/linux/pocketsphinx/PocketSphinxStream.h"

#include <pocketsphinx.h>

#include <algorithm>
#include <utility>

namespace quillet::platform::pocketsphinx {

namespace {

std::string hypothesisOf(ps_decoder_t* decoder) {
  const char* text = ps_get_hyp(decoder, nullptr);
  return text != nullptr ? text : "";
}

// Silence ("<sil>"), the utterance marks ("<s>", "</s>") and noises ("[NOISE]") are no words.
bool isWord(const char* word) { return word != nullptr && word[0] != '\0' && word[0] != '<' && word[0] != '['; }

}  // namespace

PocketSphinxStream::PocketSphinxStream(DecoderPool::Lease lease, Handlers handlers)
    : lease_(std::move(lease)), handlers_(std::move(handlers)) {
  const long frameRate = cmd_ln_int32_r(ps_get_config(lease_.decoder()), "-frate");
  if (frameRate > 0) framesPerSecond_ = int(frameRate);
  thread_ = std::thread([this] { decodeLoop(); });
}

PocketSphinxStream::~PocketSphinxStream() {
  cancelled_ = true;
  wake_.notify_all();
  thread_.join();
}

void PocketSphinxStream::push(std::span<const std::int16_t> samples) {
  if (samples.empty()) return;
  {
    std::lock_guard lock(mutex_);
    if (finishing_) return;
    pending_.emplace_back(samples.begin(), samples.end());
  }
  wake_.notify_one();
}

void PocketSphinxStream::finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  wake_.notify_one();
}

void PocketSphinxStream::decodeLoop() {
  ps_decoder_t* decoder = lease_.decoder();
  Status decoding;
  if (ps_start_utt(decoder) < 0) decoding = Error("PocketSphinx could not start an utterance");
  while (decoding.hasValue()) {
    std::vector<std::int16_t> block;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return cancelled_ || finishing_ || !pending_.empty(); });
      if (cancelled_) break;
      if (pending_.empty()) {
        lock.unlock();
        // A failure to settle the last utterance still ends the stream, so nobody waits for an end that
        // never comes; the decoder is then freed rather than given back.
        decoding = settle(true);
        if (decoding.hasValue()) lease_.keep();
        if (handlers_.onEnd) handlers_.onEnd(std::move(decoding));
        return;
      }
      block = std::move(pending_.front());
      pending_.pop_front();
    }
    decoding = decodeBlock(block);
  }
  if (decoding.failed()) {
    // The decoder's utterance may be left half done, so the lease frees it instead of giving it back.
    {
      std::lock_guard lock(mutex_);
      finishing_ = true;
      pending_.clear();
    }
    if (handlers_.onEnd) handlers_.onEnd(std::move(decoding));
    return;
  }
  // Destroyed before the end: the utterance is abandoned, and the decoder is reusable once it is closed.
  if (ps_end_utt(decoder) >= 0) lease_.keep();
}

Status PocketSphinxStream::decodeBlock(const std::vector<std::int16_t>& block) {
  const auto pieceLength = std::size_t(kSampleRate * kPieceSeconds);
  const std::span<const std::int16_t> samples(block);
  for (std::size_t start = 0; start < samples.size() && !cancelled_; start += pieceLength) {
    auto decoded = decodePiece(samples.subspan(start, std::min(pieceLength, samples.size() - start)));
    if (decoded.failed()) return decoded;
  }
  return succeeded();
}

Status PocketSphinxStream::decodePiece(std::span<const std::int16_t> piece) {
  ps_decoder_t* decoder = lease_.decoder();
  if (ps_process_raw(decoder, piece.data(), piece.size(), 0, 0) < 0) {
    return Error("PocketSphinx failed while decoding");
  }
  position_ += piece.size();
  const bool speech = ps_get_in_speech(decoder) != 0;
  if (speech && !inSpeech_) {
    inSpeech_ = true;
    sinceProvisional_ = 0;
    lastProvisional_.clear();
  } else if (!speech && inSpeech_) {
    return settle(false);
  } else if (speech) {
    sinceProvisional_ += piece.size();
    if (double(sinceProvisional_) >= kProvisionalSeconds * kSampleRate) reportProvisional();
  }
  return succeeded();
}

void PocketSphinxStream::reportProvisional() {
  sinceProvisional_ = 0;
  auto text = hypothesisOf(lease_.decoder());
  if (text.empty() || text == lastProvisional_) return;
  lastProvisional_ = text;
  const int frames = ps_get_n_frames(lease_.decoder());
  if (handlers_.onResult) handlers_.onResult({std::move(text), false, rangeOfFrames(0, frames - 1)});
}

Status PocketSphinxStream::settle(bool last) {
  ps_decoder_t* decoder = lease_.decoder();
  inSpeech_ = false;
  if (ps_end_utt(decoder) < 0) return Error("PocketSphinx could not finish the utterance");
  auto text = hypothesisOf(decoder);
  if (!text.empty()) {
    const auto range = settledRange();
    lastSettledEnd_ = range.start + range.duration;
    if (handlers_.onResult) handlers_.onResult({std::move(text), true, range});
  }
  if (!last && ps_start_utt(decoder) < 0) return Error("PocketSphinx could not start an utterance");
  return succeeded();
}

SpeechTimeRange PocketSphinxStream::settledRange() const {
  ps_decoder_t* decoder = lease_.decoder();
  int first = -1;
  int last = -1;
  for (ps_seg_t* segment = ps_seg_iter(decoder); segment != nullptr; segment = ps_seg_next(segment)) {
    if (!isWord(ps_seg_word(segment))) continue;
    int start = 0;
    int end = 0;
    ps_seg_frames(segment, &start, &end);
    if (first < 0) first = start;
    last = end;
  }
  const int frames = ps_get_n_frames(decoder);
  if (first < 0 || last < first || last >= frames) return rangeOfFrames(0, frames - 1);
  return rangeOfFrames(first, last);
}

SpeechTimeRange PocketSphinxStream::rangeOfFrames(int first, int last) const {
  const double now = secondsDecoded();
  const double frames = double(std::max(ps_get_n_frames(lease_.decoder()), 0));
  const double utteranceStart = now - frames / double(framesPerSecond_);
  // An utterance never begins before the previous one ended, nor before the first sample.
  const double start = std::max({utteranceStart + double(first) / double(framesPerSecond_), lastSettledEnd_, 0.0});
  const double end = std::clamp(utteranceStart + double(last + 1) / double(framesPerSecond_), start, now);
  return {start, end - start};
}

}  // namespace quillet::platform::pocketsphinx
