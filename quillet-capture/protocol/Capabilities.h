#pragma once

#include <string>
#include <vector>

namespace quillet::capture {

// What the "ready" event tells the host about this process's transcription.
struct Capabilities {
  std::string transcriber;                    // the engine's name
  std::vector<std::string> supportedLocales;  // advisory; "*" alone means any locale
  std::string macOSVersion;                   // the operating system's version text as the platform reports it

  bool operator==(const Capabilities&) const = default;
};

}  // namespace quillet::capture
