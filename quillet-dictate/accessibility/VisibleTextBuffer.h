#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillet::dictate {

// Collects the texts of a window's elements one line each, as the context sniffer reads them:
// without white space around them, without the applications' prompt chrome ("Type a message…"),
// and without a line repeating the one before it (a label and its value).
class VisibleTextBuffer {
 public:
  // Adds `text` as a line unless a rule above drops it.
  void append(std::string_view text);

  // User-perceived characters held, line breaks included.
  [[nodiscard]] std::size_t characterCount() const { return characterCount_; }

  [[nodiscard]] const std::string& text() const { return text_; }

  // `text` with each line trimmed of spaces and tabs, leading blank lines dropped and every run of
  // blank lines folded into one.
  [[nodiscard]] static std::string normalized(std::string_view text);

 private:
  [[nodiscard]] std::string_view lastNonEmptyLine() const;

  std::string text_;
  std::size_t characterCount_ = 0;
};

}  // namespace quillet::dictate
