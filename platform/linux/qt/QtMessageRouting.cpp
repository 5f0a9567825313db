#include "platform/linux/qt/QtMessageRouting.h"

#include <QString>
#include <QtGlobal>

#include <mutex>
#include <utility>

namespace quillet::platform::qt {

namespace {

// Qt's handler is a plain function, so the sink lives here; messages may come from any thread.
struct Route {
  std::mutex mutex;
  std::function<void(std::string_view line)> sink;
  std::string tag;
};

Route& route() {
  // Never destroyed: Qt may still report something while the program's statics go away.
  static auto* instance = new Route;
  return *instance;
}

void forward(QtMsgType /*type*/, const QMessageLogContext& /*context*/, const QString& message) {
  const std::string text = message.toStdString();
  Route& current = route();
  std::lock_guard lock(current.mutex);
  if (!current.sink) return;
  std::string_view rest(text);
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    if (!line.empty()) current.sink(current.tag + std::string(line) + "\n");
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
}

}  // namespace

void routeQtMessages(std::function<void(std::string_view line)> sink, std::string tag) {
  {
    Route& current = route();
    std::lock_guard lock(current.mutex);
    current.sink = std::move(sink);
    current.tag = std::move(tag);
  }
  qInstallMessageHandler(forward);
}

}  // namespace quillet::platform::qt
