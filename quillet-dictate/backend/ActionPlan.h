#pragma once

#include <string>
#include <vector>

namespace quillet::dictate {

// One angle of a planned reply; its label is what is sent back as "angle".
struct ActionOption {
  std::string label;
  std::string why;  // a one-line reason; may be empty

  friend bool operator==(const ActionOption&, const ActionOption&) = default;
};

// The backend's reading of the situation and up to four angles, in the server's order.
struct ActionPlan {
  std::string reading;  // may be empty
  std::vector<ActionOption> options;

  friend bool operator==(const ActionPlan&, const ActionPlan&) = default;
};

}  // namespace quillet::dictate
