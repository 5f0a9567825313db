// The developer switch "--dictate-file": a spoken sample through the real agent binary, its streamer,
// chunked client and engine router, against a loopback transcription server or the real recogniser.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fstream>

#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/SpokenSample.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

class DictateFileTest : public ::testing::Test {
 protected:
  // Two spoken sentences with 1.2 s of silence between them, as espeak-ng says them (22.05 kHz mono).
  fs::path makeSample() {
    const fs::path sample = folder.path() / "sample.wav";
    EXPECT_TRUE(test::makeSpokenSample(folder.path(), {"so we went to the store", "to the store and bought milk"}, 1.2,
                                       sample));
    return sample;
  }

  // The agent's environment: no session, a home of its own, `extra` on top.
  test::ChildProcess::Environment environmentWith(const test::ChildProcess::Environment& extra) const {
    test::ChildProcess::Environment environment{{"XDG_CONFIG_HOME", (folder.path() / "config").string()},
                                                {"HOME", folder.path().string()},
                                                {"QT_QPA_PLATFORM", "offscreen"}};
    environment.insert(extra.begin(), extra.end());
    return environment;
  }

  static const std::vector<std::string>& removedVariables() {
    static const std::vector<std::string> names{"QL_SUPABASE_URL", "QL_ANON_KEY",  "QL_ACCESS_TOKEN", "QL_REFRESH_TOKEN",
                                                "VOICE_PORT",      "http_proxy",   "HTTP_PROXY",      "all_proxy",
                                                "ALL_PROXY",       "no_proxy",     "NO_PROXY"};
    return names;
  }

  // The loopback server's environment with no on-device recogniser, so every chunk goes to it.
  test::ChildProcess::Environment loopbackOnly(const test::LoopbackHttpServer& server) const {
    return {{"VOICE_PORT", std::to_string(server.port())}, {"QUILLET_SPEECH_MODEL_ROOT", (folder.path() / "none").string()}};
  }

  // Runs the agent on `arguments` with no session; answers its exit status and standard output.
  std::pair<int, std::string> dictate(const std::vector<std::string>& arguments, test::ChildProcess::Environment extra) {
    const fs::path output = folder.path() / "transcript.txt";
    std::vector<std::string> shellArguments{"-c", "exec \"$0\" \"$@\" > \"" + output.string() + "\"",
                                            QUILLET_DICTATE_BINARY};
    shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
    test::ChildProcess agent("/bin/sh", shellArguments, environmentWith(extra), removedVariables());
    // Read while it runs: a full pipe would otherwise hold the agent up.
    standardError = agent.readStandardErrorToEnd(std::chrono::seconds(120));
    const auto status = agent.waitForExit(std::chrono::seconds(10));
    EXPECT_TRUE(status.has_value()) << "the agent did not finish";
    const int exitStatus = status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    return {exitStatus, test::readFile(output)};
  }

  test::TemporaryDirectory folder;
  std::string standardError;
};

TEST_F(DictateFileTest, ChunksCutAtThePauseAreTranscribedByTheLoopbackServerAndStitched) {
  test::LoopbackHttpServer server;
  std::atomic<int> requestNumber = 0;
  server.on("POST", "/inference", [&](const httplib::Request& request, httplib::Response& response) {
    // Paced like a microphone, the chunk cut at the pause is asked for well before the one cut at the end.
    const bool first = requestNumber++ == 0;
    EXPECT_TRUE(request.has_file("file"));
    response.set_content(first ? R"({"text":"so we went to the store"})" : R"({"text":"to the store and bought milk"})",
                         "application/json");
  });
  const auto sample = makeSample();

  const auto [exitStatus, transcript] = dictate({"--dictate-file", sample.string(), "--realtime"}, loopbackOnly(server));

  EXPECT_EQ(exitStatus, 0) << standardError;
  EXPECT_EQ(transcript, "So we went to the store and bought milk\n") << standardError;
  EXPECT_EQ(requestNumber.load(), 2) << standardError;
  EXPECT_NE(standardError.find("(pause)"), std::string::npos) << "cut at the pause:\n" << standardError;
  EXPECT_NE(standardError.find("partial: So we went to the store\n"), std::string::npos) << standardError;
}

TEST_F(DictateFileTest, TheOnDeviceRecogniserTranscribesSpeechWithoutAnyServer) {
  const auto sample = makeSample();
  const auto [exitStatus, transcript] = dictate({"--dictate-file", sample.string()}, {{"VOICE_PORT", "1"}});
  EXPECT_EQ(exitStatus, 0) << standardError;
  ASSERT_GT(transcript.size(), 1u) << standardError;
  EXPECT_EQ(transcript.back(), '\n');
  EXPECT_NE(standardError.find("🍎 native SpeechAnalyzer: "), std::string::npos) << standardError;
}

