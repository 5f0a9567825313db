// The developer switch "--dictate-file": a spoken sample through the real agent binary, its streamer,
// chunked client and engine router, against a loopback transcription server or the real recogniser.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
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

  // Runs the agent on `arguments` with no session; answers its exit status and standard output.
  std::pair<int, std::string> dictate(const std::vector<std::string>& arguments, test::ChildProcess::Environment extra) {
    const fs::path output = folder.path() / "transcript.txt";
    test::ChildProcess::Environment environment{{"XDG_CONFIG_HOME", (folder.path() / "config").string()},
                                                {"HOME", folder.path().string()},
                                                {"QT_QPA_PLATFORM", "offscreen"}};
    environment.insert(extra.begin(), extra.end());
    std::vector<std::string> shellArguments{"-c", "exec \"$0\" \"$@\" > \"" + output.string() + "\"",
                                            QUILLET_DICTATE_BINARY};
    shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
    test::ChildProcess agent("/bin/sh", shellArguments, environment,
                             {"QL_SUPABASE_URL", "QL_ANON_KEY", "QL_ACCESS_TOKEN", "QL_REFRESH_TOKEN", "VOICE_PORT"});
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

  const auto [exitStatus, transcript] =
      dictate({"--dictate-file", sample.string(), "--realtime"},
              {{"VOICE_PORT", std::to_string(server.port())}, {"QUILLET_SPEECH_MODEL_ROOT", (folder.path() / "none").string()}});

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
      {{"--bogus"}, 64, "unknown argument: --bogus"},
  };
  for (const auto& testCase : cases) {
    const auto [exitStatus, transcript] = dictate(testCase.arguments, {});
    EXPECT_EQ(exitStatus, testCase.exitStatus) << testCase.arguments.back();
    EXPECT_EQ(transcript, "") << testCase.arguments.back();
    EXPECT_NE(standardError.find(testCase.message), std::string::npos) << standardError;
  }
}

}  // namespace
}  // namespace quillet
