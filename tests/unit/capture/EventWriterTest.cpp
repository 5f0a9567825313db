#include "quillet-capture/protocol/EventWriter.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "CollectedLines.h"
#include "TestPipe.h"
#include "quillet-capture/protocol/FullWrite.h"

namespace quillet::capture {
namespace {

using testing::CollectedLines;
using testing::TestPipe;

// Emits `event` and waits until the writer says it is out.
void emitAndWait(EventWriter& writer, Event event) {
  std::promise<void> written;
  writer.emit(std::move(event), [&written] { written.set_value(); });
  written.get_future().wait();
}

TEST(EventWriterTest, WritesEachEventAsOneCompactLine) {
  static const struct {
    const char* name;
    Event event;
    std::string expectedLine;
  } cases[] = {
      {"ready", Event::ready({"whisper", {"*"}, "Debian GNU/Linux 12 (bookworm)"}),
       R"json({"type":"ready","capabilities":{"transcriber":"whisper","supportedLocales":["*"],"macOSVersion":"Debian GNU\/Linux 12 (bookworm)"}})json"
       "\n"},
      {"started", Event::started(std::chrono::system_clock::time_point(std::chrono::milliseconds(1768478400123))),
       R"({"type":"started","epochMs":1768478400123})"
       "\n"},
      {"chunk with a quote and a line break", Event::chunk({Speaker::others, "He said \"hi\"\nthen left", 1200, 3400, false}),
       R"({"type":"chunk","speaker":"others","text":"He said \"hi\"\nthen left","start":1200,"end":3400,"isFinal":false})"
       "\n"},
      {"chunk with non-ASCII text", Event::chunk({Speaker::you, "caf\xC3\xA9 \xE2\x9C\x93", 0, 5, true}),
       "{\"type\":\"chunk\",\"speaker\":\"you\",\"text\":\"caf\xC3\xA9 \xE2\x9C\x93\",\"start\":0,\"end\":5,\"isFinal\":true}\n"},
      {"audio", Event::audio({Speaker::you, "/tmp/quillet/you-1.wav", 0, 8000}),
       R"({"type":"audio","speaker":"you","wavPath":"\/tmp\/quillet\/you-1.wav","start":0,"end":8000})"
       "\n"},
      {"error", Event::unknownCommand("pause"),
       R"({"type":"error","code":"INVALID_COMMAND","message":"unknown command: pause","fatal":false})"
       "\n"},
      {"stopped", Event::stopped("user-stopped"),
       R"({"type":"stopped","reason":"user-stopped"})"
       "\n"},
      {"a large integer", Event::chunk({Speaker::you, "x", INT64_MAX - 1, INT64_MAX, true}),
       R"({"type":"chunk","speaker":"you","text":"x","start":9223372036854775806,"end":9223372036854775807,"isFinal":true})"
       "\n"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    EXPECT_EQ(EventWriter::lineText(testCase.event), testCase.expectedLine);
  }
}

TEST(EventWriterTest, AnEventThatCannotBeEncodedBecomesTheFallbackLine) {
  for (const Event& event : {Event::chunk({Speaker::you, "caf\xE9", 0, 1, true}),
                             Event::audio({Speaker::others, "/tmp/\xFF.wav", 0, 1})}) {
    const std::string line = EventWriter::lineText(event);
    EXPECT_EQ(line.rfind(R"({"type":"error","code":"CAPTURE_FAILED","message":"encode failed: )", 0), 0u) << line;
    EXPECT_TRUE(line.ends_with(",\"fatal\":false}\n")) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const auto parsed = nlohmann::json::parse(line);
    EXPECT_NE(parsed["message"].get<std::string>().find("UTF-8"), std::string::npos) << line;
  }
}

TEST(EventWriterTest, EmitWritesToTheOutputBeforeSayingSo) {
  TestPipe output;
  EventWriter writer(output.writeEnd());
  emitAndWait(writer, Event::stopped("command"));
  EXPECT_EQ(output.readLine(), "{\"type\":\"stopped\",\"reason\":\"command\"}\n");
}

TEST(EventWriterTest, EventsWithoutWaitingKeepTheirOrderAndStayWhole) {
  TestPipe output;
  EventWriter writer(output.writeEnd());
  constexpr int kEvents = 200;
  for (int index = 0; index < kEvents; ++index) {
    writer.emitWithoutWaiting(Event::chunk({Speaker::you, "chunk " + std::to_string(index), index, index + 1, true}));
  }
  for (int index = 0; index < kEvents; ++index) {
    const auto parsed = nlohmann::json::parse(output.readLine());
    EXPECT_EQ(parsed["text"], "chunk " + std::to_string(index));
  }
}

TEST(EventWriterTest, LinesFromManyThreadsNeverInterleave) {
  TestPipe output;
  EventWriter writer(output.writeEnd());
  constexpr int kThreads = 4;
  constexpr int kEventsPerThread = 50;
  // Long texts make a torn write visible as a line that does not parse.
  const std::string longText(20000, 'w');
  std::vector<std::thread> emitters;
  for (int thread = 0; thread < kThreads; ++thread) {
    emitters.emplace_back([&writer, &longText, thread] {
      for (int index = 0; index < kEventsPerThread; ++index) {
        writer.emitWithoutWaiting(Event::chunk({Speaker::others, longText, thread, index, false}));
      }
    });
  }
  std::vector<int> nextIndexPerThread(kThreads, 0);
  for (int line = 0; line < kThreads * kEventsPerThread; ++line) {
    const auto parsed = nlohmann::json::parse(output.readLine());
    EXPECT_EQ(parsed["text"], longText);
    const int thread = parsed["start"].get<int>();
    EXPECT_EQ(parsed["end"].get<int>(), nextIndexPerThread[thread]++);
  }
  for (auto& emitter : emitters) emitter.join();
}

TEST(EventWriterTest, AClosedOutputNeitherKillsNorBlocksAndIsReportedOnce) {
  CollectedLines diagnostics;
  TestPipe output;
  output.closeReadEnd();
  EventWriter writer(output.writeEnd(), diagnostics.sink());
  // Reaching the lines after these calls means SIGPIPE did not end the process.
  emitAndWait(writer, Event::stopped("command"));
  emitAndWait(writer, Event::stopped("signal"));
  writer.emitWithoutWaiting(Event::stopped("signal"));
  emitAndWait(writer, Event::stopped("signal"));
  EXPECT_EQ(diagnostics.lines(),
            std::vector<std::string>{"[stdout] the host closed standard output; events are dropped from now on\n"});
}

TEST(FullWriteTest, AnswersBrokenPipeInsteadOfRaisingTheSignal) {
  TestPipe output;
  output.closeReadEnd();
  EXPECT_EQ(writeFully(output.writeEnd(), "line\n"), std::errc::broken_pipe);
  // The signal was taken back before the mask was restored; a pending one would end the test here.
  EXPECT_EQ(writeFully(output.writeEnd(), "again\n"), std::errc::broken_pipe);
}

TEST(FullWriteTest, WritesEverythingThroughAFullNonBlockingPipe) {
  TestPipe output;
  ASSERT_EQ(::fcntl(output.writeEnd(), F_SETFL, O_NONBLOCK), 0);
  // Several times the pipe's capacity, so writes are partial and the pipe is full in between.
  std::string bytes(1024 * 1024, 'a');
  bytes.back() = '\n';
  auto written = std::async(std::launch::async, [&] { return writeFully(output.writeEnd(), bytes); });
  EXPECT_EQ(output.readLine(), bytes);
  EXPECT_FALSE(written.get());
}

TEST(FullWriteTest, ReportsOtherWriteErrors) {
  TestPipe output;
  EXPECT_EQ(writeFully(output.readEnd(), "x"), std::errc::bad_file_descriptor);
}

}  // namespace
}  // namespace quillet::capture
