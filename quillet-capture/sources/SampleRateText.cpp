#include "quillet-capture/sources/SampleRateText.h"

#include <charconv>
#include <cmath>

namespace quillet::capture {

std::string sampleRateText(double rate) {
  char digits[64];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, rate);
  std::string text(digits, error == std::errc() ? end : digits);
  // The shortest form drops ".0" from whole numbers; the lines keep it.
  if (std::isfinite(rate) && text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

}  // namespace quillet::capture
