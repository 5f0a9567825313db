#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"

#include "common/contract/EnvironmentVariables.h"
#include "platform/linux/pocketsphinx/DecoderPool.h"
#include "platform/linux/pocketsphinx/PocketSphinxStream.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stop_token>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

namespace quillet::platform::pocketsphinx {

namespace {

bool isFile(const std::filesystem::path& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored);
}

// "en-US" → "en-us", the folder name of its model.
std::string folderOf(std::string_view locale) {
  std::string folder(locale);
  std::replace(folder.begin(), folder.end(), '_', '-');
  for (char& character : folder) character = char(std::tolower(static_cast<unsigned char>(character)));
  return folder;
}

// "en-us" → "en-US": the language as it is, the region in capitals.
std::string localeOf(std::string_view folder) {
  std::string locale(folder);
  const auto dash = locale.find('-');
  if (dash == std::string::npos) return locale;
  for (std::size_t index = dash + 1; index < locale.size(); ++index) {
    locale[index] = char(std::toupper(static_cast<unsigned char>(locale[index])));
  }
  return locale;
}

// Lower-case letters, digits and dashes: a name that cannot lead out of the model root.
bool isModelFolderName(std::string_view folder) {
  return !folder.empty() && std::all_of(folder.begin(), folder.end(), [](char character) {
    return (character >= 'a' && character <= 'z') || (character >= '0' && character <= '9') || character == '-';
  });
}

// The model in the folder `folder` of `root`, when all its files are there.
std::optional<ModelFiles> modelFilesIn(const std::filesystem::path& root, const std::string& folder) {
  const auto directory = root / folder;
  ModelFiles files{directory / folder, directory / (folder + ".lm.bin"), directory / ("cmudict-" + folder + ".dict")};
  if (!isFile(files.dictionary)) files.dictionary = directory / (folder + ".dict");
  // PocketSphinx reports some missing parts itself but ends the whole process on others, so all are looked for first.
  for (const char* part : {"mdef", "means", "variances", "transition_matrices"}) {
    if (!isFile(files.acousticModel / part)) return std::nullopt;
  }
  if (!isFile(files.languageModel) || !isFile(files.dictionary)) return std::nullopt;
  return files;
}

// PocketSphinx logs every step of its work to standard error, which is the agent's log mirror.
void silencePocketSphinxLogging() {
  static std::once_flag once;
  std::call_once(once, [] { err_set_logfp(nullptr); });
}

// The span of audio a hypothesis covers: everything fed so far. Word times from PocketSphinx's segments
// are no help here, since its voice activity detector drops silence before counting frames and its
// frame count runs on from one utterance of a decoder to the next.
SpeechTimeRange rangeOf(std::size_t sampleCount) {
  return {0, double(sampleCount) / PocketSphinxRecognizer::kSampleRate};
}

std::string hypothesis(ps_decoder_t* decoder) {
  const char* text = ps_get_hyp(decoder, nullptr);
  return text != nullptr ? text : "";
}

// Starts the decoder's running cepstral mean at the mean of this buffer's speech frames. Otherwise it
// starts from wherever the decoder's earlier utterances left it (or from the model's guess on a fresh
// decoder), and the same chunk would be recognised differently, and a fresh decoder's first chunk badly.
bool startCepstralMeanAt(ps_decoder_t* decoder, std::span<const std::int16_t> samples) {
  fe_t* frontEnd = ps_get_fe(decoder);
  const auto coefficients = std::size_t(std::max(fe_get_output_size(frontEnd), 1));
  constexpr std::size_t kFramesPerBlock = 64;
  std::vector<mfcc_t> storage(kFramesPerBlock * coefficients);
  std::vector<mfcc_t*> frames(kFramesPerBlock);
  for (std::size_t frame = 0; frame < kFramesPerBlock; ++frame) frames[frame] = storage.data() + frame * coefficients;

  std::vector<double> sum(coefficients, 0.0);
  std::size_t frameCount = 0;
  const auto add = [&](int32 produced) {
    for (std::size_t frame = 0; frame < std::size_t(std::max(produced, 0)); ++frame) {
      for (std::size_t index = 0; index < coefficients; ++index) sum[index] += double(frames[frame][index]);
    }
    frameCount += std::size_t(std::max(produced, 0));
  };

  if (fe_start_utt(frontEnd) < 0) return false;
  const int16* next = samples.data();
  std::size_t left = samples.size();
  while (left > 0) {
    auto produced = int32(kFramesPerBlock);
    if (fe_process_frames(frontEnd, &next, &left, frames.data(), &produced, nullptr) < 0) return false;
    add(produced);
  }
  int32 lastFrames = 0;
  if (fe_end_utt(frontEnd, frames[0], &lastFrames) < 0) return false;
  add(lastFrames);

  // Silence gives no speech frames; the mean then stays as it was.
  if (frameCount == 0) return true;
  std::vector<mfcc_t> mean(coefficients);
  for (std::size_t index = 0; index < coefficients; ++index) mean[index] = mfcc_t(sum[index] / double(frameCount));
  cmn_live_set(ps_get_feat(decoder)->cmn_struct, mean.data());
  return true;
}

// Decodes `samples` as one utterance, reporting changed partial hypotheses between pieces and the final one.
Status decode(ps_decoder_t* decoder, std::span<const std::int16_t> samples,
                                  const std::stop_token& stop, const SpeechRecognizer::ResultHandler& onResult) {
  if (!startCepstralMeanAt(decoder, samples)) return Error("PocketSphinx could not analyse the audio");
  if (ps_start_utt(decoder) < 0) return Error("PocketSphinx could not start an utterance");
  const auto pieceLength = std::size_t(PocketSphinxRecognizer::kSampleRate * PocketSphinxRecognizer::kPieceSeconds);
  std::string lastInterim;
  for (std::size_t start = 0; start < samples.size(); start += pieceLength) {
    // The utterance is left open: a decoder whose lease is not kept is discarded, not reused.
    if (stop.stop_requested()) return Error("recognition stopped");
    const auto piece = samples.subspan(start, std::min(pieceLength, samples.size() - start));
    if (ps_process_raw(decoder, piece.data(), piece.size(), 0, 0) < 0) {
      ps_end_utt(decoder);
      return Error("PocketSphinx failed while decoding");
    }
    auto interim = hypothesis(decoder);
    if (!interim.empty() && interim != lastInterim && onResult) {
      onResult({interim, false, rangeOf(start + piece.size())});
      lastInterim = std::move(interim);
    }
  }
  if (ps_end_utt(decoder) < 0) return Error("PocketSphinx could not finish the utterance");
  auto final = hypothesis(decoder);
  if (!final.empty() && onResult) onResult({std::move(final), true, rangeOf(samples.size())});
  return succeeded();
}

}  // namespace

