// The chunked transcription client on virtual time with a transcriber that holds every request
// until the test answers it, plus the text rules that stitch the chunks together.
#include "quillet-dictate/transcription/ChunkedTranscribeClient.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"
#include "quillet-dictate/transcription/TranscriptStitching.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/RepeatedText.h"

namespace quillet::dictate {
namespace {

using Strings = std::vector<std::string>;

using test::repeated;

// "e" followed by a combining acute accent: one user-perceived character, two code points, three bytes.
constexpr std::string_view kDecomposedEAcute = "e\u0301";

// ---- Text rules -------------------------------------------------------------------------------

TEST(ChunkedTranscribeTextTest, TokenizeKeepsLowerCasedRunsOfLettersAndNumbers) {
  const struct {
    std::string text;
    Strings expected;
  } cases[] = {
      {"Don't stop, 2 go!", {"don", "t", "stop", "2", "go"}},
      {"", {}},
      {" ,.!? ", {}},
      {"Straße ÜBER ٣٤ 東京", {"straße", "über", "٣٤", "東京"}},
      {"Cafe\u0301-au-lait", {"cafe\u0301", "au", "lait"}},  // the accent stays with its letter
      {"½ price, Ⅻ hours", {"½", "price", "ⅻ", "hours"}},     // other and letter numbers count
      {"$5 #tag @you", {"5", "tag", "you"}},
  };
  for (const auto& c : cases) EXPECT_EQ(TranscriptStitching::tokenize(c.text), c.expected) << c.text;
}

TEST(ChunkedTranscribeTextTest, DropPrefixWordsRemovesWordsAndTheSeparatorsAfterThem) {
  const struct {
    std::string text;
    std::size_t count;
    std::string expected;
  } cases[] = {
      {"to the store and bought milk", 3, "and bought milk"},
      {"Yes, we can.", 1, "we can."},
      {"Yes, we can.", 3, ""},            // trailing punctuation goes with the last word
      {"yes we can", 3, ""},              // the text ends inside the last dropped word
      {"yes we can and more", 4, "more"},
      {"yes we can", 5, "yes we can"},    // fewer words than asked for
      {"yes we can.", 5, "yes we can."},
      {"Don't stop now", 2, "stop now"},  // an apostrophe splits words as tokenize does
      {"one, two -- three", 2, "three"},  // dashes are punctuation
      {"one $5 deal", 1, "$5 deal"},      // a symbol is not skipped
      {"¿Qué tal? Bien", 2, "Bien"},
      {"Straße über alles", 2, "alles"},
      {"hello", 0, "hello"},
      {"", 2, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TranscriptStitching::dropPrefixWords(c.text, c.count), c.expected) << c.text << " / " << c.count;
  }
}

TEST(ChunkedTranscribeTextTest, TrimOverlapPrefixRemovesTheLongestSeamOfTwoToSixTokens) {
  const struct {
    std::string previous;
    std::string current;
    std::string expected;
  } cases[] = {
      {"so we went to the store", "to the store and bought milk", "and bought milk"},
      {"I said yes", "yes we can", "yes we can"},  // a one-word overlap is kept
      {"So We Went To The Store", "to the STORE and bought milk", "and bought milk"},
      {"ÜBER DIE Straße", "über die straße hinaus", "hinaus"},
      {"we went to the store.", "The store, then home", "then home"},
      {"we went to the store", "the store.", ""},
      {"we all went down to the old mill", "went down to the old mill and stopped", "and stopped"},
      // Seven shared tokens: the last six of one never equal the first six of the other.
      {"one two three four five six seven", "one two three four five six seven eight",
       "one two three four five six seven eight"},
      {"hello", "hello world", "hello world"},
      {"", "to the store", "to the store"},
      {"the store", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TranscriptStitching::trimOverlapPrefix(c.previous, c.current), c.expected) << c.current;
  }
}

TEST(ChunkedTranscribeTextTest, SilenceHallucinationsMatchOnlyAsAWholeNormalisedText) {
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"Hello, how are you today?", ""},
      {"hello how are you today John", "hello how are you today John"},
      {"  Testing, one, two, three.\n", ""},
      {"HELLO — how are you doing today…", ""},
      {"Hello, this is a test of the speech-transcription engine!", ""},
      {"This is a test of the speech transcription engine", ""},
      {"Here is the JSON requested:", ""},
      {"Hello, how are you today? 👋", ""},
      {"Hellö how are you today", "Hellö how are you today"},  // only a–z survive normalisation
      {"testing 1 2 3", "testing 1 2 3"},
      {"we are testing one two three", "we are testing one two three"},
      {"\n  spaced out \t", "spaced out"},
      {"   ", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TranscriptStitching::dropLikelySilenceHallucination(c.text), c.expected) << c.text;
  }
}

