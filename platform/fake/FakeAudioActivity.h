#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/AudioActivity.h"

namespace quillet::platform::fake {

// Devices in use as the test scripts them; it counts how often the holders were asked, since asking
// for them costs a real desktop a scan of its processes.
class FakeAudioActivity final : public AudioActivity {
 public:
  bool isInputRunning() override { return inputRunning; }
  bool isOutputRunning() override { return outputRunning; }
  std::vector<std::optional<std::string>> inputHolders() override;
  std::vector<std::optional<std::string>> outputHolders() override;

  // Scripted state.
  bool inputRunning = false;
  bool outputRunning = false;
  std::vector<std::optional<std::string>> inputHolderIds;
  std::vector<std::optional<std::string>> outputHolderIds;

  // What happened.
  int inputHoldersRequestCount = 0;
  int outputHoldersRequestCount = 0;
};

}  // namespace quillet::platform::fake
