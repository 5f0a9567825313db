#include "platform/linux/qt/QtTerminationSignals.h"

#include <QSocketNotifier>

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace quillet::platform::qt {

namespace {

sigset_t terminationSignals() {
  sigset_t signalSet;
  sigemptyset(&signalSet);
  sigaddset(&signalSet, SIGTERM);
  sigaddset(&signalSet, SIGINT);
  return signalSet;
}

}  // namespace

void QtTerminationSignals::blockInAllThreads() {
  const sigset_t signalSet = terminationSignals();
  pthread_sigmask(SIG_BLOCK, &signalSet, nullptr);
}

QtTerminationSignals::QtTerminationSignals() {
  blockInAllThreads();
  const sigset_t signalSet = terminationSignals();
  descriptor_ = signalfd(-1, &signalSet, SFD_NONBLOCK | SFD_CLOEXEC);
  if (descriptor_ < 0) {
    std::perror("[signalSet] signalfd");
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(descriptor_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
}

QtTerminationSignals::~QtTerminationSignals() {
  notifier_.reset();
  if (descriptor_ >= 0) close(descriptor_);
}

void QtTerminationSignals::onTermination(std::function<void(int)> handler) { handler_ = std::move(handler); }

void QtTerminationSignals::drain() {
  signalfd_siginfo info{};
  while (read(descriptor_, &info, sizeof info) == ssize_t(sizeof info)) {
    if (handler_) handler_(int(info.ssi_signo));
  }
}

}  // namespace quillet::platform::qt