TEST(ChunkedTranscribeTextTest, StartsSentenceAfterASentenceEndOrNothing) {
  const struct {
    std::string previous;
    bool expected;
  } cases[] = {
      {"", true},         {"  \t", true},   {"done.", true},   {"wow!", true},
      {"really?", true},  {"line\n", true}, {"done.  ", true}, {"done.\t", true},
      {"well,", false},   {"hello", false}, {"3.5", false},    {"\"quoted.\"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TranscriptStitching::startsSentenceAfter(c.previous), c.expected) << '"' << c.previous << '"';
  }
}

TEST(ChunkedTranscribeTextTest, StitchJoinsTextsInIndexOrderWithoutSeamOverlaps) {
  const struct {
    std::map<int, std::string> segments;
    std::string expected;
  } cases[] = {
      {{}, ""},
      {{{2, "C"}, {0, "A"}}, "A C"},
      {{{0, "  "}, {1, " B\n"}}, "B"},
      {{{0, ""}, {1, ""}}, ""},
      {{{0, "so we went to the store"}, {1, "to the store and bought milk"}}, "so we went to the store and bought milk"},
      {{{0, "I said yes"}, {1, "yes we can"}}, "I said yes yes we can"},
      // An emptied text is skipped, and the next one is compared with the text kept before it.
      {{{0, "we went to the store"}, {1, "the store."}, {2, "to the store then home"}}, "we went to the store then home"},
  };
  for (const auto& c : cases) EXPECT_EQ(TranscriptStitching::stitch(c.segments), c.expected) << c.expected;
}

// ---- The client -------------------------------------------------------------------------------

// Holds each request until the test answers it, so the test decides arrival order and timing.
class ScriptedTranscriber {
 public:
  using Completion = std::function<void(AIOutcome<ChunkTranscription>)>;

  ChunkTranscriber function() {
    return [this](const AudioStreamer::Chunk& chunk, Completion completion) {
      requests_.push_back(chunk.index);
      pending_.insert_or_assign(chunk.index, std::move(completion));  // a new client may reuse an index
    };
  }

  void succeed(int index, std::string text, std::optional<std::string> language = std::nullopt) {
    answer(index, ChunkTranscription{std::move(text), std::move(language)});
  }

  void fail(int index, std::string message) { answer(index, AIFailure{VessioError::api(std::move(message))}); }

  // Indices of the chunks requested, in request order.
  [[nodiscard]] const std::vector<int>& requests() const { return requests_; }
  [[nodiscard]] std::size_t pendingCount() const { return pending_.size(); }

 private:
  void answer(int index, AIOutcome<ChunkTranscription> outcome) {
    const auto found = pending_.find(index);
    ASSERT_NE(found, pending_.end()) << "no request for chunk " << index;
    const Completion completion = std::move(found->second);
    pending_.erase(found);
    completion(std::move(outcome));
  }

  std::vector<int> requests_;
  std::map<int, Completion> pending_;
};

class ChunkedTranscribeClientTest : public ::testing::Test {
 protected:
  std::shared_ptr<ChunkedTranscribeClient> makeClient() {
    auto made = ChunkedTranscribeClient::create(transcriber.function(), loop, loop, log);
    made->onPartial = [this](const std::string& text) { events.push_back("partial: " + text); };
    made->onFinal = [this](const std::string& text) { events.push_back("final: " + text); };
    made->onError = [this](const ChunkedTranscribeError& error) { events.push_back("error: " + error.description()); };
    made->onClosed = [this] { events.emplace_back("closed"); };
    made->onConnected = [this] { events.emplace_back("connected"); };
    made->onLanguageDetected = [this](const std::string& language) { events.push_back("language: " + language); };
    return made;
  }

  static AudioStreamer::Chunk chunk(int index, std::size_t wavBytes = 64) {
    return AudioStreamer::Chunk{std::vector<std::uint8_t>(wavBytes, 0), index, 1.5, 0.1f};
  }

  // Sends the chunks and lets the main loop start their requests.
  void send(std::initializer_list<int> indices) {
    for (const int index : indices) client->send(chunk(index));
    loop.runPending();
  }

  // Logged messages without their time stamps.
  Strings messages() const { return capture.messages(); }

  // Logged messages that begin with `prefix`.
  Strings messagesStartingWith(std::string_view prefix) const {
    Strings matching;
    for (const auto& message : messages()) {
      if (message.starts_with(prefix)) matching.push_back(message);
    }
    return matching;
  }

  platform::fake::VirtualMainLoop loop;
  test::TemporaryDirectory folder;
  test::CapturedLog capture;
  VxLog log{folder.path() / "vessio.log", loop, capture.mirror()};
  ScriptedTranscriber transcriber;
  Strings events;
  std::shared_ptr<ChunkedTranscribeClient> client = makeClient();
};

TEST_F(ChunkedTranscribeClientTest, PartialsFollowIndexOrderWhateverTheArrivalOrder) {
  const struct {
    Strings texts;  // for chunks 0, 1 and 2, answered in the order 2, 0, 1
    Strings partials;
  } cases[] = {
      {{"A", "B", "C"}, {"partial: C", "partial: A C", "partial: A B C"}},
      // Chunk 2 arrives first and so starts a sentence; chunk 1 follows the stored chunk 0.
      {{"alpha", "beta", "gamma"}, {"partial: Gamma", "partial: Alpha Gamma", "partial: Alpha beta Gamma"}},
  };
  for (const auto& c : cases) {
    client = makeClient();
    events.clear();
    send({0, 1, 2});
    for (const int index : {2, 0, 1}) transcriber.succeed(index, c.texts[static_cast<std::size_t>(index)]);
    EXPECT_EQ(events, c.partials) << c.texts[0];
    EXPECT_EQ(client->lastEmitted(), c.partials.back().substr(std::string_view("partial: ").size()));
    EXPECT_EQ(client->inFlight(), 0);
  }
}

TEST_F(ChunkedTranscribeClientTest, SentenceStartFollowsTheLastStoredTextBelowTheChunk) {
  const struct {
    std::vector<std::pair<int, std::string>> answers;  // in arrival order; chunks 0 to 3 are sent
    std::string stitched;
  } cases[] = {
      {{{0, "well,"}, {1, "maybe"}}, "Well, maybe"},
      {{{0, "is it?"}, {1, "maybe"}}, "Is it? Maybe"},
      {{{0, "done."}, {1, "maybe"}}, "Done. Maybe"},
      {{{0, "wow!"}, {1, "maybe"}}, "Wow! Maybe"},
      {{{0, "is it?"}, {2, "maybe"}}, "Is it? Maybe"},  // chunk 1 still in flight is not waited for
      {{{0, "well,"}, {2, "maybe"}}, "Well, maybe"},
      {{{1, "maybe"}, {0, "well,"}}, "Well, Maybe"},    // decided before chunk 0 arrived
      {{{3, "maybe"}}, "Maybe"},
  };
  for (const auto& c : cases) {
    client = makeClient();
    send({0, 1, 2, 3});
    for (const auto& [index, text] : c.answers) transcriber.succeed(index, text);
    EXPECT_EQ(client->lastEmitted(), c.stitched);
  }
}

TEST_F(ChunkedTranscribeClientTest, AFailedChunkLeavesAnEmptySegmentAndTheOthersAreStitched) {
  send({0, 1, 2});
  loop.advance(0.12);
  transcriber.succeed(0, "one fish");
  transcriber.fail(1, "muse http 500 boom");
  transcriber.succeed(2, "two fish");  // follows an empty segment, so starts a sentence
  client->finish();

  EXPECT_EQ(events, (Strings{"partial: One fish", "partial: One fish Two fish", "final: One fish Two fish", "closed"}));
  EXPECT_EQ(client->segments(), (std::map<int, std::string>{{0, "One fish"}, {1, ""}, {2, "Two fish"}}));
  EXPECT_EQ(messagesStartingWith("[STT] fail"), Strings{"[STT] fail chunk #1 120ms err=muse http 500 boom"});
  EXPECT_EQ(messagesStartingWith("🎙"), Strings{"🎙 chunk 1 failed: muse http 500 boom"});
  EXPECT_EQ(messagesStartingWith("[STT] ✅"), Strings{"[STT] ✅ final chunks=3 len=17 \"One fish Two fish\""});
}

TEST_F(ChunkedTranscribeClientTest, EveryChunkEmptyOrFailedEndsWithAllChunksFailed) {
  std::optional<ChunkedTranscribeError> reported;
  client->onError = [&](const ChunkedTranscribeError& error) {
    reported = error;
    events.push_back("error: " + error.description());
  };
  send({0, 1, 2});
  transcriber.fail(0, "offline");
  transcriber.succeed(1, "Testing, one, two, three.");
  transcriber.succeed(2, "um");  // nothing left after cleanup
  client->finish();

  EXPECT_EQ(events, (Strings{"error: Transcription failed. Check your connection and try again.", "closed"}));
  EXPECT_EQ(reported, ChunkedTranscribeError::allChunksFailed());
  EXPECT_EQ(client->segments(), (std::map<int, std::string>{{0, ""}, {1, ""}, {2, ""}}));
  EXPECT_EQ(messagesStartingWith("[STT] drop"),
            Strings{"[STT] drop hallucinated/no-speech chunk #1: \"Testing, one, two, three.\""});
  EXPECT_EQ(messagesStartingWith("[STT] ❌"), Strings{"[STT] ❌ all 3 chunks empty/failed"});
  EXPECT_TRUE(messagesStartingWith("[STT] ✅").empty());
}

TEST_F(ChunkedTranscribeClientTest, FinishWithNothingSentReportsAnEmptyFinal) {
  client->finish();

  EXPECT_EQ(events, (Strings{"final: ", "closed"}));
  EXPECT_EQ(messagesStartingWith("[STT] ✅"), Strings{"[STT] ✅ final chunks=0 len=0 \"\""});
}

TEST_F(ChunkedTranscribeClientTest, FinishWaitsForEveryChunkInFlightAndReportsOnce) {
  send({0, 1});
  client->finish();
  EXPECT_TRUE(client->isFinalized());
  EXPECT_TRUE(events.empty());

  transcriber.succeed(1, "beta");
  EXPECT_EQ(events, Strings{"partial: Beta"});

  transcriber.succeed(0, "alpha");
  client->finish();
  EXPECT_EQ(events, (Strings{"partial: Beta", "partial: Alpha Beta", "final: Alpha Beta", "closed"}));
}

TEST_F(ChunkedTranscribeClientTest, OwnerMayDropTheClientFromInsideOnFinal) {
  client->onFinal = [this](const std::string& text) {
    events.push_back("final: " + text);
    client.reset();
  };
  client->finish();

  EXPECT_EQ(events, (Strings{"final: ", "closed"}));
  EXPECT_EQ(client, nullptr);
}

TEST_F(ChunkedTranscribeClientTest, CancelSilencesTheClientForGood) {
  send({0, 1});
  transcriber.succeed(0, "alpha");
  client->cancel();
  transcriber.succeed(1, "beta");
  client->finish();
  client->send(chunk(2));
  loop.runPending();

  EXPECT_TRUE(client->isCancelled());
  EXPECT_EQ(events, Strings{"partial: Alpha"});
  EXPECT_EQ(client->segments(), (std::map<int, std::string>{{0, "Alpha"}}));
  EXPECT_EQ(transcriber.requests(), (std::vector<int>{0, 1}));
  EXPECT_TRUE(messagesStartingWith("[STT] send chunk #2").empty());
  EXPECT_TRUE(messagesStartingWith("[STT] ✅").empty());
}

TEST_F(ChunkedTranscribeClientTest, CancelBeforeTheRequestStartsSendsNothing) {
  client->send(chunk(0));
  client->cancel();
  loop.runPending();

  EXPECT_TRUE(transcriber.requests().empty());
  EXPECT_TRUE(events.empty());
}

TEST_F(ChunkedTranscribeClientTest, AnswerArrivingAfterTheClientIsGoneIsIgnored) {
  send({0});
  client.reset();
  transcriber.succeed(0, "alpha");

  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(messagesStartingWith("[STT] recv").empty());
}

TEST_F(ChunkedTranscribeClientTest, ConnectCallsOnConnectedLaterUnlessCancelledFirst) {
  client->connect();
  EXPECT_TRUE(events.empty());
  loop.runPending();
  EXPECT_EQ(events, Strings{"connected"});

  events.clear();
  client = makeClient();
  client->connect();
  client->cancel();
  loop.runPending();
  EXPECT_TRUE(events.empty());
}

TEST_F(ChunkedTranscribeClientTest, SendsFromSeveralThreadsAreEachCountedOnce) {
  constexpr int kThreads = 4;
  constexpr int kChunksPerThread = 25;
  constexpr int kChunks = kThreads * kChunksPerThread;
  std::vector<std::thread> senders;
  for (int thread = 0; thread < kThreads; ++thread) {
    senders.emplace_back([this, thread] {
      for (int i = 0; i < kChunksPerThread; ++i) client->send(chunk(thread * kChunksPerThread + i));
    });
  }
  for (auto& sender : senders) sender.join();

  EXPECT_EQ(client->inFlight(), kChunks);
  std::set<std::string> counts;
  for (const auto& message : messagesStartingWith("[STT] send chunk #")) {
    counts.insert(message.substr(message.find("inFlight=") + 9));
  }
  std::set<std::string> expectedCounts;
  for (int count = 1; count <= kChunks; ++count) expectedCounts.insert(std::to_string(count));
  EXPECT_EQ(counts, expectedCounts);

  loop.runPending();
  ASSERT_EQ(transcriber.pendingCount(), static_cast<std::size_t>(kChunks));
  client->finish();
  std::string expected;
  for (int index = 0; index < kChunks; ++index) {
    transcriber.succeed(index, "word" + std::to_string(index));
    expected += (index == 0 ? "Word0" : " word" + std::to_string(index));
  }
  EXPECT_EQ(client->inFlight(), 0);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "closed");
  EXPECT_EQ(events[events.size() - 2], "final: " + expected);
}

