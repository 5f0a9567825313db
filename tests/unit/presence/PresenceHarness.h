#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/fake/FakeAudioActivity.h"
#include "platform/fake/FakeTerminationSignals.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/VirtualMainLoop.h"
#include "quillet-presence/PresenceProgram.h"

namespace quillet::presence::test {

// The presence program on virtual time, with a scripted desktop, reading back what it writes.
struct PresenceHarness {
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAudioActivity audio;
  platform::fake::FakeWorkspace workspace{loop};
  platform::fake::FakeTerminationSignals signals;
  std::vector<std::string> writes;
  std::optional<int> exitStatus;
  std::unique_ptr<PresenceProgram> program;

  void start() {
    program = std::make_unique<PresenceProgram>(
        PresenceProgram::Services{loop, loop, audio, workspace, signals},
        [this](std::string_view bytes) { writes.emplace_back(bytes); },
        [this](int status) { exitStatus = status; });
    program->start();
  }

  // Every complete line written so far, parsed; a line that is not JSON fails the test that reads it.
  [[nodiscard]] std::vector<nlohmann::json> lines() const {
    std::string text;
    for (const auto& write : writes) text += write;
    std::vector<nlohmann::json> parsed;
    std::size_t begin = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', begin)) {
      parsed.push_back(nlohmann::json::parse(text.substr(begin, end - begin)));
      begin = end + 1;
    }
    return parsed;
  }

  // The lines written after the first `seen` ones.
  [[nodiscard]] std::vector<nlohmann::json> linesAfter(std::size_t seen) const {
    auto all = lines();
    return {all.begin() + std::ptrdiff_t(std::min(seen, all.size())), all.end()};
  }
};

}  // namespace quillet::presence::test
