#pragma once

#include <string>

namespace quillet::platform {

// Why audio could not be read or written.
struct AudioFileError {
  std::string description;

  friend bool operator==(const AudioFileError&, const AudioFileError&) = default;
};

}  // namespace quillet::platform