TEST_F(ChunkedTranscribeClientTest, SendAndReceiveLinesShowSizeElapsedTimeLanguageAndExcerpt) {
  const std::string longText = "a\nb " + repeated(kDecomposedEAcute, 90);  // 94 characters
  const struct {
    double secondsInFlight;
    std::string text;
    std::optional<std::string> language;
    std::string expectedLine;
  } cases[] = {
      {0.2505, longText, "en",
       "[STT] recv chunk #0 250ms lang=en len=94 \"a b " + repeated(kDecomposedEAcute, 76) + "\""},
      {0, "hello", std::nullopt, "[STT] recv chunk #1 0ms lang=unknown len=5 \"hello\""},
      {1.9999, "", std::nullopt, "[STT] recv chunk #2 1999ms lang=unknown len=0 \"\""},
  };
  int index = 0;
  for (const auto& c : cases) {
    client->send(chunk(index, 1234));
    loop.runPending();
    loop.advance(c.secondsInFlight);
    transcriber.succeed(index, c.text, c.language);
    EXPECT_EQ(messages().back(), c.expectedLine);
    ++index;
  }
  EXPECT_EQ(messagesStartingWith("[STT] send"),
            (Strings{"[STT] send chunk #0 1234B inFlight=1", "[STT] send chunk #1 1234B inFlight=1",
                     "[STT] send chunk #2 1234B inFlight=1"}));
}

