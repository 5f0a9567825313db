// Which devices are in use and by whom, against a private daemon whose speaker plays only what a test plays
// into it: real recorders and players as other processes, and streams the test opens itself through the
// client API with whatever flags and application properties a case needs.
#include <gtest/gtest.h>
#include <pulse/context.h>
#include <pulse/def.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/identity/ApplicationIdentityTable.h"
#include "platform/linux/identity/ProcessAppIdentity.h"
#include "platform/linux/pulse/PulseAudioActivity.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet {
namespace {

using platform::identity::ApplicationIdentityTable;
using platform::identity::ProcessAppIdentity;
using platform::pulse::PulseAudioActivity;
using test::ChildProcess;
using test::PrivatePulseServer;
using Holders = std::vector<std::optional<std::string>>;
using Properties = std::map<std::string, std::string>;

constexpr auto kPatience = std::chrono::seconds(15);

// Polls until `condition` holds; false when it still does not after a generous wait.
bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool nothingRuns(PulseAudioActivity& activity) {
  return !activity.isInputRunning() && !activity.isOutputRunning() && activity.inputHolders().empty() &&
         activity.outputHolders().empty();
}

std::unique_ptr<PrivatePulseServer> quietServer() {
  return std::make_unique<PrivatePulseServer>(PrivatePulseServer::Microphone{},
                                              PrivatePulseServer::FeedLoopback::absent);
}

std::string thisHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

// Another process of this machine that does nothing, for streams to claim as theirs.
std::unique_ptr<ChildProcess> idleProcess() {
  return std::make_unique<ChildProcess>(ChildProcess::pathOf("sleep"), std::vector<std::string>{"300"},
                                        ChildProcess::Environment{}, std::vector<std::string>{},
                                        ChildProcess::StandardOutput::discarded);
}

// A client of the server opened by the test itself. Its application properties are whatever the case claims;
// what it leaves out, the client library fills in for this very process, as for any program.
class TestClient {
 public:
  explicit TestClient(const std::string& server, const Properties& claimed = {})
      : mainloop_(pa_threaded_mainloop_new()) {
    pa_threaded_mainloop_start(mainloop_);
    pa_threaded_mainloop_lock(mainloop_);
    pa_proplist* properties = pa_proplist_new();
    for (const auto& [key, value] : claimed) pa_proplist_sets(properties, key.c_str(), value.c_str());
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), "activity test", properties);
    pa_proplist_free(properties);
    pa_context_connect(context_, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr);
    const bool ready = waitUntil([this] {
      const pa_context_state_t state = pa_context_get_state(context_);
      return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    const bool connected = ready && pa_context_get_state(context_) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(mainloop_);
    if (!connected) throw std::runtime_error("the test client could not connect to the private server");
  }

  ~TestClient() {
    pa_threaded_mainloop_lock(mainloop_);
    for (pa_stream* stream : streams_) {
      pa_stream_disconnect(stream);
      pa_stream_unref(stream);
    }
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_threaded_mainloop_unlock(mainloop_);
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
  }

  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  // A recording of `device` (the default input when empty); answers once the server has it.
  pa_stream* record(pa_stream_flags_t flags, const std::string& device = {}) {
    return open(flags, device, [](pa_stream* stream, const char* target, pa_stream_flags_t streamFlags) {
      return pa_stream_connect_record(stream, target, nullptr, streamFlags);
    });
  }

  // What a level meter opens: the peaks of the default input, 25 times a second.
  pa_stream* watchLevels() {
    const pa_sample_spec peaks{PA_SAMPLE_FLOAT32NE, 25, 1};
    return open(pa_stream_flags_t(PA_STREAM_PEAK_DETECT | PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE), {},
                [](pa_stream* stream, const char* target, pa_stream_flags_t streamFlags) {
                  pa_buffer_attr attributes{};
                  attributes.maxlength = std::uint32_t(-1);
                  attributes.fragsize = sizeof(float);
                  return pa_stream_connect_record(stream, target, &attributes, streamFlags);
                },
                peaks);
  }

  // A playing stream to the default output; it is fed nothing, which does not make it any less open.
  pa_stream* play(pa_stream_flags_t flags) {
    return open(flags, {}, [](pa_stream* stream, const char* target, pa_stream_flags_t streamFlags) {
      return pa_stream_connect_playback(stream, target, nullptr, streamFlags, nullptr, nullptr);
    });
  }

  void setCorked(pa_stream* stream, bool corked) {
    pa_threaded_mainloop_lock(mainloop_);
    pa_operation* operation = pa_stream_cork(stream, corked ? 1 : 0, nullptr, nullptr);
    const bool done = operation != nullptr &&
                      waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    if (operation != nullptr) pa_operation_unref(operation);
    pa_threaded_mainloop_unlock(mainloop_);
    if (!done) throw std::runtime_error("the server did not cork or uncork the stream");
  }

 private:
  using Connect = int (*)(pa_stream*, const char*, pa_stream_flags_t);

  pa_stream* open(pa_stream_flags_t flags, const std::string& device, Connect connect,
                  pa_sample_spec format = pa_sample_spec{PA_SAMPLE_S16LE, 44100, 2}) {
    pa_threaded_mainloop_lock(mainloop_);
    pa_stream* stream = pa_stream_new(context_, "activity test stream", &format, nullptr);
    streams_.push_back(stream);
    connect(stream, device.empty() ? nullptr : device.c_str(), flags);
    const bool settled = waitUntil([stream] {
      const pa_stream_state_t state = pa_stream_get_state(stream);
      return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    const bool ready = settled && pa_stream_get_state(stream) == PA_STREAM_READY;
    pa_threaded_mainloop_unlock(mainloop_);
    if (!ready) throw std::runtime_error("the server did not open the test stream");
    return stream;
  }

  // Called with the loop's lock held, which the loop needs to make progress, so it is let go between looks.
  template <typename Done>
  bool waitUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pa_threaded_mainloop_unlock(mainloop_);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      pa_threaded_mainloop_lock(mainloop_);
    }
    return true;
  }

  pa_threaded_mainloop* mainloop_;
  pa_context* context_ = nullptr;
  std::vector<pa_stream*> streams_;
};

// Everything this process writes on its standard output while it lives, read back when it goes.
class StandardOutputCapture {
 public:
  explicit StandardOutputCapture(const std::filesystem::path& file) : file_(file) {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    std::FILE* target = std::fopen(file.c_str(), "w");
    if (target == nullptr) throw std::runtime_error("cannot create " + file.string());
    ::dup2(::fileno(target), STDOUT_FILENO);
    std::fclose(target);
  }

