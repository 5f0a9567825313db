#pragma once

#include "platform/Screens.h"

namespace quillet::platform::qt {

// The screens Qt knows, turned from Qt's top-left coordinates into bottom-left ones about the
// primary screen. A QGuiApplication (or QApplication) must exist.
class QtScreens final : public Screens {
 public:
  std::vector<Screen> screens() override;
};

}  // namespace quillet::platform::qt
