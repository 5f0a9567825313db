#pragma once

#include <string>
#include <vector>

#include "platform/UrlOpener.h"

namespace quillet::platform::xdg {

// Opens the desktop's sound settings by starting the first settings program that is installed.
class XdgUrlOpener final : public UrlOpener {
 public:
  // Each candidate is a program and its arguments; the first whose program is on PATH is started.
  using Command = std::vector<std::string>;

  XdgUrlOpener();
  explicit XdgUrlOpener(std::vector<Command> soundSettingsCandidates);

  Status openSoundSettings() override;

 private:
  std::vector<Command> soundSettingsCandidates_;
};

}  // namespace quillet::platform::xdg
