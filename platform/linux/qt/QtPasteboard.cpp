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

QClipboard::Mode modeOf(QtPasteboard::Selection selection) {
  return selection == QtPasteboard::Selection::primary ? QClipboard::Selection : QClipboard::Clipboard;
}

// Whether a format the owner offers is data someone could paste. X selections also list protocol
// targets (TARGETS, TIMESTAMP, MULTIPLE, SAVE_TARGETS) and toolkit-private ones such as GTK's
// GTK_TEXT_BUFFER_CONTENTS, an address inside the owner's process; Qt hands those on under names
// without a MIME type's slash, or in its own x-qt-private namespace. Written back, they would be bytes
// that mean nothing.
bool isDataFormat(const QString& format) {
  return format.contains(QLatin1Char('/')) && format != QLatin1String(kQtImageFormat) &&
         !format.startsWith(QLatin1String("application/x-qt-private"));
}

}  // namespace

PasteboardContents QtPasteboard::contents() {
  PasteboardContents contents;
  const QMimeData* data = QGuiApplication::clipboard()->mimeData(modeOf(selection_));
  if (data == nullptr) return contents;
  for (const QString& format : data->formats()) {
    if (!isDataFormat(format)) continue;
    const QByteArray bytes = data->data(format);
    contents.set(format.toStdString(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  }
  return contents;
}

void QtPasteboard::write(const PasteboardContents& contents) {
  auto* clipboard = QGuiApplication::clipboard();
  if (contents.isEmpty()) {
    clipboard->clear(modeOf(selection_));
    return;
  }
  auto* data = new QMimeData();
  for (const auto& format : contents.formats()) {
    data->setData(QString::fromStdString(format.mimeType),
                  QByteArray(format.data.data(), static_cast<qsizetype>(format.data.size())));
  }
  // The clipboard takes ownership of `data`.
  clipboard->setMimeData(data, modeOf(selection_));
}

bool QtPasteboard::holdsText(std::string_view text) {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData(modeOf(selection_));
  if (data == nullptr || !data->hasText()) return false;
  return data->text().toStdString() == text;
}

}  // namespace quillet::platform::qt
