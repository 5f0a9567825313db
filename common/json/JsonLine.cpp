#include "common/json/JsonLine.h"

namespace quillet::json {

Expected<std::string> jsonLineText(const nlohmann::ordered_json& value) {
  std::string text;
  try {
    text = value.dump();
  } catch (const nlohmann::json::type_error& error) {
    return Error(error.what());
  }
  // Outside strings compact JSON has no "/", so every one found is inside a string and may be escaped.
  std::string escaped;
  escaped.reserve(text.size() + 8);
  for (const char character : text) {
    if (character == '/') escaped += '\\';
    escaped += character;
  }
  return escaped;
}

}  // namespace quillet::json
