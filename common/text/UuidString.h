#pragma once

#include <string>

namespace quillet::text {

// A new random (version 4) UUID in the usual upper-case 8-4-4-4-12 form.
std::string newUuidString();

}  // namespace quillet::text
