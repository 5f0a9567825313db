#pragma once

#include <functional>
#include <string>

#include "platform/MainLoop.h"
#include "quillet-capture/program/DiagnosticSink.h"

namespace quillet::capture {

// Bounds an asynchronous step (a source's or a transcriber's stop) so that a hung platform call
// can never keep a teardown from finishing. An operation that runs out of time is abandoned, not
// cancelled: it goes on in the background and its late completion is ignored.
class Deadline {
 public:
  // The operation calls `finished` once, from any thread, when it is done.
  using Finished = std::function<void()>;
  using Operation = std::function<void(Finished finished)>;
  // Told once whether the operation finished in time: on the operation's thread when it did,
  // on the main loop when the time ran out.
  using Completion = std::function<void(bool finishedInTime)>;
  // Starts a piece of work away from the caller, so an operation that blocks cannot block it.
  using Launcher = std::function<void(std::function<void()> work)>;

  explicit Deadline(platform::MainLoop& mainLoop, DiagnosticSink diagnostics = writeToStandardError,
                    Launcher launcher = onDetachedThread);

  // Runs `operation` and tells `completion` whether it finished within `seconds`; when it did
  // not, writes "[deadline] <label> did not finish in <whole seconds>s — abandoning it (RULE 6)".
  // Negative or NaN seconds run out at once; infinite seconds never do. Callable from any thread.
  void withDeadline(double seconds, std::string label, Operation operation, Completion completion) const;

  // Runs `work` on a new detached thread.
  static void onDetachedThread(std::function<void()> work);

  // "[deadline] " + label + " did not finish in " + truncated seconds + "s — abandoning it (RULE 6)\n".
  [[nodiscard]] static std::string abandonedLine(const std::string& label, double seconds);

 private:
  platform::MainLoop& mainLoop_;
  DiagnosticSink diagnostics_;
  Launcher launcher_;
};

}  // namespace quillet::capture
