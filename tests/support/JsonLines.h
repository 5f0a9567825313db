#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quillet::test {

// The whole lines of a program's output so far; a line still being written is left out.
inline std::vector<std::string> wholeLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!stream.eof()) lines.push_back(line);
  }
  return lines;
}

// Reads a program's JSON-line output as a host does: `readMore` waits a little for more of it and
// `text` is everything read so far.
class JsonLineReader {
 public:
  JsonLineReader(std::function<void()> readMore, std::function<const std::string&()> text)
      : readMore_(std::move(readMore)), text_(std::move(text)) {}

  [[nodiscard]] std::vector<std::string> lines() {
    readMore_();
    return wholeLines(text_());
  }

  // The first line after the first `after` ones that parses and satisfies `wanted`; nothing on timeout.
  std::optional<nlohmann::json> waitFor(std::size_t after, const std::function<bool(const nlohmann::json&)>& wanted,
                                        std::chrono::seconds patience = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto all = lines();
      for (std::size_t index = after; index < all.size(); ++index) {
        const auto line = nlohmann::json::parse(all[index], nullptr, false);
        if (!line.is_discarded() && wanted(line)) return line;
      }
    }
    return std::nullopt;
  }

 private:
  std::function<void()> readMore_;
  std::function<const std::string&()> text_;
};

}  // namespace quillet::test
