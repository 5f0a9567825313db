#pragma once

#include <string>

#include "common/result/Expected.h"

namespace quillet::platform {

// Opens addresses and settings panels through the desktop.
class UrlOpener {
 public:
  virtual ~UrlOpener() = default;

  // Opens the desktop's sound input settings; fails when the desktop has none to open or it would not start.
  virtual Status openSoundSettings() = 0;
};

}  // namespace quillet::platform
