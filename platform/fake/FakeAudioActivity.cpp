#include "platform/fake/FakeAudioActivity.h"

namespace quillet::platform::fake {

std::vector<std::optional<std::string>> FakeAudioActivity::inputHolders() {
  ++inputHoldersRequestCount;
  return inputHolderIds;
}

std::vector<std::optional<std::string>> FakeAudioActivity::outputHolders() {
  ++outputHoldersRequestCount;
  return outputHolderIds;
}

}  // namespace quillet::platform::fake
