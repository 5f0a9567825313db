#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillet::platform {

// Which audio devices are in use and by whom, across every process of the desktop.
// Streams that only watch levels and this program's own streams never count.
class AudioActivity {
 public:
  virtual ~AudioActivity() = default;

  // Whether some process records from a microphone (an input that is not the monitor of an output).
  virtual bool isInputRunning() = 0;

  // Whether some process plays to an output.
  virtual bool isOutputRunning() = 0;

  // One entry per recording stream: the application identifier of its process, or nothing when it has none.
  virtual std::vector<std::optional<std::string>> inputHolders() = 0;

  // One entry per playing stream, as inputHolders() does.
  virtual std::vector<std::optional<std::string>> outputHolders() = 0;
};

}  // namespace quillet::platform
