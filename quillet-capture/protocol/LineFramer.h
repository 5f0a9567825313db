#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quillet::capture {

// Cuts a byte stream into lines at line feeds, keeping an unfinished line for the next bytes.
// A line longer than the limit is reported once and its bytes are dropped up to its line feed,
// so a sender that never ends a line cannot make the buffer grow without bound.
class LineFramer {
 public:
  static constexpr std::size_t kDefaultMaximumLineBytes = 1024 * 1024;

  using LineHandler = std::function<void(std::string_view line)>;  // without its line feed; may be empty
  using OversizedHandler = std::function<void()>;

  explicit LineFramer(std::size_t maximumLineBytes = kDefaultMaximumLineBytes);

  // Feeds the next bytes of the stream, calling the handlers in stream order.
  void append(std::string_view bytes, const LineHandler& onLine, const OversizedHandler& onOversizedLine);

  // The bytes of the unfinished line (empty while an oversized line is being skipped).
  [[nodiscard]] const std::string& pending() const { return pending_; }

  [[nodiscard]] std::size_t maximumLineBytes() const { return maximumLineBytes_; }

 private:
  std::size_t maximumLineBytes_;
  std::string pending_;
  bool skippingOversizedLine_ = false;
};

}  // namespace quillet::capture
