#pragma once

#include <string_view>

namespace quillet::dictate {

// What a web page tells about one of its fields, for guessing whether the user writes prose there.
struct FieldWording {
  std::string_view text{};
  std::string_view placeholder{};
  std::string_view title{};
  std::string_view help{};
  std::string_view description{};
};

// Whether a browser field reads like a place for comments, replies, messages or posts rather than a
// search or address box: its wording, joined and lower-cased, is one of the writing phrases or
// contains one of the writing words anywhere (so "ask" also matches "task").
[[nodiscard]] bool browserLooksLikeWritingSurface(const FieldWording& wording);

}  // namespace quillet::dictate
