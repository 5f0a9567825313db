#include "platform/linux/qt/QtScreens.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>

namespace quillet::platform::qt {

namespace {

// Qt's y grows downwards from the top of the primary screen; ours grows upwards from its bottom.
ScreenRect bottomLeftRect(const QRect& topLeft, double primaryHeight) {
  return ScreenRect{static_cast<double>(topLeft.x()), primaryHeight - topLeft.y() - topLeft.height(),
                    static_cast<double>(topLeft.width()), static_cast<double>(topLeft.height())};
}

}  // namespace

std::vector<Screen> QtScreens::screens() {
  if (QGuiApplication::instance() == nullptr) return {};
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (primary == nullptr) return {};
  const double primaryHeight = primary->geometry().height();
  std::vector<Screen> result;
  const auto add = [&](const QScreen* screen) {
    result.push_back(Screen{bottomLeftRect(screen->geometry(), primaryHeight),
                            bottomLeftRect(screen->availableGeometry(), primaryHeight)});
  };
  add(primary);
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen != primary) add(screen);
  }
  return result;
}

}  // namespace quillet::platform::qt
