#include "platform/linux/x11/X11KeyboardTap.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "platform/linux/x11/RawInputSelection.h"
#include "platform/linux/x11/X11Connection.h"

namespace quillet::platform::x11 {
namespace {

// X key codes of the evdev numbering (the kernel's key code plus 8) and the behaviour's key code of the key in the same
// place on an ANSI keyboard. docs/key-codes.md lists the same table.
constexpr std::array<std::pair<unsigned, std::uint16_t>, 83> kPositions{{
    {38, 0},    {39, 1},    {40, 2},    {41, 3},    {43, 4},    {42, 5},    {52, 6},    {53, 7},    {54, 8},
    {55, 9},    {56, 11},   {24, 12},   {25, 13},   {26, 14},   {27, 15},   {29, 16},   {28, 17},   {10, 18},
    {11, 19},   {12, 20},   {13, 21},   {15, 22},   {14, 23},   {21, 24},   {18, 25},   {16, 26},   {20, 27},
    {17, 28},   {19, 29},   {35, 30},   {32, 31},   {30, 32},   {34, 33},   {31, 34},   {33, 35},   {36, 36},
    {46, 37},   {44, 38},   {48, 39},   {45, 40},   {47, 41},   {51, 42},   {59, 43},   {61, 44},   {57, 45},
    {58, 46},   {60, 47},   {23, 48},   {65, 49},   {49, 50},   {22, 51},   {9, 53},    {134, 54},  {133, 55},
    {50, 56},   {66, 57},   {64, 58},   {37, 59},   {62, 60},   {108, 61},  {105, 62},  {104, 76},  {67, 122},
    {68, 120},  {69, 99},   {70, 118},  {71, 96},   {72, 97},   {73, 98},   {74, 100},  {75, 101},  {76, 109},
    {95, 103},  {96, 111},  {110, 115}, {112, 116}, {119, 117}, {115, 119}, {117, 121}, {113, 123}, {114, 124},
    {116, 125}, {111, 126},
}};

constexpr std::uint16_t kFnKeyCode = 63;
// A key without a place in the table still counts as "another key" for the shortcuts.
constexpr std::uint16_t kUnknownKeyCode = 0xFFFF;

// The X modifier mask of behaviour flags: Super is Command, Alt is Option.
unsigned xModifiersOf(std::uint64_t flags) {
  unsigned mask = 0;
  if ((flags & key_flag::shift) != 0) mask |= ShiftMask;
  if ((flags & key_flag::control) != 0) mask |= ControlMask;
  if ((flags & key_flag::option) != 0) mask |= Mod1Mask;
  if ((flags & key_flag::command) != 0) mask |= Mod4Mask;
  return mask;
}

// A grab with exact modifiers must also hold with Caps Lock or Num Lock (Mod2) on, which X counts as modifiers.
constexpr std::array<unsigned, 4> kLockVariants{0, LockMask, Mod2Mask, LockMask | Mod2Mask};

std::optional<unsigned> xKeycodeOf(std::uint16_t virtualKeyCode, unsigned fnKeycode) {
  if (virtualKeyCode == kFnKeyCode && fnKeycode != 0) return fnKeycode;
  const auto found = std::find_if(kPositions.begin(), kPositions.end(),
                                  [&](const auto& position) { return position.second == virtualKeyCode; });
  if (found == kPositions.end()) return std::nullopt;
  return found->first;
}

}  // namespace

X11KeyboardTap::X11KeyboardTap(MainLoop& loop, std::string displayName)
    : loop_(loop), displayName_(std::move(displayName)) {}

X11KeyboardTap::~X11KeyboardTap() { stop(); }

std::optional<std::uint16_t> X11KeyboardTap::virtualKeyCodeOf(unsigned keycode) {
  const auto found = std::find_if(kPositions.begin(), kPositions.end(),
                                  [&](const auto& position) { return position.first == keycode; });
  if (found == kPositions.end()) return std::nullopt;
  return found->second;
}

Expected<std::unique_ptr<X11Connection>> X11KeyboardTap::attach() const {
  auto connection = X11Connection::open(displayName_);
  if (!connection) return Error("cannot open the X display");
  std::optional<int> opcode;
  if (!connection->succeeds([&](Display* display) {
        opcode = selectRootRawEvents(display, {XI_RawKeyPress, XI_RawKeyRelease});
      })) {
    return Error("the X server refused raw key events");
  }
  if (!opcode) return Error("the X server has no XInput 2.1");
  return connection;
}

Expected<void> X11KeyboardTap::start(Handler handler, Notice notice) {
  if (thread_.joinable()) return Error("the keyboard tap is already started");
  auto attached = attach();
  if (attached.failed()) return std::move(attached).error();
  adopt(std::move(attached).value());

  int wakePipe[2];
  if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return Error("cannot create the wake-up pipe");
  wakeReadEnd_ = wakePipe[0];
  wakeWriteEnd_ = wakePipe[1];
  stopping_ = false;
  receivers_ = std::make_shared<Receivers>(Receivers{std::move(handler), std::move(notice)});
  thread_ = std::thread([this] { run(); });
  return succeeded();
}

void X11KeyboardTap::adopt(std::unique_ptr<X11Connection> connection) {
  connection_ = std::move(connection);
  Display* display = connection_->display();
  int firstEvent = 0;
  int firstError = 0;
  // Asked again on every attach: a display that comes back may be another server.
  XQueryExtension(display, "XInputExtension", &inputOpcode_, &firstEvent, &firstError);
  fnKeycode_ = XKeysymToKeycode(display, XStringToKeysym("XF86Fn"));
}

void X11KeyboardTap::stop() {
  if (receivers_) *receivers_ = Receivers{};
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(requestsMutex_);
    stopping_ = true;
  }
  wake();
  thread_.join();
  ::close(wakeReadEnd_);
  ::close(wakeWriteEnd_);
  wakeReadEnd_ = wakeWriteEnd_ = -1;
}

