#include "quillet-capture/protocol/CaptureError.h"

#include <utility>

namespace quillet::capture {

CaptureError CaptureError::microphoneAccessDenied() { return {kDomain, 100, "microphone access denied"}; }

CaptureError CaptureError::noDisplayForSystemAudio() {
  return {kDomain, 200, "no display available for system audio capture"};
}

CaptureError CaptureError::recognizerUnsupportedLocale(const std::string& locale) {
  return {kDomain, 1, "SFSpeechRecognizer unsupported for locale " + locale};
}

CaptureError CaptureError::recognizerUnavailable() { return {kDomain, 2, "SFSpeechRecognizer not available right now"}; }

CaptureError CaptureError::fromPlatform(std::string description) { return {"platform", 0, std::move(description)}; }

}  // namespace quillet::capture