PocketSphinxRecognizer::PocketSphinxRecognizer(std::filesystem::path modelRoot, std::size_t decoderLimit)
    : modelRoot_(std::move(modelRoot)), decoderLimit_(decoderLimit) {
  silencePocketSphinxLogging();
}

PocketSphinxRecognizer::~PocketSphinxRecognizer() = default;

std::vector<std::string> PocketSphinxRecognizer::installedLocales() const {
  std::vector<std::string> locales;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(modelRoot_, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string folder = entry->path().filename().string();
    if (isModelFolderName(folder) && modelFilesIn(modelRoot_, folder)) locales.push_back(localeOf(folder));
  }
  std::sort(locales.begin(), locales.end());
  return locales;
}

Error PocketSphinxRecognizer::missingModel(std::string_view locale) const {
  return Error("no PocketSphinx model for " + std::string(locale) + " in " + (modelRoot_ / folderOf(locale)).string());
}

std::filesystem::path PocketSphinxRecognizer::modelRoot(const EnvironmentLookup& environment) {
  if (auto folder = environment(environment::kSpeechModelRoot)) return *folder;
  return kDefaultModelRoot;
}

std::string PocketSphinxRecognizer::installHint(std::string_view locale) const {
  const std::string folder = folderOf(locale);
  return "install the Debian package pocketsphinx-" + folder + " (a PocketSphinx model in " +
         (modelRoot_ / folder).string() + ")";
}

Status PocketSphinxRecognizer::recognize(std::string_view locale, const SpeechAudio& audio,
                                                             const ResultHandler& onResult) {
  if (audio.sampleRate != kSampleRate) {
    char text[96];
    std::snprintf(text, sizeof text, "PocketSphinx takes %.0f Hz audio, not %.0f Hz", kSampleRate, audio.sampleRate);
    return Error(std::string(text));
  }
  DecoderPool* pool = poolFor(locale);
  if (pool == nullptr) {
    return missingModel(locale);
  }
  // Taking a decoder may load a model for seconds; work already given up does not start it.
  if (audio.stop.stop_requested()) return Error("recognition stopped");
  auto taken = pool->take();
  if (taken.failed()) return taken.error();
  auto& lease = taken.value();
  auto decoded = decode(lease.decoder(), audio.samples, audio.stop, onResult);
  if (decoded.hasValue()) lease.keep();
  return decoded;
}

SpeechRecognizer::StreamOpening PocketSphinxRecognizer::openStream(std::string_view locale,
                                                                   SpeechStream::Handlers handlers) {
  DecoderPool* pool = poolFor(locale);
  if (pool == nullptr) {
    return missingModel(locale);
  }
  auto taken = pool->take(kStreamDecoderPatience);
  if (taken.failed()) return taken.error();
  return std::unique_ptr<SpeechStream>(
      std::make_unique<PocketSphinxStream>(std::move(taken).value(), std::move(handlers)));
}

DecoderPool* PocketSphinxRecognizer::poolFor(std::string_view locale) {
  std::lock_guard lock(poolsMutex_);
  const auto known = pools_.find(locale);
  if (known != pools_.end()) return known->second.get();
  const std::string folder = folderOf(locale);
  // Only locales that round-trip, so that "en-us" and "EN_US" name no model of their own.
  if (!isModelFolderName(folder) || localeOf(folder) != locale) return nullptr;
  auto files = modelFilesIn(modelRoot_, folder);
  if (!files) return nullptr;
  auto& pool = pools_[std::string(locale)];
  pool = std::make_unique<DecoderPool>(std::move(*files), decoderLimit_);
  return pool.get();
}

}  // namespace quillet::platform::pocketsphinx