  // Ends the capture and answers what was written.
  std::string finish() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    return test::readFile(file_);
  }

 private:
  std::filesystem::path file_;
  int saved_ = -1;
};

TEST(PulseAudioActivityTest, ReportsRecordersAndPlayersWithTheirApplicationsUntilTheyEnd) {
  auto server = quietServer();
  ProcessAppIdentity identity;
  PulseAudioActivity activity(identity, server->serverAddress());

  // The virtual microphone's own plumbing reads the monitor of a sink; that is no one recording.
  EXPECT_TRUE(nothingRuns(activity)) << "idle";

  auto recorder = server->startRecording();
  ASSERT_TRUE(eventually([&] { return activity.isInputRunning(); })) << "a recorder was not noticed";
  EXPECT_FALSE(activity.isOutputRunning());
  EXPECT_EQ(activity.inputHolders(), Holders{identity.bundleIdOfProcess(recorder->pid())});
  EXPECT_TRUE(activity.outputHolders().empty());

  auto player = server->startPlaying();
  ASSERT_TRUE(eventually([&] { return activity.isOutputRunning(); })) << "a player was not noticed";
  EXPECT_EQ(activity.outputHolders(), Holders{identity.bundleIdOfProcess(player->pid())});
  EXPECT_TRUE(activity.isInputRunning());

  recorder->sendSignal(SIGTERM);
  recorder->waitForExit();
  EXPECT_TRUE(eventually([&] { return !activity.isInputRunning() && activity.inputHolders().empty(); }))
      << "the recorder's end was not noticed";
  EXPECT_TRUE(activity.isOutputRunning());

  player->sendSignal(SIGTERM);
  player->waitForExit();
  EXPECT_TRUE(eventually([&] { return nothingRuns(activity); })) << "the player's end was not noticed";
}

