#pragma once

#include <string>

namespace quillet::platform {

// Opens addresses and settings panels through the desktop.
class UrlOpener {
 public:
  virtual ~UrlOpener() = default;

  // Opens the desktop's sound input settings; answers false when the desktop has none to open.
  virtual bool openSoundSettings() = 0;
};

}  // namespace quillet::platform
