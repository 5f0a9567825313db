#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "quillet-capture/sources/AudioChunk.h"
#include "quillet-capture/protocol/Capabilities.h"
#include "quillet-capture/transcription/Chunk.h"
#include "quillet-capture/protocol/Command.h"
#include "quillet-capture/protocol/ErrorCode.h"

namespace quillet::capture {

// One line of the host's event stream; "type" names the case.
class Event {
 public:
  struct Ready {
    Capabilities capabilities;
    bool operator==(const Ready&) const = default;
  };
  struct Started {
    std::int64_t epochMs = 0;  // wall time of the capture start, milliseconds since 1970 UTC
    bool operator==(const Started&) const = default;
  };
  struct Error {
    ErrorCode code = ErrorCode::captureFailed;
    std::string message;
    bool fatal = false;
    bool operator==(const Error&) const = default;
  };
  struct Stopped {
    std::string reason;  // "command", "user-stopped", "signal" or "both-silent"
    bool operator==(const Stopped&) const = default;
  };
  using Payload = std::variant<Ready, Started, Chunk, AudioChunk, Error, Stopped>;

  static Event ready(Capabilities capabilities);
  // The start instant in milliseconds since the epoch, truncated toward zero.
  static Event started(std::chrono::system_clock::time_point startedAt);
  static Event chunk(Chunk chunk);
  static Event audio(AudioChunk audioChunk);
  static Event error(ErrorCode code, std::string message, bool fatal);
  static Event stopped(std::string reason);

  // The answer to a line that is not a command.
  static Event invalidCommand(const CommandRejection& rejection);
  // The answer to a command whose `cmd` this program does not know.
  static Event unknownCommand(const std::string& cmd);

  // "type" first, then the case's members in the host's order.
  [[nodiscard]] nlohmann::ordered_json json() const;

  [[nodiscard]] const Payload& payload() const { return payload_; }

  bool operator==(const Event&) const = default;

 private:
  explicit Event(Payload payload) : payload_(std::move(payload)) {}

  Payload payload_;
};

}  // namespace quillet::capture