// Each excluded stream is opened first and a counted one of the same client after it: the server reports
// them to the activity in that order, so once the second counts the first has been seen, and left out.
TEST(PulseAudioActivityTest, CorkedStreamsLevelMetersAndRecordingsOfOutputsDoNotCount) {
  enum class Direction { recording, playing };
  static const struct {
    const char* name;
    Direction direction;
    std::function<pa_stream*(TestClient&)> openExcluded;
    bool uncorkedCounts;
  } cases[] = {
      {"a corked recording", Direction::recording,
       [](TestClient& client) { return client.record(PA_STREAM_START_CORKED); }, true},
      {"a level meter on the microphone", Direction::recording, [](TestClient& client) { return client.watchLevels(); },
       false},
      {"a recording of what the speaker plays", Direction::recording,
       [](TestClient& client) { return client.record(PA_STREAM_NOFLAGS, "speaker.monitor"); }, false},
      {"a corked playing stream", Direction::playing,
       [](TestClient& client) { return client.play(PA_STREAM_START_CORKED); }, true},
  };
  auto server = quietServer();
  auto otherProcess = idleProcess();
  ProcessAppIdentity identity;
  PulseAudioActivity activity(identity, server->serverAddress());

  for (const auto& excluded : cases) {
    SCOPED_TRACE(excluded.name);
    const bool recording = excluded.direction == Direction::recording;
    const auto running = [&] { return recording ? activity.isInputRunning() : activity.isOutputRunning(); };
    const auto holders = [&] { return recording ? activity.inputHolders() : activity.outputHolders(); };
    {
      TestClient client(server->serverAddress(),
                        {{PA_PROP_APPLICATION_PROCESS_ID, std::to_string(otherProcess->pid())}});
      pa_stream* stream = excluded.openExcluded(client);
      if (recording) {
        client.record(PA_STREAM_NOFLAGS);
      } else {
        client.play(PA_STREAM_NOFLAGS);
      }
      ASSERT_TRUE(eventually(running)) << "the counted stream after it was not noticed";
      EXPECT_EQ(holders().size(), 1U) << "it counted";

      if (excluded.uncorkedCounts) {
        client.setCorked(stream, false);
        EXPECT_TRUE(eventually([&] { return holders().size() == 2; })) << "uncorking it was not noticed";
        client.setCorked(stream, true);
        EXPECT_TRUE(eventually([&] { return holders().size() == 1; })) << "corking it again was not noticed";
      }
    }
    ASSERT_TRUE(eventually([&] { return nothingRuns(activity); })) << "the client's end was not noticed";
  }
}

TEST(PulseAudioActivityTest, StreamsOfThisVeryProcessDoNotCount) {
  auto server = quietServer();
  ProcessAppIdentity identity;
  PulseAudioActivity activity(identity, server->serverAddress());

  TestClient ownClient(server->serverAddress());
  ownClient.record(PA_STREAM_NOFLAGS);
  ownClient.play(PA_STREAM_NOFLAGS);

  // Other processes' streams, opened after ours, show when ours have been seen.
  auto recorder = server->startRecording();
  auto player = server->startPlaying();
  ASSERT_TRUE(eventually([&] { return activity.isInputRunning() && activity.isOutputRunning(); }));
  EXPECT_EQ(activity.inputHolders(), Holders{identity.bundleIdOfProcess(recorder->pid())});
  EXPECT_EQ(activity.outputHolders(), Holders{identity.bundleIdOfProcess(player->pid())});

  recorder.reset();
  player.reset();
  EXPECT_TRUE(eventually([&] { return nothingRuns(activity); })) << "our own streams counted";
}

