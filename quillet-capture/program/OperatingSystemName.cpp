#include "quillet-capture/program/OperatingSystemName.h"

#include <sys/utsname.h>

#include <fstream>
#include <map>
#include <sstream>

namespace quillet::capture {

namespace {

// One os-release value: shell-style, optionally quoted, with backslash escapes inside double quotes.
std::string unquoted(std::string_view value) {
  if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') || value.back() != value.front()) {
    return std::string(value);
  }
  const char quote = value.front();
  value = value.substr(1, value.size() - 2);
  std::string text;
  for (std::size_t index = 0; index < value.size(); ++index) {
    if (quote == '"' && value[index] == '\\' && index + 1 < value.size()) ++index;
    text += value[index];
  }
  return text;
}

}  // namespace

std::string operatingSystemNameFrom(std::string_view osReleaseText) {
  std::map<std::string, std::string, std::less<>> fields;
  std::istringstream lines{std::string(osReleaseText)};
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (line.empty() || line.front() == '#' || equals == std::string::npos) continue;
    fields[line.substr(0, equals)] = unquoted(std::string_view(line).substr(equals + 1));
  }
  const auto field = [&fields](std::string_view name) {
    const auto found = fields.find(name);
    return found == fields.end() ? std::string() : found->second;
  };
  std::string name = field("PRETTY_NAME");
  if (name.empty()) name = field("NAME");
  const std::string version = field("VERSION").empty() ? field("VERSION_ID") : field("VERSION");
  if (!version.empty() && name.find(version) == std::string::npos &&
      (field("VERSION_ID").empty() || name.find(field("VERSION_ID")) == std::string::npos)) {
    name += name.empty() ? version : " " + version;
  }
  return name;
}

std::string operatingSystemName(const std::filesystem::path& osRelease) {
  std::ifstream file(osRelease);
  std::ostringstream text;
  text << file.rdbuf();
  if (std::string name = operatingSystemNameFrom(text.str()); !name.empty()) return name;
  utsname system{};
  if (::uname(&system) == 0) return std::string("Linux ") + system.release;
  return "Linux";
}

}  // namespace quillet::capture
