#include "quillet-capture/protocol/Command.h"

#include <type_traits>

#include <nlohmann/json.hpp>

#include "common/text/UnicodeText.h"

namespace quillet::capture {

namespace {

using nlohmann::json;

// Counts bracket nesting outside strings, so the limit is checked without building anything.
bool nestsDeeperThan(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  bool insideString = false;
  bool escaped = false;
  for (const char character : text) {
    if (insideString) {
      if (escaped) {
        escaped = false;
      } else if (character == '\\') {
        escaped = true;
      } else if (character == '"') {
        insideString = false;
      }
      continue;
    }
    if (character == '"') {
      insideString = true;
    } else if (character == '{' || character == '[') {
      if (++depth > limit) return true;
    } else if ((character == '}' || character == ']') && depth > 0) {
      --depth;
    }
  }
  return false;
}

// The member's value, or nothing when it is absent or null, which count the same.
const json* presentMember(const json& object, const char* member) {
  const auto found = object.find(member);
  if (found == object.end() || found->is_null()) return nullptr;
  return &*found;
}

// Stores a present member of JSON type `Value` in `target`; any other JSON type rejects the line.
template <class Value, class Target>
Expected<void, CommandRejection> readMember(const json& object, const char* member, Target& target) {
  const json* value = presentMember(object, member);
  if (value == nullptr) return {};
  constexpr bool wantsBoolean = std::is_same_v<Value, bool>;
  if (wantsBoolean ? !value->is_boolean() : !value->is_string()) {
    return CommandRejection{std::string("member \"") + member + "\" is not " + (wantsBoolean ? "a boolean" : "a string")};
  }
  target = value->get<Value>();
  return {};
}

}  // namespace

Expected<Command, CommandRejection> Command::decode(std::string_view line) {
  if (nestsDeeperThan(line, kMaximumNestingDepth)) {
    return CommandRejection{"JSON nested deeper than " + std::to_string(kMaximumNestingDepth) + " levels"};
  }
  json object;
  try {
    object = json::parse(line);
  } catch (const json::parse_error& error) {
    // The parser quotes the bytes it stopped at, which may be ill-formed UTF-8; the description
    // travels in an event, whose text must be valid.
    return CommandRejection{text::wellFormed(error.what())};
  }
  if (!object.is_object()) return CommandRejection{"the line is not a JSON object"};

  if (presentMember(object, "cmd") == nullptr) return CommandRejection{"member \"cmd\" is missing"};
  Command command;
  for (const auto& read : {
           readMember<std::string>(object, "cmd", command.cmd),
           readMember<std::string>(object, "meetingId", command.meetingId),
           readMember<std::string>(object, "locale", command.locale),
           readMember<std::string>(object, "appBundleId", command.appBundleId),
           readMember<std::string>(object, "stagingDir", command.stagingDir),
           readMember<bool>(object, "startPaused", command.startPaused),
       }) {
    if (read.failed()) return read.error();
  }
  return command;
}

std::optional<CommandName> Command::name() const {
  if (cmd == "start") return CommandName::start;
  if (cmd == "stop") return CommandName::stop;
  return std::nullopt;
}

}  // namespace quillet::capture