// A process elsewhere (a client over the network) has a process id that means nothing here, even when it
// happens to be ours; its names are all there is. A sandboxed application's process id is one of its sandbox.
TEST(PulseAudioActivityTest, NamesEachStreamsApplicationFromWhatItsPropertiesTell) {
  auto server = quietServer();
  auto otherProcess = idleProcess();
  ProcessAppIdentity identity;
  PulseAudioActivity activity(identity, server->serverAddress());
  const std::string otherProcessId = std::to_string(otherProcess->pid());
  const std::string elsewhere = "elsewhere.example";

  const struct {
    const char* name;
    Properties claimed;
    std::optional<std::string> holder;
  } cases[] = {
      {"a process of this machine, by what it is", {{PA_PROP_APPLICATION_PROCESS_ID, otherProcessId}},
       identity.bundleIdOfProcess(otherProcess->pid())},
      {"a process naming this machine, by what it is",
       {{PA_PROP_APPLICATION_PROCESS_ID, otherProcessId}, {PA_PROP_APPLICATION_PROCESS_HOST, thisHostName()}},
       identity.bundleIdOfProcess(otherProcess->pid())},
      {"a sandboxed application, by its sandbox's id",
       {{PA_PROP_APPLICATION_PROCESS_ID, otherProcessId}, {"pipewire.access.portal.app_id", "us.zoom.Zoom"}},
       ApplicationIdentityTable::bundleIdFor("us.zoom.Zoom")},
      {"a process elsewhere, by its executable",
       {{PA_PROP_APPLICATION_PROCESS_HOST, elsewhere}, {PA_PROP_APPLICATION_PROCESS_BINARY, "zoom"}},
       ApplicationIdentityTable::bundleIdFor("zoom")},
      {"a process elsewhere without an executable, by its application id",
       {{PA_PROP_APPLICATION_PROCESS_HOST, elsewhere},
        {PA_PROP_APPLICATION_PROCESS_BINARY, ""},
        {PA_PROP_APPLICATION_ID, "org.mozilla.firefox"}},
       ApplicationIdentityTable::bundleIdFor("org.mozilla.firefox")},
      {"a process elsewhere without any name", {{PA_PROP_APPLICATION_PROCESS_HOST, elsewhere},
                                                {PA_PROP_APPLICATION_PROCESS_BINARY, ""}},
       std::nullopt},
  };
  for (const auto& stream : cases) {
    SCOPED_TRACE(stream.name);
    {
      TestClient client(server->serverAddress(), stream.claimed);
      client.record(PA_STREAM_NOFLAGS);
      client.play(PA_STREAM_NOFLAGS);
      ASSERT_TRUE(eventually([&] { return activity.isInputRunning() && activity.isOutputRunning(); }));
      EXPECT_EQ(activity.inputHolders(), Holders{stream.holder});
      EXPECT_EQ(activity.outputHolders(), Holders{stream.holder});
    }
    ASSERT_TRUE(eventually([&] { return nothingRuns(activity); })) << "the client's end was not noticed";
  }
}

// A server that dies, hangs or is not there reads as nothing running; this object neither crashes nor
// hangs, writes nothing on standard output, and finds the server again once it is back.
TEST(PulseAudioActivityTest, AnswersNothingWhileTheServerIsGoneAndFindsItAgain) {
  test::TemporaryDirectory folder;
  StandardOutputCapture output(folder.path() / "stdout");
  auto server = quietServer();
  ProcessAppIdentity identity;
  PulseAudioActivity activity(identity, server->serverAddress());

  auto recorder = server->startRecording();
  auto player = server->startPlaying();
  ASSERT_TRUE(eventually([&] { return activity.isInputRunning() && activity.isOutputRunning(); }));

  server->kill();
  EXPECT_TRUE(eventually([&] { return nothingRuns(activity); })) << "the dead server's streams still count";

  server->restart();
  recorder = server->startRecording();
  EXPECT_TRUE(eventually([&] { return activity.isInputRunning(); })) << "the restarted server was not found";
  EXPECT_EQ(activity.inputHolders(), Holders{identity.bundleIdOfProcess(recorder->pid())});

  EXPECT_EQ(output.finish(), "");
}

TEST(PulseAudioActivityTest, WithoutAServerNothingRunsAndOneStartedLaterIsFound) {
  test::TemporaryDirectory folder;
  StandardOutputCapture output(folder.path() / "stdout");
  auto server = quietServer();
  server->kill();
  ProcessAppIdentity identity;
  PulseAudioActivity activity(identity, server->serverAddress());
  PulseAudioActivity nowhere(identity, "unix:" + (folder.path() / "no-server-here").string());

  EXPECT_TRUE(nothingRuns(activity));
  EXPECT_TRUE(nothingRuns(nowhere));

  server->restart();
  auto recorder = server->startRecording();
  EXPECT_TRUE(eventually([&] { return activity.isInputRunning(); })) << "the server started later was not found";
  EXPECT_TRUE(nothingRuns(nowhere));

  EXPECT_EQ(output.finish(), "");
}

TEST(PulseAudioActivityTest, GoesAwayPromptlyWhileTheServerIsFrozen) {
  auto server = quietServer();
  ProcessAppIdentity identity;
  auto activity = std::make_unique<PulseAudioActivity>(identity, server->serverAddress());
  auto recorder = server->startRecording();
  ASSERT_TRUE(eventually([&] { return activity->isInputRunning(); }));

  server->freeze();
  // Queries never wait for the server.
  EXPECT_TRUE(activity->isInputRunning());
  std::atomic<bool> destroyed = false;
  std::thread destroyer([&] {
    activity.reset();
    destroyed = true;
  });
  EXPECT_TRUE(eventually([&] { return destroyed.load(); })) << "destruction waited for the frozen server";
  // A destruction stuck on the server is let go, so the test ends either way.
  server->thaw();
  destroyer.join();
}

}  // namespace
}  // namespace quillet
