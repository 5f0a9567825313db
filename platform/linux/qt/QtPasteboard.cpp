#include "platform/linux/qt/QtPasteboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>
#include <QStringList>

namespace quillet::platform::qt {

namespace {

// Qt adds this format to every image it can decode; it names Qt's own conversion, not something the
// owner offered, and the image's real formats are read anyway.
constexpr const char* kQtImageFormat = "application/x-qt-image";

QClipboard* clipboard() { return QGuiApplication::clipboard(); }

}  // namespace

PasteboardContents QtPasteboard::contents() {
  PasteboardContents contents;
  const QMimeData* data = clipboard()->mimeData(QClipboard::Clipboard);
  if (data == nullptr) return contents;
  for (const QString& format : data->formats()) {
    if (format == QLatin1String(kQtImageFormat)) continue;
    const QByteArray bytes = data->data(format);
    contents.set(format.toStdString(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  }
  return contents;
}

void QtPasteboard::write(const PasteboardContents& contents) {
  if (contents.isEmpty()) {
    clipboard()->clear(QClipboard::Clipboard);
    return;
  }
  auto* data = new QMimeData();
  for (const auto& format : contents.formats()) {
    data->setData(QString::fromStdString(format.mimeType),
                  QByteArray(format.data.data(), static_cast<qsizetype>(format.data.size())));
  }
  // The clipboard takes ownership of `data`.
  clipboard()->setMimeData(data, QClipboard::Clipboard);
}

bool QtPasteboard::holdsText(std::string_view text) {
  const QMimeData* data = clipboard()->mimeData(QClipboard::Clipboard);
  if (data == nullptr || !data->hasText()) return false;
  return data->text().toStdString() == text;
}

}  // namespace quillet::platform::qt
