#pragma once

#include <ostream>
#include <string>

namespace quillet::capture {

// A failure of a capture step, as a value. The program's own errors carry the domain
// "quillet.capture"; errors from a platform service keep that service's description unchanged.
struct CaptureError {
  static constexpr const char* kDomain = "quillet.capture";

  std::string domain;
  int code = 0;
  std::string text;

  static CaptureError microphoneAccessDenied();
  static CaptureError noDisplayForSystemAudio();
  static CaptureError recognizerUnsupportedLocale(const std::string& locale);
  static CaptureError recognizerUnavailable();
  // A platform service's failure, passed through with its own description.
  static CaptureError fromPlatform(std::string description);

  // The human-readable text that follows "mic start failed: " and the like.
  [[nodiscard]] const std::string& description() const { return text; }

  bool operator==(const CaptureError&) const = default;
  // Test failures then show the error instead of the object's bytes.
  friend std::ostream& operator<<(std::ostream& stream, const CaptureError& error) {
    return stream << error.domain << ' ' << error.code << " \"" << error.text << '"';
  }
};

}  // namespace quillet::capture
