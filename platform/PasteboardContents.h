#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet::platform {

// One representation the clipboard offers: a MIME type and its bytes.
struct PasteboardFormat {
  std::string mimeType;
  std::string data;

  friend bool operator==(const PasteboardFormat&, const PasteboardFormat&) = default;
};

// Everything the clipboard holds at one moment, in every format it offers, in the owner's order.
class PasteboardContents {
 public:
  // The MIME type under which plain text travels, as UTF-8.
  static constexpr std::string_view plainTextType = "text/plain";
  static constexpr std::string_view utf8PlainTextType = "text/plain;charset=utf-8";

  PasteboardContents() = default;

  // Contents holding `text` as plain text only.
  static PasteboardContents withText(std::string_view text) {
    PasteboardContents contents;
    contents.set(plainTextType, text);
    return contents;
  }

  // Adds the format, or replaces the bytes of a format already held.
  void set(std::string_view mimeType, std::string_view data) {
    for (auto& format : formats_) {
      if (format.mimeType == mimeType) {
        format.data = std::string(data);
        return;
      }
    }
    formats_.push_back({std::string(mimeType), std::string(data)});
  }

  [[nodiscard]] std::optional<std::string> data(std::string_view mimeType) const {
    for (const auto& format : formats_) {
      if (format.mimeType == mimeType) return format.data;
    }
    return std::nullopt;
  }

  // The UTF-8 plain text, from either plain-text type; nothing when the clipboard holds no text.
  [[nodiscard]] std::optional<std::string> plainText() const {
    if (auto text = data(utf8PlainTextType)) return text;
    return data(plainTextType);
  }

  [[nodiscard]] const std::vector<PasteboardFormat>& formats() const { return formats_; }
  [[nodiscard]] bool isEmpty() const { return formats_.empty(); }

  friend bool operator==(const PasteboardContents&, const PasteboardContents&) = default;

 private:
  std::vector<PasteboardFormat> formats_;
};

}  // namespace quillet::platform
