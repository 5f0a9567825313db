#include "quillet-dictate/shell/WritingStyle.h"

namespace quillet::dictate {

std::string_view subtitle(WritingStyle style) {
  switch (style) {
    case WritingStyle::originalVoice:
      return "Fix errors only. Never rephrase. Keep your exact words and rhythm.";
    case WritingStyle::clear:
      return "Fix errors + improve readability while keeping your phrasing.";
    case WritingStyle::professional:
      return "Adapt for formal writing (emails, docs), still sounds like you.";
    case WritingStyle::casual:
      return "Keep it conversational and natural. Light touch.";
    case WritingStyle::concise:
      return "Fix errors + tighten wordy sentences. Say more with less.";
  }
  return {};
}

}  // namespace quillet::dictate
