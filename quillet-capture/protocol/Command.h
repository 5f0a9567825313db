#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/result/Expected.h"

namespace quillet::capture {

// Why an input line is not a command; `description` follows "could not parse command: ".
struct CommandRejection {
  std::string description;

  bool operator==(const CommandRejection&) const = default;
};

// The commands this program carries out; any other `cmd` value is answered as unknown.
enum class CommandName { start, stop };

// One command line from the host, with the defaults of absent (or null) members applied.
struct Command {
  // Deeper JSON is refused before it is parsed: a short line of brackets would otherwise
  // build a tree many times its own size.
  static constexpr std::size_t kMaximumNestingDepth = 32;

  std::string cmd;
  std::string meetingId = "unknown";
  std::string locale = "en-US";
  std::optional<std::string> appBundleId;
  std::optional<std::string> stagingDir;
  bool startPaused = false;

  // A JSON object with a string `cmd`; every known member present with the wrong JSON type
  // rejects the whole line, other members are ignored.
  [[nodiscard]] static Expected<Command, CommandRejection> decode(std::string_view line);

  // Which command `cmd` names, or nothing when it is not one this program knows.
  [[nodiscard]] std::optional<CommandName> name() const;

  bool operator==(const Command&) const = default;
};

}  // namespace quillet::capture
