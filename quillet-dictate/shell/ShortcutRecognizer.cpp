#include "quillet-dictate/shell/ShortcutRecognizer.h"

#include <chrono>
#include <utility>
#include <vector>

namespace quillet::dictate {
namespace {

using platform::KeyEvent;
using platform::KeyVerdict;
namespace key_flag = platform::key_flag;

// Fn, Command, Option or Control: another modifier that spoils a Shift tap.
constexpr std::uint64_t kNotShift = key_flag::fn | key_flag::command | key_flag::option | key_flag::control;

// The flags a combination's modifier names stand for; Caps Lock and Fn never take part in the match.
std::uint64_t flagsOf(const std::set<std::string>& modifiers) {
  std::uint64_t flags = 0;
  if (modifiers.contains("command")) flags |= key_flag::command;
  if (modifiers.contains("shift")) flags |= key_flag::shift;
  if (modifiers.contains("control")) flags |= key_flag::control;
  if (modifiers.contains("option")) flags |= key_flag::option;
  return flags;
}

constexpr std::uint64_t kComboFlags = key_flag::command | key_flag::shift | key_flag::control | key_flag::option;

}  // namespace

ShortcutRecognizer::ShortcutRecognizer(platform::KeyboardTap& tap, platform::MainLoop& mainLoop,
                                       const platform::Clock& clock, const VxLog& log, Actions actions)
    : tap_(tap), mainLoop_(mainLoop), clock_(clock), log_(log), actions_(std::move(actions)) {}

ShortcutRecognizer::~ShortcutRecognizer() {
  fnHoldArmTimer_.cancel();
  holdKeyArmTimer_.cancel();
  unregisterHotkey();
}

std::optional<std::uint64_t> ShortcutRecognizer::modifierMaskOf(std::uint16_t keyCode) {
  // Fn is a flag of its own, not a modifier key a hold key could be.
  const std::uint64_t flag = keyCode == kFnKeyCode ? 0 : key_flag::ofModifierKey(keyCode);
  if (flag == 0) return std::nullopt;
  return flag;
}

void ShortcutRecognizer::registerHotkey() {
  unregisterHotkey();
  const Status started =
      tap_.start([this, alive = lifetime_.watch()](
                     const KeyEvent& event) { return alive.ended() ? KeyVerdict::pass : handle(event); },
                 [this, alive = lifetime_.watch()](const std::string& message) {
                   if (!alive.ended()) log_.log("⌨️ " + message);
                 });
  if (started.failed()) {
    log_.log("⚠️ Failed to install Fn event tap (" + started.error().description() + ") — no shortcut is observed");
    return;
  }
  registered_ = true;
  log_.log("⌨️ Installed Fn shortcut event tap");
  if (!tap_.hasFnKey()) log_.log("⌨️ no Fn key on this keyboard: the Fn shortcut listens to Right Control");
  takeSwallowedKeys();
}

void ShortcutRecognizer::unregisterHotkey() {
  if (!registered_) return;
  tap_.stop();
  registered_ = false;
}

void ShortcutRecognizer::setHotkey(DictateHotkey::Kind kind) {
  if (kind == hotkey_) return;
  hotkey_ = std::move(kind);
  takeSwallowedKeys();
}

void ShortcutRecognizer::takeSwallowedKeys() {
  if (!registered_) return;
  std::vector<platform::SwallowedKey> keys;
  if (const auto* combo = std::get_if<DictateHotkey::Combo>(&hotkey_)) {
    keys.push_back({combo->keyCode, flagsOf(combo->modifiers)});
  } else if (const auto* hold = std::get_if<DictateHotkey::HoldKey>(&hotkey_)) {
    // A modifier key is never swallowed: the desktop needs it as a modifier.
    if (!modifierMaskOf(hold->keyCode)) keys.push_back({hold->keyCode, std::nullopt});
  } else if (std::holds_alternative<DictateHotkey::Fn>(hotkey_) && tap_.hasFnKey()) {
    keys.push_back({kFnKeyCode, std::nullopt});
  }
  tap_.swallow(std::move(keys), [this, alive = lifetime_.watch()](const Status& taken) {
    if (alive.ended() || !taken.failed()) return;
    log_.log("⚠️ shortcut keys not swallowed (" + taken.error().description() + ") — observing them only");
  });
}

double ShortcutRecognizer::now() const { return std::chrono::duration<double>(clock_.monotonicNow()).count(); }

bool ShortcutRecognizer::emulatesFn() const {
  return std::holds_alternative<DictateHotkey::Fn>(hotkey_) && !tap_.hasFnKey();
}

void ShortcutRecognizer::post(const std::function<void()>& action) {
  mainLoop_.post([action, alive = lifetime_.watch()] {
    if (!alive.ended() && action) action();
  });
}

bool ShortcutRecognizer::fnHeldIn(const KeyEvent& event) {
  if (!emulatesFn()) return (event.flags & key_flag::fn) != 0;
  if (event.type == KeyEvent::Type::flagsChanged && event.keyCode == kRightControlKeyCode) {
    rightControlDown_ = event.modifierDown;
  }
  return rightControlDown_;
}

KeyVerdict ShortcutRecognizer::handle(const KeyEvent& event) {
  if (const auto* hold = std::get_if<DictateHotkey::HoldKey>(&hotkey_); hold && event.keyCode == hold->keyCode) {
    switch (event.type) {
      case KeyEvent::Type::keyDown:
        setHoldKeyDown(true);
        return KeyVerdict::swallow;
      case KeyEvent::Type::keyUp:
        setHoldKeyDown(false);
        return KeyVerdict::swallow;
      case KeyEvent::Type::flagsChanged:
        // The key's own press or release, not the modifier state, which another key of the same kind also sets.
        setHoldKeyDown(modifierMaskOf(hold->keyCode).has_value() && event.modifierDown);
        return KeyVerdict::pass;
    }
  }
  const bool fnKind = std::holds_alternative<DictateHotkey::Fn>(hotkey_);
  switch (event.type) {
    case KeyEvent::Type::keyDown:
      return handleKeyDown(event);
    case KeyEvent::Type::flagsChanged:
      if (fnKind) {
        const KeyVerdict verdict = handleFnFlags(fnHeldIn(event));
        // Right Control standing in for Fn is only observed: the desktop still needs it as Control.
        return emulatesFn() ? KeyVerdict::pass : verdict;
      }
      if (std::holds_alternative<DictateHotkey::ShiftDouble>(hotkey_)) handleShiftDoubleTap(event.flags);
      return KeyVerdict::pass;
    case KeyEvent::Type::keyUp:
      return fnKind && !emulatesFn() && event.keyCode == kFnKeyCode ? KeyVerdict::swallow : KeyVerdict::pass;
  }
  return KeyVerdict::pass;
}

KeyVerdict ShortcutRecognizer::handleKeyDown(const KeyEvent& event) {
  if (std::holds_alternative<DictateHotkey::Fn>(hotkey_) && !emulatesFn() && event.keyCode == kFnKeyCode) {
    return KeyVerdict::swallow;
  }
  if (fnIsDown_) otherKeyWhileFnDown_ = true;
  if (shiftIsDown_) otherKeyWhileShiftDown_ = true;
  if (const auto* combo = std::get_if<DictateHotkey::Combo>(&hotkey_);
      combo && event.keyCode == combo->keyCode && (event.flags & kComboFlags) == flagsOf(combo->modifiers)) {
    // Holding the combination a moment too long must not start and stop dictation with each repeat.
    if (event.isRepeat) return KeyVerdict::swallow;
    log_.log("🔑 hotkey combo → dictate");
    post(actions_.trigger);
    return KeyVerdict::swallow;
  }
  return KeyVerdict::pass;
}

KeyVerdict ShortcutRecognizer::handleFnFlags(bool fnHeld) {
  if (fnIsDown_) {
    if (!fnHeld) finishFnShortcutIfNeeded();
    return KeyVerdict::swallow;
  }
  if (!fnHeld) return KeyVerdict::pass;
  fnIsDown_ = true;
  fnDownAt_ = now();
  otherKeyWhileFnDown_ = false;
  armFnHold();
  return KeyVerdict::swallow;
}

void ShortcutRecognizer::armFnHold() {
  fnHoldArmTimer_.cancel();
  fnHoldStarted_ = false;
  fnHoldArmTimer_ = mainLoop_.after(kFnHoldArmDelay, [this, alive = lifetime_.watch()] {
    if (alive.ended() || !fnIsDown_ || otherKeyWhileFnDown_) return;
    fnHoldStarted_ = true;
    log_.log("🔑 Fn held 0.35s → dictate (hold-to-talk)");
    if (actions_.trigger) actions_.trigger();
  });
}

void ShortcutRecognizer::finishFnShortcutIfNeeded() {
  fnHoldArmTimer_.cancel();
  fnHoldArmTimer_ = {};
  if (fnHoldStarted_) {
    fnHoldStarted_ = false;
    log_.log("🔑 Fn hold released → stop + insert");
    post(actions_.stop);
  } else if (fnDownAt_ && now() - *fnDownAt_ < kFnTapLimit && !otherKeyWhileFnDown_) {
    log_.log("🔑 Fn → dictate");
    post(actions_.trigger);
  }
  fnIsDown_ = false;
  fnDownAt_.reset();
  otherKeyWhileFnDown_ = false;
}

void ShortcutRecognizer::setHoldKeyDown(bool down) {
  if (down) {
    if (holdKeyIsDown_) return;  // the keyboard's auto-repeat
    holdKeyIsDown_ = true;
    holdKeyDownAt_ = now();
    holdKeyStarted_ = false;
    holdKeyArmTimer_.cancel();
    holdKeyArmTimer_ = mainLoop_.after(kHoldKeyArmDelay, [this, alive = lifetime_.watch()] {
      if (alive.ended() || !holdKeyIsDown_) return;
      holdKeyStarted_ = true;
      log_.log("🔑 hold-key held → dictate (hold-to-talk)");
      if (actions_.trigger) actions_.trigger();
    });
    return;
  }
  if (!holdKeyIsDown_) return;
  holdKeyIsDown_ = false;
  holdKeyArmTimer_.cancel();
  holdKeyArmTimer_ = {};
  if (holdKeyStarted_) {
    holdKeyStarted_ = false;
    log_.log("🔑 hold-key released → stop + insert");
    post(actions_.stop);
  } else if (holdKeyDownAt_ && now() - *holdKeyDownAt_ < kHoldKeyTapLimit) {
    log_.log("🔑 hold-key tap → dictate (toggle)");
    post(actions_.trigger);
  }
}

void ShortcutRecognizer::handleShiftDoubleTap(std::uint64_t flags) {
  const bool shiftHeld = (flags & key_flag::shift) != 0;
  if (!shiftIsDown_) {
    if (!shiftHeld) return;
    shiftIsDown_ = true;
    shiftDownAt_ = now();
    otherKeyWhileShiftDown_ = (flags & kNotShift) != 0;
    return;
  }
  if (shiftHeld) {
    if ((flags & kNotShift) != 0) otherKeyWhileShiftDown_ = true;
    return;
  }
  const double releasedAt = now();
  const bool validTap = shiftDownAt_ && !otherKeyWhileShiftDown_ && releasedAt - *shiftDownAt_ < kMaxShiftTapHold;
  shiftIsDown_ = false;
  shiftDownAt_.reset();
  otherKeyWhileShiftDown_ = false;
  if (validTap && lastShiftTapAt_ && releasedAt - *lastShiftTapAt_ < kMaxDoubleTapGap) {
    lastShiftTapAt_.reset();
    log_.log("🔑 double-Shift → dictate");
    post(actions_.trigger);
  } else if (validTap) {
    lastShiftTapAt_ = releasedAt;
  } else {
    lastShiftTapAt_.reset();
  }
}

}  // namespace quillet::dictate
