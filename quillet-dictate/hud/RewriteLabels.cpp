#include "quillet-dictate/hud/RewriteLabels.h"

#include <algorithm>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {

bool isDevPromptApp(std::string_view bundleId) {
  return std::find(kDevPromptApps.begin(), kDevPromptApps.end(), bundleId) != kDevPromptApps.end();
}

std::string historyModeOf(std::size_t index, const std::vector<std::string>& altLabels) {
  if (index == 0 || index - 1 >= altLabels.size()) return "original";
  return text::lowercased(altLabels[index - 1]);
}

}  // namespace quillet::dictate
