#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "common/runtime/Weakly.h"
#include "platform/Clock.h"
#include "platform/KeyboardTap.h"
#include "platform/MainLoop.h"
#include "platform/Timer.h"
#include "quillet-dictate/shell/DictatePrefs.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// Turns system-wide key events into the dictation shortcut's two actions, for the kind of shortcut the host chose: the
// Fn key (tap toggles, hold talks), two quick taps of Shift, one held key (tap toggles, hold talks) or a key
// combination. Keyboards whose Fn key the desktop never sees use Right Control for the Fn kind, observed only. Main
// loop only.
class ShortcutRecognizer {
 public:
  struct Actions {
    // Starts or stops dictation, or inserts a waiting result.
    std::function<void()> trigger;
    // Ends a hold-to-talk recording.
    std::function<void()> stop;
  };

  static constexpr double kFnTapLimit = 0.45;
  static constexpr double kFnHoldArmDelay = 0.35;
  static constexpr double kHoldKeyTapLimit = 0.35;
  static constexpr double kHoldKeyArmDelay = 0.35;
  static constexpr double kMaxShiftTapHold = 0.6;
  static constexpr double kMaxDoubleTapGap = 0.55;
  static constexpr std::uint16_t kFnKeyCode = 63;
  static constexpr std::uint16_t kRightControlKeyCode = 62;

  ShortcutRecognizer(platform::KeyboardTap& tap, platform::MainLoop& mainLoop, const platform::Clock& clock,
                     const VxLog& log, Actions actions);
  ~ShortcutRecognizer();

  ShortcutRecognizer(const ShortcutRecognizer&) = delete;
  ShortcutRecognizer& operator=(const ShortcutRecognizer&) = delete;

  // Starts observing the keyboard; call once.
  void registerHotkey();
  void unregisterHotkey();

  // The shortcut to recognise from the next key event on; the keys it swallows are taken at once.
  void setHotkey(DictateHotkey::Kind kind);
  [[nodiscard]] const DictateHotkey::Kind& hotkey() const { return hotkey_; }

  // What becomes of one key event.
  platform::KeyVerdict handle(const platform::KeyEvent& event);

  // The modifier flag a modifier key sets; nothing for any other key.
  [[nodiscard]] static std::optional<std::uint64_t> modifierMaskOf(std::uint16_t keyCode);

 private:
  [[nodiscard]] double now() const;
  [[nodiscard]] bool emulatesFn() const;
  void takeSwallowedKeys();
  // The Fn key's flag as the Fn logic sees it: the real flag, or Right Control held on keyboards without Fn.
  [[nodiscard]] bool fnHeldIn(const platform::KeyEvent& event);
  platform::KeyVerdict handleKeyDown(const platform::KeyEvent& event);
  platform::KeyVerdict handleFnFlags(bool fnHeld);
  void armFnHold();
  void finishFnShortcutIfNeeded();
  void setHoldKeyDown(bool down);
  void handleShiftDoubleTap(std::uint64_t flags);
  // Runs an action on the main loop after the current event, unless this recogniser is gone by then.
  void post(const std::function<void()>& action);

  platform::KeyboardTap& tap_;
  platform::MainLoop& mainLoop_;
  const platform::Clock& clock_;
  const VxLog& log_;
  Actions actions_;
  DictateHotkey::Kind hotkey_ = DictateHotkey::Fn{};
  bool registered_ = false;

  bool fnIsDown_ = false;
  std::optional<double> fnDownAt_;
  bool otherKeyWhileFnDown_ = false;
  bool fnHoldStarted_ = false;
  platform::Timer fnHoldArmTimer_;
  bool rightControlDown_ = false;

  bool holdKeyIsDown_ = false;
  std::optional<double> holdKeyDownAt_;
  bool holdKeyStarted_ = false;
  platform::Timer holdKeyArmTimer_;

  bool shiftIsDown_ = false;
  std::optional<double> shiftDownAt_;
  bool otherKeyWhileShiftDown_ = false;
  std::optional<double> lastShiftTapAt_;

  // Last, so that timers still queued see this object end before any of its members do.
  Lifetime lifetime_;
};

}  // namespace quillet::dictate
