#pragma once

#include "platform/UrlOpener.h"

namespace quillet::platform::fake {

// A desktop that records what it was asked to open and answers as scripted.
class FakeUrlOpener final : public UrlOpener {
 public:
  Status openSoundSettings() override {
    ++soundSettingsOpenCount;
    if (!hasSoundSettings) return Error("no sound settings program is installed");
    return succeeded();
  }

  bool hasSoundSettings = true;
  int soundSettingsOpenCount = 0;
};

}  // namespace quillet::platform::fake