TEST_F(DictateFileTest, UnreadableFilesAndMalformedCommandLinesFailClearly) {
  const fs::path garbage = folder.path() / "garbage.wav";
  { std::ofstream(garbage) << "not audio at all"; }
  struct Case {
    std::vector<std::string> arguments;
    int exitStatus;
    const char* message;
  };
  const Case cases[] = {
      {{"--dictate-file", (folder.path() / "missing.wav").string()}, 1, "cannot read"},
      {{"--dictate-file", garbage.string()}, 1, "cannot read"},
      {{"--dictate-file"}, 64, "--dictate-file needs a file"},
      {{"--realtime"}, 64, "--realtime only goes with --dictate-file"},
      // A launcher's own arguments do not stop the agent; they are named in the log.
      {{"--bogus", "--dictate-file", garbage.string()}, 1, "ignoring unknown argument: --bogus"},
  };
  for (const auto& testCase : cases) {
    const auto [exitStatus, transcript] = dictate(testCase.arguments, {});
    EXPECT_EQ(exitStatus, testCase.exitStatus) << testCase.arguments.back();
    EXPECT_EQ(transcript, "") << testCase.arguments.back();
    EXPECT_NE(standardError.find(testCase.message), std::string::npos) << standardError;
  }
}

// The same recording must give the same chunk audio every time, so that transcripts can be reproduced.
TEST_F(DictateFileTest, TheSameFileUploadsByteIdenticalChunksEveryRun) {
  test::LoopbackHttpServer server;
  server.answer("POST", "/inference", 200, R"({"text":"words"})", "application/json");
  const auto sample = makeSample();

  std::vector<std::vector<std::string>> uploads;
  for (int run = 0; run < 2; ++run) {
    const std::size_t before = server.requests().size();
    const auto [exitStatus, transcript] = dictate({"--dictate-file", sample.string()}, loopbackOnly(server));
    ASSERT_EQ(exitStatus, 0) << standardError;
    const auto requests = server.requests();
    std::vector<std::string> audio;
    for (std::size_t index = before; index < requests.size(); ++index) {
      for (const auto& part : requests[index].parts) {
        if (part.name == "file") audio.push_back(part.content);
      }
    }
    uploads.push_back(std::move(audio));
  }

  ASSERT_GE(uploads[0].size(), 2U) << "the sample should be cut at its pause";
  // Chunks are sent concurrently, so they are compared as sets of bytes, not in arrival order.
  std::sort(uploads[0].begin(), uploads[0].end());
  std::sort(uploads[1].begin(), uploads[1].end());
  EXPECT_TRUE(uploads[0] == uploads[1]) << "the chunk audio differs between runs";
}

// Recorded speech meant for this machine's server must not leave it through a proxy from the environment.
TEST_F(DictateFileTest, TheLoopbackServerIsAskedDirectlyWhateverProxyIsSet) {
  test::LoopbackHttpServer server;
  server.answer("POST", "/inference", 200, R"({"text":"so we went to the store and bought milk"})", "application/json");
  test::LoopbackHttpServer proxy;
  proxy.answer("POST", "/inference", 200, R"({"text":"from the proxy"})", "application/json");
  auto environment = loopbackOnly(server);
  environment.insert({{"http_proxy", proxy.url("")}, {"HTTP_PROXY", proxy.url("")}, {"all_proxy", proxy.url("")}});
  const auto sample = makeSample();

  const auto [exitStatus, transcript] = dictate({"--dictate-file", sample.string()}, environment);

  EXPECT_EQ(exitStatus, 0) << standardError;
  EXPECT_FALSE(server.requests().empty()) << standardError;
  EXPECT_TRUE(proxy.requests().empty()) << "the proxy received " << proxy.requests().size() << " requests";
  EXPECT_EQ(transcript.find("proxy"), std::string::npos) << transcript;
}

// The host ends the agent with SIGTERM while chunks wait on a server that never answers: the agent
// abandons them and ends at once, with status 0.
TEST_F(DictateFileTest, TerminationWithStalledRequestsInFlightEndsTheAgentAtOnce) {
  test::LoopbackHttpServer server;
  server.neverAnswer("POST", "/inference");
  const fs::path sample = folder.path() / "three.wav";
  ASSERT_TRUE(test::makeSpokenSample(folder.path(), {"so we went to the store", "and bought some milk", "then we went home"},
                                     1.2, sample));
  test::ChildProcess agent(QUILLET_DICTATE_BINARY, {"--dictate-file", sample.string()},
                           environmentWith(loopbackOnly(server)), removedVariables(),
                           test::ChildProcess::StandardOutput::discarded);
  ASSERT_TRUE(server.waitForRequests(3, std::chrono::seconds(60))) << agent.readStandardErrorToEnd(std::chrono::seconds(1));

  agent.sendSignal(SIGTERM);
  // Generous for a loaded machine, yet far below the requests' own 30 s deadline that a waiting agent would
  // need; how promptly it ends is measured by bench/DictateExitBench.cpp.
  const auto status = agent.waitForExit(std::chrono::seconds(5));
  server.releaseBlocked();

  ASSERT_TRUE(status.has_value()) << "the agent waited for its requests";
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << (WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

}  // namespace
}  // namespace quillet
