#include "quillet-dictate/history/VoiceHistoryJson.h"

#include <nlohmann/json.hpp>

#include <string>

#include "common/text/InternetDateTime.h"

namespace quillet::dictate {
namespace {

using OrderedJson = nlohmann::ordered_json;

// The member `name` of `object` as a string; fails when it is missing or not a string.
Expected<std::string> stringMember(const nlohmann::json& object, const char* name, std::size_t index) {
  const auto found = object.find(name);
  if (found == object.end()) return Error("item " + std::to_string(index) + " has no \"" + name + "\"");
  if (!found->is_string()) return Error("item " + std::to_string(index) + "'s \"" + name + "\" is not a string");
  return found->get<std::string>();
}

Expected<VoiceHistoryItem> decodedItem(const nlohmann::json& object, std::size_t index) {
  if (!object.is_object()) return Error("item " + std::to_string(index) + " is not an object");
  auto id = stringMember(object, "id", index);
  if (id.failed()) return id.error();
  auto timestampText = stringMember(object, "timestamp", index);
  if (timestampText.failed()) return timestampText.error();
  auto timestamp = text::parsedInternetDateTime(timestampText.value());
  if (timestamp.failed()) return Error("item " + std::to_string(index) + ": " + timestamp.error().description());
  auto itemText = stringMember(object, "text", index);
  if (itemText.failed()) return itemText.error();
  VoiceHistoryItem item{std::move(id).value(), timestamp.value(), std::move(itemText).value(), std::nullopt};
  // An absent or null mode is no mode, as the host's decoder reads it.
  if (const auto mode = object.find("mode"); mode != object.end() && !mode->is_null()) {
    if (!mode->is_string()) return Error("item " + std::to_string(index) + "'s \"mode\" is not a string");
    item.mode = mode->get<std::string>();
  }
  return item;
}

}  // namespace

platform::DefaultsData VoiceHistoryJson::encoded(const std::vector<VoiceHistoryItem>& items) {
  OrderedJson array = OrderedJson::array();
  for (const auto& item : items) {
    OrderedJson object;
    object["id"] = item.id;
    object["timestamp"] = text::internetDateTime(item.timestamp);
    object["text"] = item.text;
    if (item.mode) object["mode"] = *item.mode;
    array.push_back(std::move(object));
  }
  const std::string json = array.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
  return platform::DefaultsData(json.begin(), json.end());
}

Expected<std::vector<VoiceHistoryItem>> VoiceHistoryJson::decoded(const platform::DefaultsData& data) {
  const auto json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
  if (json.is_discarded()) return Error("the stored history is not JSON");
  if (!json.is_array()) return Error("the stored history is not a JSON array");
  std::vector<VoiceHistoryItem> items;
  items.reserve(json.size());
  for (std::size_t index = 0; index < json.size(); ++index) {
    auto item = decodedItem(json[index], index);
    if (item.failed()) return item.error();
    items.push_back(std::move(item).value());
  }
  return items;
}

}  // namespace quillet::dictate
