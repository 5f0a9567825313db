#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace quillet::test {

// A program started the way a host starts it: its own environment, standard error
// read back through a pipe, ended by a signal. The destructor kills it if still running.
class ChildProcess {
 public:
  using Environment = std::map<std::string, std::string>;

  // Where the child's standard output goes: helpers whose output nobody reads write into /dev/null
  // rather than into the test's own output; a helper whose answer is read writes it where standard error goes.
  // `separate` gives standard output a pipe of its own, read with waitForStandardOutput(), as a host
  // reading a protocol on standard output and diagnostics on standard error does.
  enum class StandardOutput { inherited, discarded, withStandardError, separate };

  // Whether the test writes the child's standard input (writeStandardInput) or the child reads nothing.
  enum class StandardInput { empty, piped };

  // Starts `program` with `arguments`; `environment` is laid over this process's environment,
  // and names in `removed` are taken out of it.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments, const Environment& environment,
               const std::vector<std::string>& removed = {})
      : ChildProcess(program, arguments, environment, removed, StandardOutput::inherited) {}

  ChildProcess(const std::string& program, const std::vector<std::string>& arguments, const Environment& environment,
               const std::vector<std::string>& removed, StandardOutput standardOutput,
               StandardInput standardInput = StandardInput::empty) {
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    standardError_.descriptor = errorPipe[0];
    int outputPipe[2] = {-1, -1};
    if (standardOutput == StandardOutput::separate && ::pipe2(outputPipe, O_CLOEXEC) != 0) {
      throw std::system_error(errno, std::generic_category(), "pipe");
    }
    standardOutput_.descriptor = outputPipe[0];
    int inputPipe[2] = {-1, -1};
    if (standardInput == StandardInput::piped && ::pipe2(inputPipe, O_CLOEXEC) != 0) {
      throw std::system_error(errno, std::generic_category(), "pipe");
    }
    standardInput_ = inputPipe[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
    if (standardInput == StandardInput::piped) {
      posix_spawn_file_actions_adddup2(&actions, inputPipe[0], STDIN_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (standardOutput == StandardOutput::discarded) {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    } else if (standardOutput == StandardOutput::withStandardError) {
      posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDOUT_FILENO);
    } else if (standardOutput == StandardOutput::separate) {
      posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);
    }

    std::vector<std::string> argumentStrings{program};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentStrings = mergedEnvironment(environment, removed);
    auto argumentPointers = pointersTo(argumentStrings);
    auto environmentPointers = pointersTo(environmentStrings);

    const int result = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argumentPointers.data(),
                                     environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(errorPipe[1]);
    if (outputPipe[1] >= 0) ::close(outputPipe[1]);
    if (inputPipe[0] >= 0) ::close(inputPipe[0]);
    if (result != 0) throw std::system_error(result, std::generic_category(), "posix_spawn " + program);
  }

  ~ChildProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    standardError_.close();
    standardOutput_.close();
    closeStandardInput();
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The program's full path from the folders in PATH, for a program a test names the way a shell would;
  // the bare name when no folder holds it, so that starting it fails with "no such file".
  // Runs a tool to its end with its output discarded; true when it exited with status 0 in time.
  static bool runToSuccess(const std::string& programName, const std::vector<std::string>& arguments,
                           std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    ChildProcess process(pathOf(programName), arguments, {}, {}, StandardOutput::discarded);
    const auto status = process.waitForExit(timeout);
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  static std::string pathOf(const std::string& programName) {
    const char* searchPath = std::getenv("PATH");
    const std::string folders = searchPath != nullptr ? searchPath : "/usr/local/bin:/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= folders.size()) {
      const std::size_t end = std::min(folders.find(':', begin), folders.size());
      const std::string folder = folders.substr(begin, end - begin);
      const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + programName;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
      begin = end + 1;
    }
    return programName;
  }

  // Reads standard error until it contains `text`; answers false on timeout or end of stream.
  bool waitForStandardError(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return standardError_.waitFor(text, timeout);
  }

  // Reads standard error to its end (the process and its children have closed it) and answers all of it.
  const std::string& readStandardErrorToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    standardError_.waitFor(std::string(1, '\0'), timeout);
    return standardError_.text;
  }

  // The same for a separate standard output.
  bool waitForStandardOutput(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return standardOutput_.waitFor(text, timeout);
  }
  [[nodiscard]] const std::string& standardOutputText() const { return standardOutput_.text; }

  // Writes to a piped standard input; false when the child no longer reads it.
  bool writeStandardInput(std::string_view bytes) {
    while (!bytes.empty() && standardInput_ >= 0) {
      const ssize_t written = ::write(standardInput_, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      bytes.remove_prefix(std::size_t(written));
    }
    return bytes.empty();
  }

  // Ends the child's standard input, as a host that goes away does.
  void closeStandardInput() {
    if (standardInput_ >= 0) ::close(standardInput_);
    standardInput_ = -1;
  }

  void sendSignal(int signal) const { ::kill(pid_, signal); }

  // Waits until the process holds `signal` blocked (as a program that takes its signals on its own loop
  // does before anything else), so that sending it cannot end the process by the default action.
  bool waitUntilBlocking(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
      for (std::string line; std::getline(status, line);) {
        if (!line.starts_with("SigBlk:")) continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        if ((mask >> (signal - 1)) & 1U) return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // The raw wait status once the process has ended, or nothing if it is still running at the timeout.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exitStatus_) {
      int status = 0;
      const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
      if (ended == pid_) {
        exitStatus_ = status;
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exitStatus_;
  }

  [[nodiscard]] const std::string& standardErrorText() const { return standardError_.text; }
  [[nodiscard]] pid_t pid() const { return pid_; }

 private:
  static std::vector<std::string> mergedEnvironment(const Environment& overrides, const std::vector<std::string>& removed) {
    Environment merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text(*entry);
      const auto equals = text.find('=');
      if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& name : removed) merged.erase(name);
    for (const auto& [name, value] : overrides) merged[name] = value;
    std::vector<std::string> strings;
    for (const auto& [name, value] : merged) strings.push_back(name + "=" + value);
    return strings;
  }

  static std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
  }

  // One of the child's output streams and what has been read of it so far.
  struct Stream {
    int descriptor = -1;
    std::string text;

    // Reads until `wanted` has arrived; false on timeout or end of stream.
    bool waitFor(const std::string& wanted, std::chrono::milliseconds timeout) {
      const auto deadline = std::chrono::steady_clock::now() + timeout;
      while (text.find(wanted) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || descriptor < 0) return false;
        pollfd ready{descriptor, POLLIN, 0};
        if (::poll(&ready, 1, int(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count <= 0) return false;
        text.append(buffer, std::size_t(count));
      }
      return true;
    }

    void close() {
      if (descriptor >= 0) ::close(descriptor);
      descriptor = -1;
    }
  };

  pid_t pid_ = -1;
  Stream standardError_;
  Stream standardOutput_;
  int standardInput_ = -1;
  std::optional<int> exitStatus_;
};

}  // namespace quillet::test
