// The dictation session's own share of the wait after the user stops: from stop() to the text in the field, minus the
// time the last chunk alone spends being transcribed, measured in the same session. A spoken sample is fed through the
// real streamer at the pace a microphone gives it; the router sends the chunks to a loopback transcription stand-in
// that answers at once, or to PocketSphinx; the backend stand-in answers the correction at once; the field is a fake
// one, so the insertion itself costs nothing here (the large-document benchmark measures it on gedit).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/runtime/NotificationCenter.h"
#include "common/runtime/WorkerPool.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeHUDWindows.h"
#include "platform/fake/FakeUrlOpener.h"
#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"
#include "platform/linux/sndfile/SndfileAudioFiles.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "quillet-dictate/backend/AuthService.h"
#include "quillet-dictate/hud/VoiceHUD.h"
#include "quillet-dictate/transcription/MuseTranscriber.h"
#include "quillet-dictate/transcription/SpeechAnalyzerTranscriber.h"
#include "quillet-dictate/transcription/TranscriptionRouter.h"
#include "tests/support/AudioFileSamples.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/SpokenSample.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/unit/dictate/InsertionDesk.h"

namespace {

using namespace quillet;
using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kFramesPerBuffer = 2205;  // 100 ms at the sample's rate
constexpr int kSessions = 4;

struct Session {
  double stopToTextSeconds = 0;
  double lastChunkSeconds = 0;
  std::size_t chunks = 0;
  std::string text;
  // Requests the backend stand-in has answered so far.
  std::size_t backendRequests = 0;
};

// One engine behind the router, and every session run against it.
class Bench : protected dictate::test::InsertionDesk {
 public:
  // Signed in, the backend is asked for the correction preference and corrects each transcript; signed out, the raw
  // transcript goes in at once.
  Bench(const audio::AudioSamples& sample, dictate::TranscriptionRouter::OnDeviceTranscribe onDevice, bool signedIn)
      : sample_(sample), onDevice_(std::move(onDevice)) {
    if (signedIn) settings_.supabaseAccessToken.set("access");
    backend_.answer("GET", "/rest/v1/user_preferences", 200, R"([{"dictation_ai_cleanup":true}])", "application/json");
    transcriptionServer_.on("POST", "/inference", [](const httplib::Request&, httplib::Response& response) {
      response.status = 200;
      response.set_content(R"({"text":"we shipped the new build on friday morning"})", "application/json");
    });
    backend_.on("POST", "/functions/v1/dictate-cleanup",
                [](const httplib::Request& request, httplib::Response& response) {
                  response.status = 200;
                  response.set_content(
                      nlohmann::json{{"cleaned", nlohmann::json::parse(request.body).value("text", "")}}.dump(),
                      "application/json");
                });
    input_.format = platform::AudioFormat{sample.sampleRate, 1};
    field_ = addTextField("Notes: ", platform::AXTextRange{7, 0});
    currentTarget = dictate::InsertionTarget::field(field_);
    // The history gains the text right after the field did: that moment ends the wait.
    historyWatch_ = history_.items.observe([this](const std::vector<dictate::VoiceHistoryItem>&) {
      std::lock_guard lock(mutex_);
      inserted_ = SteadyClock::now();
    });
  }

