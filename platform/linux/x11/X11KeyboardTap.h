#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/KeyboardTap.h"
#include "platform/MainLoop.h"

namespace quillet::platform::x11 {

class X11Connection;

// Every key of the X display, whichever window has focus, through XInput2 raw key events on the root window; the keys
// to swallow are grabbed up front with XGrabKey (X cannot drop an event after the fact). Key codes follow the key's
// position (the evdev numbering of X servers), not the layout. A thread of its own owns the connection: it sleeps in
// poll() until the server or the owner has something, so no key costs no wake-up; each event is posted to the main
// loop. A lost display is reported and attached again when it returns. Construct, start and destroy on the main loop's
// thread.
class X11KeyboardTap final : public KeyboardTap {
 public:
  // How often a lost display is looked for again.
  static constexpr int kReattachMilliseconds = 2000;

  // `displayName` empty means $DISPLAY.
  explicit X11KeyboardTap(MainLoop& loop, std::string displayName = {});
  ~X11KeyboardTap() override;

  X11KeyboardTap(const X11KeyboardTap&) = delete;
  X11KeyboardTap& operator=(const X11KeyboardTap&) = delete;

  Expected<void> start(Handler handler, Notice notice) override;
  void stop() override;
  void swallow(std::vector<SwallowedKey> keys, std::function<void(Expected<void>)> done) override;
  [[nodiscard]] bool hasFnKey() const override { return fnKeycode_.load() != 0; }

  // The behaviour's key code of the X key code `keycode`, by the key's position; nothing for keys without one.
  [[nodiscard]] static std::optional<std::uint16_t> virtualKeyCodeOf(unsigned keycode);

 private:
  struct SwallowRequest {
    std::vector<SwallowedKey> keys;
    std::function<void(Expected<void>)> done;
  };

  // Opens the display and asks for raw key events; the reason when either fails.
  Expected<std::unique_ptr<X11Connection>> attach() const;
  // Makes `connection` the one the thread reads, with the keyboard facts of its server.
  void adopt(std::unique_ptr<X11Connection> connection);
  // The behaviour's key code of an X key code on this server, Fn included.
  [[nodiscard]] std::uint16_t keyCodeOf(unsigned keycode) const;
  void run();
  void readEvents();
  void deliver(unsigned keycode, bool pressed);
  // Takes `keys` in place of the keys taken before; the reason when some could not be taken.
  Expected<void> grab(const std::vector<SwallowedKey>& keys);
  void ungrabAll();
  struct Receivers;
  // Runs `block` on the main loop with the owner's receivers, unless the tap has been stopped by then.
  void toOwner(std::function<void(Receivers&)> block);
  void notify(const std::string& message);
  void wake();

  MainLoop& loop_;
  std::string displayName_;
  // The X key code of the keyboard's Fn key, 0 without one; read on the main loop, set by the thread on re-attach.
  std::atomic<unsigned> fnKeycode_{0};
  int inputOpcode_ = 0;
  std::unique_ptr<X11Connection> connection_;  // the thread's alone once it runs
  int wakeReadEnd_ = -1;
  int wakeWriteEnd_ = -1;
  std::thread thread_;

  // Handed from the main loop to the thread.
  std::mutex requestsMutex_;
  std::vector<SwallowRequest> pendingSwallows_;
  bool stopping_ = false;

  // The thread's own state.
  std::vector<SwallowedKey> takenKeys_;
  std::vector<unsigned> keysDown_;
  std::uint64_t flags_ = 0;

  // Posted blocks reach the owner only while this holds handlers; stop() empties it on the main thread.
  struct Receivers {
    Handler handler;
    Notice notice;
  };
  std::shared_ptr<Receivers> receivers_;
};

}  // namespace quillet::platform::x11
