#include "quillet-capture/protocol/ErrorCode.h"

namespace quillet::capture {

std::string_view rawValue(ErrorCode code) {
  switch (code) {
    case ErrorCode::permissionDenied:
      return "PERMISSION_DENIED";
    case ErrorCode::noMicrophone:
      return "NO_MICROPHONE";
    case ErrorCode::captureFailed:
      return "CAPTURE_FAILED";
    case ErrorCode::transcribeFailed:
      return "TRANSCRIBE_FAILED";
    case ErrorCode::invalidCommand:
      return "INVALID_COMMAND";
    case ErrorCode::localeNotSupported:
      return "LOCALE_NOT_SUPPORTED";
  }
  return "CAPTURE_FAILED";
}

}  // namespace quillet::capture
