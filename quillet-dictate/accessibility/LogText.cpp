#include "quillet-dictate/accessibility/LogText.h"

#include <cstdio>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {

namespace {

std::string describeNumbers(double width, double height, double x, double y) {
  char buffer[128];
  std::snprintf(buffer, sizeof(buffer), "%.0fx%.0f@%.0f,%.0f", width, height, x, y);
  return buffer;
}

}  // namespace

std::string describeRect(const platform::ScreenRect& rect) {
  return describeNumbers(rect.width, rect.height, rect.minX(), rect.minY());
}

std::string describeRect(const platform::AXRect& rect) {
  return describeNumbers(rect.size.width, rect.size.height, rect.origin.x, rect.origin.y);
}

std::string describeFlag(bool flag) { return flag ? "true" : "false"; }

std::string leadingCharacters(std::string_view text, std::size_t count) {
  std::string leading;
  std::size_t taken = 0;
  text::forEachCharacter(text, [&](std::string_view character) {
    if (taken++ < count) leading.append(character);
  });
  return leading;
}

}  // namespace quillet::dictate