  Session dictateOnce() {
    // Past the history's repeat window and the last fade, as between two dictations of a user.
    loop.advance(dictate::VoiceHistoryStore::kRepeatWindowSeconds + 1);
    accessibility.typeValue(field_, "Notes: ");
    accessibility.setSelectedTextRange(field_, {7, 0});
    Session session;
    {
      std::lock_guard lock(mutex_);
      transcriptionStarts_.clear();
      transcriptionSeconds_.clear();
      inserted_.reset();
    }
    hud_->toggle();
    loop.runPending();
    // At the microphone's pace, so earlier chunks are done long before the stop, as they are when speaking.
    const auto& mono = sample_.channels.front();
    auto due = SteadyClock::now();
    for (std::size_t offset = 0; offset < mono.size(); offset += kFramesPerBuffer) {
      const std::size_t frames = std::min(kFramesPerBuffer, mono.size() - offset);
      input_.deliver(
          {std::vector<float>(mono.begin() + std::ptrdiff_t(offset), mono.begin() + std::ptrdiff_t(offset + frames))});
      due += std::chrono::microseconds(std::int64_t(double(frames) / sample_.sampleRate * 1e6));
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - SteadyClock::now());
      if (wait.count() > 0) loop.runUntil([] { return false; }, wait);
    }
    const auto stoppedAt = SteadyClock::now();
    hud_->toggle();
    loop.runUntil(
        [&] {
          std::lock_guard lock(mutex_);
          return inserted_.has_value();
        },
        std::chrono::seconds(60));
    std::lock_guard lock(mutex_);
    if (!inserted_) return session;
    session.stopToTextSeconds = std::chrono::duration<double>(*inserted_ - stoppedAt).count();
    session.chunks = transcriptionSeconds_.size();
    if (!transcriptionSeconds_.empty()) session.lastChunkSeconds = transcriptionSeconds_.rbegin()->second;
    session.text = accessibility.valueOf(field_).value_or("");
    session.backendRequests = backend_.requests().size();
    return session;
  }

 private:
  // Times each chunk from the router's start to its answer, by chunk index.
  dictate::ChunkTranscriber timedTranscriber() {
    return [this, transcriber = router_.chunkTranscriber()](
               const dictate::AudioStreamer::Chunk& chunk,
               std::function<void(dictate::AIOutcome<dictate::ChunkTranscription>)> done) {
      const int index = chunk.index;
      {
        std::lock_guard lock(mutex_);
        transcriptionStarts_[index] = SteadyClock::now();
      }
      transcriber(chunk,
                  [this, index, done = std::move(done)](dictate::AIOutcome<dictate::ChunkTranscription> outcome) {
                    {
                      std::lock_guard lock(mutex_);
                      transcriptionSeconds_[index] =
                          std::chrono::duration<double>(SteadyClock::now() - transcriptionStarts_[index]).count();
                    }
                    done(std::move(outcome));
                  });
    };
  }

  const audio::AudioSamples& sample_;
  dictate::TranscriptionRouter::OnDeviceTranscribe onDevice_;
  std::mutex mutex_;
  std::map<int, SteadyClock::time_point> transcriptionStarts_;
  std::map<int, double> transcriptionSeconds_;
  std::optional<SteadyClock::time_point> inserted_;
  platform::AccessibilityElement field_;

  quillet::test::LoopbackHttpServer transcriptionServer_;
  quillet::test::LoopbackHttpServer backend_;
  platform::fake::MemoryDefaultsStore store_;
  NotificationCenter notifications_;
  dictate::SettingsManager settings_{store_, notifications_, dictate::SettingsDefaults{backend_.url(""), "anon"}};
  dictate::VxLog timingLog_{folder.path() / "session.log", loop, [](std::string_view) {}};
  platform::curl::CurlHttpClient http_{loop};
  WorkerPool workers_{loop, 2};
  dictate::AuthService auth_{http_, settings_};
  dictate::AIService ai_{http_, settings_, auth_, timingLog_, loop};
  dictate::MuseTranscriber cloud_{http_, settings_, auth_, loop, "http://127.0.0.1:1/v1/asr/transcribe"};
  dictate::TranscriptionRouter router_{{cloud_, onDevice_, http_},
                                       workers_,
                                       loop,
                                       loop,
                                       settings_,
                                       timingLog_,
                                       [this](std::string_view variable) -> std::optional<std::string> {
                                         if (variable == "VOICE_PORT")
                                           return std::to_string(transcriptionServer_.port());
                                         return std::nullopt;
                                       }};
  platform::fake::FakeAudioInput input_;
  platform::fake::FakeUrlOpener urlOpener_;
  std::shared_ptr<dictate::AudioStreamer> streamer_ =
      dictate::AudioStreamer::create(input_, platform::soxr::SoxrResampler::factory(), loop, timingLog_, urlOpener_);
  dictate::VoiceHistoryStore history_{store_, loop, timingLog_};
  platform::fake::FakeHUDWindows windows_{loop};
  Subscription historyWatch_;
  std::shared_ptr<dictate::VoiceHUD> hud_ = dictate::VoiceHUD::create({
      .settings = settings_,
      .streamer = *streamer_,
      .microphone = input_,
      .transcriber = timedTranscriber(),
      .ai = ai_,
      .insertion = *insertion,
      .history = history_,
      .currentTarget = [this] { return currentTarget; },
      .currentBundleID = [] { return std::string("org.example.Editor"); },
      .captureContext = [] { return dictate::PageContext{}; },
      .windows = {windows_.window, windows_.prompt, windows_.keys, windows_.screens, windows_.mouse},
      .mainLoop = loop,
      .clock = loop,
      .log = timingLog_,
  });
};

