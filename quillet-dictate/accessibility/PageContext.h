#pragma once

#include <string>
#include <string_view>

namespace quillet::dictate {

// The visible text of the window the user works in, with what kind of application shows it;
// sent to the backend when the user asks for a reply to what is on screen.
struct PageContext {
  // The kind of application, by its raw value as the backend reads it.
  enum class AppHint { mail, chat, browser, doc, code, generic };

  // Normalised, at most maxCharacters user-perceived characters.
  std::string text;
  // The focused application's identifier; may be empty.
  std::string bundleID;
  AppHint appHint = AppHint::generic;
  // True when no text was found.
  bool isEmpty = true;

  static constexpr std::size_t maxCharacters = 8000;

  friend bool operator==(const PageContext&, const PageContext&) = default;
};

// "mail", "chat", "browser", "doc", "code" or "generic".
[[nodiscard]] std::string_view rawValue(PageContext::AppHint hint);

}  // namespace quillet::dictate