TEST_F(ChunkedTranscribeClientTest, FinalLineShowsAtMostTwoHundredCharactersOnOneLine) {
  const struct {
    std::string text;
    std::string expectedFinal;
    std::string expectedLine;
  } cases[] = {
      {"first new line second", "First\nSecond", "[STT] ✅ final chunks=1 len=12 \"First Second\""},
      {repeated("ä", 200), "Ä" + repeated("ä", 199),
       "[STT] ✅ final chunks=1 len=200 \"Ä" + repeated("ä", 199) + "\""},
      {repeated("ä", 201), "Ä" + repeated("ä", 200),
       "[STT] ✅ final chunks=1 len=201 \"Ä" + repeated("ä", 199) + "…\""},
  };
  int index = 0;
  for (const auto& c : cases) {
    client = makeClient();
    events.clear();
    send({index});
    transcriber.succeed(index, c.text);
    client->finish();
    EXPECT_EQ(events.at(1), "final: " + c.expectedFinal);
    EXPECT_EQ(messages().back(), c.expectedLine);
    ++index;
  }
}

TEST_F(ChunkedTranscribeClientTest, DetectedLanguageIsTheMostReportedWithTiesToTheFirstInOrder) {
  const struct {
    std::vector<std::optional<std::string>> reported;  // per chunk, answered in index order
    Strings detected;
    std::map<int, std::string> languages;
  } cases[] = {
      {{"zh-Hant", "zh-Hans", "zh-Hant"},
       {"zh-Hant", "zh-Hans", "zh-Hant"},
       {{0, "zh-Hant"}, {1, "zh-Hans"}, {2, "zh-Hant"}}},
      {{" sr-Latn\n", "unknown", "UNKNOWN", "  ", std::nullopt, "sr-Cyrl"},
       {"sr-Latn", "sr-Cyrl"},
       {{0, "sr-Latn"}, {5, "sr-Cyrl"}}},
      {{"en", "EN", "en"}, {"en", "EN", "en"}, {{0, "en"}, {1, "EN"}, {2, "en"}}},
  };
  for (const auto& c : cases) {
    client = makeClient();
    client->onPartial = nullptr;
    events.clear();
    const int chunks = static_cast<int>(c.reported.size());
    for (int index = 0; index < chunks; ++index) client->send(chunk(index));
    loop.runPending();
    for (int index = 0; index < chunks; ++index) {
      transcriber.succeed(index, "word", c.reported[static_cast<std::size_t>(index)]);
    }
    Strings expected;
    for (const auto& language : c.detected) expected.push_back("language: " + language);
    EXPECT_EQ(events, expected);
    EXPECT_EQ(client->languages(), c.languages);
  }
}

}  // namespace
}  // namespace quillet::dictate
