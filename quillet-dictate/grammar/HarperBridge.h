#pragma once

#include <optional>
#include <string>

namespace quillet::dictate {

// The bridge to the local grammar checker. For now it holds the checker's issue record, which the writing
// tab keeps beside the capsule's form.
class HarperBridge {
 public:
  // One issue in the checker's own form: where it lies in the checked text and what it suggests.
  struct Issue {
    int start = 0;
    int end = 0;
    std::string message;
    std::optional<std::string> replacement;
    std::string kind;

    friend bool operator==(const Issue&, const Issue&) = default;
  };
};

}  // namespace quillet::dictate
