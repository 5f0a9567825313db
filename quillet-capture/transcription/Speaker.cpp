#include "quillet-capture/transcription/Speaker.h"

namespace quillet::capture {

std::string_view rawValue(Speaker speaker) {
  switch (speaker) {
    case Speaker::you:
      return "you";
    case Speaker::others:
      return "others";
  }
  return "you";
}

}  // namespace quillet::capture