void X11KeyboardTap::swallow(std::vector<SwallowedKey> keys, std::function<void(Expected<void>)> done) {
  if (!thread_.joinable()) {
    if (done) done(Error("the keyboard tap is not started"));
    return;
  }
  {
    const std::lock_guard lock(requestsMutex_);
    pendingSwallows_.push_back({std::move(keys), std::move(done)});
  }
  wake();
}

void X11KeyboardTap::wake() {
  const char byte = 1;
  // A full pipe already holds a wake-up the thread has yet to read.
  while (::write(wakeWriteEnd_, &byte, 1) < 0 && errno == EINTR) {
  }
}

void X11KeyboardTap::toOwner(std::function<void(Receivers&)> block) {
  loop_.post([weakReceivers = std::weak_ptr<Receivers>(receivers_), block = std::move(block)] {
    const auto receivers = weakReceivers.lock();
    // stop() empties the receivers: nothing reaches an owner that has stopped the tap.
    if (receivers && receivers->handler) block(*receivers);
  });
}

void X11KeyboardTap::notify(const std::string& message) {
  toOwner([message](Receivers& receivers) {
    if (receivers.notice) receivers.notice(message);
  });
}

void X11KeyboardTap::run() {
  while (true) {
    if (connection_) readEvents();
    const bool attached = connection_ != nullptr;
    pollfd descriptors[] = {{wakeReadEnd_, POLLIN, 0}, {attached ? connection_->fileDescriptor() : -1, POLLIN, 0}};
    // Without a display the thread looks for it again now and then; with one it sleeps until something happens.
    if (::poll(descriptors, 2, attached ? -1 : kReattachMilliseconds) < 0 && errno != EINTR) return;
    if (descriptors[0].revents != 0) {
      char drained[64];
      while (::read(wakeReadEnd_, drained, sizeof drained) > 0) {
      }
    }
    std::vector<SwallowRequest> requests;
    {
      const std::lock_guard lock(requestsMutex_);
      if (stopping_) break;
      requests.swap(pendingSwallows_);
    }
    for (auto& request : requests) {
      takenKeys_ = request.keys;
      Expected<void> taken = connection_ ? grab(takenKeys_) : Expected<void>();
      if (request.done) {
        toOwner([done = std::move(request.done), taken = std::move(taken)](Receivers&) { done(taken); });
      }
    }
    if (connection_ && connection_->isBroken()) {
      connection_.reset();
      keysDown_.clear();
      flags_ = 0;
      notify("the X display is gone; keys are looked for again when it returns");
    } else if (!connection_) {
      if (auto reattached = attach(); reattached.hasValue()) {
        adopt(std::move(reattached).value());
        const auto regrabbed = grab(takenKeys_);
        notify("the X display is back; keys are observed again");
        if (regrabbed.failed()) notify(regrabbed.error().description());
      }
    }
  }
  if (connection_) ungrabAll();
  connection_.reset();
}