void report(const char* engine, Bench& bench) {
  std::vector<double> overheads;
  for (int run = 0; run < kSessions + 1; ++run) {
    const Session session = bench.dictateOnce();
    if (session.chunks == 0 || session.stopToTextSeconds <= 0) {
      std::printf("%s: session %d inserted nothing\n", engine, run);
      continue;
    }
    // The first session pays for warm-ups (the recogniser's model, the backend connection); it is shown, not counted.
    const double overheadMs = (session.stopToTextSeconds - session.lastChunkSeconds) * 1000;
    std::printf(
        "%s session %d%s: %zu chunks, stop to text %.1f ms, last chunk's transcription %.1f ms, overhead %.1f ms"
        " (backend requests so far: %zu)\n",
        engine, run, run == 0 ? " (warm-up)" : "", session.chunks, session.stopToTextSeconds * 1000,
        session.lastChunkSeconds * 1000, overheadMs, session.backendRequests);
    if (run > 0) overheads.push_back(overheadMs);
  }
  if (overheads.empty()) return;
  std::sort(overheads.begin(), overheads.end());
  std::printf("%s: median overhead %.1f ms, worst %.1f ms (goal: at most 50 ms)\n", engine,
              overheads[overheads.size() / 2], overheads.back());
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  test::TemporaryDirectory folder;
  const auto samplePath = folder.path() / "sample.wav";
  if (!test::makeSpokenSample(folder.path(),
                              {"We shipped the new build on Friday morning.", "The team fixed the login problem."}, 1.2,
                              samplePath)) {
    std::fprintf(stderr, "espeak-ng or sox could not make the sample\n");
    return 1;
  }
  const auto sample = test::audioFileSamples(samplePath);
  if (!sample || sample->channels.empty()) {
    std::fprintf(stderr, "the sample could not be read\n");
    return 1;
  }
  std::printf("sample: %.1f s of speech in two sentences\n", double(sample->frameCount()) / sample->sampleRate);

  {
    Bench standIn(*sample, {}, false);
    report("loopback stand-in, signed out", standIn);
  }
  {
    Bench standIn(*sample, {}, true);
    report("loopback stand-in, signed in with the correction", standIn);
  }

  platform::sndfile::SndfileAudioFiles files;
  platform::fake::VirtualMainLoop quietClock;
  dictate::VxLog quietLog(folder.path() / "transcriber.log", quietClock, [](std::string_view) {});
  platform::pocketsphinx::PocketSphinxRecognizer recognizer;
  dictate::SpeechAnalyzerTranscriber transcriber(recognizer, files, platform::soxr::SoxrResampler::factory(), quietLog,
                                                 folder.path());
  Bench pocketSphinx(
      *sample,
      [&](const std::vector<std::uint8_t>& wav, const std::string& locale, std::stop_token stop) {
        return transcriber.transcribe(wav, locale, std::move(stop));
      },
      true);
  report("PocketSphinx, signed in with the correction", pocketSphinx);
  return 0;
}
