#include "platform/linux/qt/QtMainLoop.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillet::platform::qt {

namespace {

int toMilliseconds(double seconds) {
  // QTimer takes an int of milliseconds; longer delays are clamped (about 24 days).
  const double milliseconds = std::clamp(seconds * 1000.0, 0.0, double(std::numeric_limits<int>::max()));
  return int(std::llround(milliseconds));
}

}  // namespace

QtMainLoop::QtMainLoop() : context_(std::make_unique<QObject>()) {}

QtMainLoop::~QtMainLoop() = default;

void QtMainLoop::post(Block block) {
  QMetaObject::invokeMethod(context_.get(), std::move(block), Qt::QueuedConnection);
}

Timer QtMainLoop::after(double seconds, Block block) { return schedule(seconds, std::move(block), false); }

Timer QtMainLoop::every(double seconds, Block block) { return schedule(seconds, std::move(block), true); }

Timer QtMainLoop::schedule(double seconds, Block block, bool repeating) {
  auto state = std::make_shared<Timer::State>();
  auto* timer = new QTimer(context_.get());
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(!repeating);
  timer->setInterval(toMilliseconds(seconds));
  QObject::connect(timer, &QTimer::timeout, timer, [timer, state, block = std::move(block), repeating] {
    if (state->cancelled) return;
    if (!repeating) {
      state->finished = true;
      timer->deleteLater();
    }
    block();
  });
  state->release = [guardedTimer = QPointer<QTimer>(timer)] {
    if (!guardedTimer) return;
    guardedTimer->stop();
    guardedTimer->deleteLater();
  };
  timer->start();
  return Timer(state);
}

int QtMainLoop::run() { return QCoreApplication::exec(); }

void QtMainLoop::quit(int status) {
  QMetaObject::invokeMethod(context_.get(), [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
}

}  // namespace quillet::platform::qt