void X11KeyboardTap::readEvents() {
  Display* display = connection_->display();
  // Reads what arrived without blocking; a lost server marks the connection broken instead.
  XEventsQueued(display, QueuedAfterReading);
  while (!connection_->isBroken() && XEventsQueued(display, QueuedAlready) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    // While one of our grabs is active the server sends us the keyboard's events as core events instead of raw ones; a
    // key reported both ways is told apart by the keys already down.
    if (event.type == KeyPress || event.type == KeyRelease) {
      deliver(event.xkey.keycode, event.type == KeyPress);
      continue;
    }
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->type != GenericEvent || cookie->extension != inputOpcode_ || !XGetEventData(display, cookie)) continue;
    if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
      deliver(static_cast<unsigned>(static_cast<const XIRawEvent*>(cookie->data)->detail),
              cookie->evtype == XI_RawKeyPress);
    }
    XFreeEventData(display, cookie);
  }
}

std::uint16_t X11KeyboardTap::keyCodeOf(unsigned keycode) const {
  const unsigned fnKeycode = fnKeycode_;
  if (fnKeycode != 0 && keycode == fnKeycode) return kFnKeyCode;
  return virtualKeyCodeOf(keycode).value_or(kUnknownKeyCode);
}

void X11KeyboardTap::deliver(unsigned keycode, bool pressed) {
  const std::uint16_t keyCode = keyCodeOf(keycode);
  const auto down = std::find(keysDown_.begin(), keysDown_.end(), keycode);
  const bool wasDown = down != keysDown_.end();
  if (!pressed && !wasDown) return;  // the same release reported a second way
  if (pressed && !wasDown) keysDown_.push_back(keycode);
  if (!pressed && wasDown) keysDown_.erase(down);

  KeyEvent event;
  event.keyCode = keyCode;
  if (const std::uint64_t flag = key_flag::ofModifierKey(keyCode); flag != 0) {
    if (pressed == wasDown) return;  // a modifier's auto-repeat changes nothing
    // Either key of a pair keeps its flag while the other is still held.
    std::uint64_t held = 0;
    for (const unsigned other : keysDown_) held |= key_flag::ofModifierKey(keyCodeOf(other));
    flags_ = held;
    event.type = KeyEvent::Type::flagsChanged;
    event.modifierDown = pressed;
  } else {
    event.type = pressed ? KeyEvent::Type::keyDown : KeyEvent::Type::keyUp;
    event.isRepeat = pressed && wasDown;
  }
  event.flags = flags_;
  // The verdict needs no acting on: what is swallowed was grabbed beforehand.
  toOwner([event](Receivers& receivers) { static_cast<void>(receivers.handler(event)); });
}

Expected<void> X11KeyboardTap::grab(const std::vector<SwallowedKey>& keys) {
  ungrabAll();
  std::string refused;
  for (const SwallowedKey& key : keys) {
    const auto keycode = xKeycodeOf(key.keyCode, fnKeycode_.load());
    if (!keycode) {
      refused += (refused.empty() ? "" : "; ") + std::string("key ") + std::to_string(key.keyCode) + " has no X key";
      continue;
    }
    const bool taken = connection_->succeeds([&](Display* display) {
      const Window root = DefaultRootWindow(display);
      if (!key.modifiers) {
        XGrabKey(display, static_cast<int>(*keycode), AnyModifier, root, True, GrabModeAsync, GrabModeAsync);
        return;
      }
      for (const unsigned lock : kLockVariants) {
        XGrabKey(display, static_cast<int>(*keycode), xModifiersOf(*key.modifiers) | lock, root, True, GrabModeAsync,
                 GrabModeAsync);
      }
    });
    if (!taken) {
      refused += (refused.empty() ? "" : "; ") + std::string("key ") + std::to_string(key.keyCode) +
                 " is grabbed by another program";
    }
  }
  if (!refused.empty()) return Error(refused);
  return succeeded();
}

void X11KeyboardTap::ungrabAll() {
  (void)connection_->succeeds([](Display* display) {  // nothing to do about a refusal to let go of nothing
    XUngrabKey(display, AnyKey, AnyModifier, DefaultRootWindow(display));
  });
}

}  // namespace quillet::platform::x11
