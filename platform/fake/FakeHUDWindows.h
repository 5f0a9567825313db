#pragma once

#include "platform/MainLoop.h"
#include "platform/fake/FakeHUDWindow.h"
#include "platform/fake/FakeKeyMonitor.h"
#include "platform/fake/FakeMouseLocation.h"
#include "platform/fake/FakePromptWindow.h"
#include "platform/fake/FakeScreens.h"

namespace quillet::platform::fake {

// Everything window-facing a dictation session needs, faked: the HUD window, the prompt, the keys, one screen of 1920 ×
// 1080 points and the pointer.
struct FakeHUDWindows {
  explicit FakeHUDWindows(MainLoop& loop) : window(loop) {
    screens.attached = {{.frame = {0, 0, 1920, 1080}, .visibleFrame = {0, 0, 1920, 1050}}};
  }

  FakeHUDWindow window;
  FakePromptWindow prompt;
  FakeKeyMonitor keys;
  FakeScreens screens;
  FakeMouseLocation mouse;
};

}  // namespace quillet::platform::fake
