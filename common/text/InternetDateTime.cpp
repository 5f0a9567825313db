#include "common/text/InternetDateTime.h"

#include <array>
#include <algorithm>
#include <cstdio>
#include <optional>

namespace quillet::text {
namespace {

// The digits at `text[at, at + count)` as a number; nothing unless every one is an ASCII digit.
std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t index = at; index < at + count; ++index) {
    if (text[index] < '0' || text[index] > '9') return std::nullopt;
    value = value * 10 + (text[index] - '0');
  }
  return value;
}

bool hasAt(std::string_view text, std::size_t at, char expected) { return at < text.size() && text[at] == expected; }

}  // namespace

std::string internetDateTime(std::chrono::system_clock::time_point time) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  const auto days = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day date(days);
  const std::chrono::hh_mm_ss clock(seconds - days);
  std::array<char, 32> text{};
  const int length = std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                                   unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                                   int(clock.minutes().count()), int(clock.seconds().count()));
  return std::string(text.data(), std::size_t(std::max(length, 0)));
}

Expected<std::chrono::system_clock::time_point> parsedInternetDateTime(std::string_view text) {
  const Error unreadable("not an internet date-time in whole seconds: \"" + std::string(text) + "\"");
  const auto year = digitsAt(text, 0, 4);
  const auto month = digitsAt(text, 5, 2);
  const auto day = digitsAt(text, 8, 2);
  const auto hour = digitsAt(text, 11, 2);
  const auto minute = digitsAt(text, 14, 2);
  const auto second = digitsAt(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || !hasAt(text, 4, '-') || !hasAt(text, 7, '-') ||
      !(hasAt(text, 10, 'T') || hasAt(text, 10, 't')) || !hasAt(text, 13, ':') || !hasAt(text, 16, ':')) {
    return unreadable;
  }
  const std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                                         std::chrono::day(unsigned(*day))};
  // A leap second is not representable in this clock, so 60 is out of range too.
  if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) return unreadable;

  std::chrono::minutes offset{0};
  const std::string_view zone = text.substr(19);
  if (zone == "Z" || zone == "z") {
    offset = std::chrono::minutes(0);
  } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
    const auto offsetHours = digitsAt(zone, 1, 2);
    const auto offsetMinutes = digitsAt(zone, 4, 2);
    if (!offsetHours || !offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) return unreadable;
    offset = std::chrono::hours(*offsetHours) + std::chrono::minutes(*offsetMinutes);
    if (zone[0] == '-') offset = -offset;
  } else {
    return unreadable;
  }
  const auto local = std::chrono::sys_days(date) + std::chrono::hours(*hour) + std::chrono::minutes(*minute) +
                     std::chrono::seconds(*second);
  return std::chrono::system_clock::time_point(local - offset);
}

}  // namespace quillet::text
