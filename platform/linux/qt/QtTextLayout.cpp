#include "platform/linux/qt/QtTextLayout.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QString>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace quillet::platform::qt {

namespace {

QFont qtFontOf(const TextFont& font) {
  QFont qtFont = font.family.empty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont)
                                     : QFont(QString::fromStdString(font.family));
  if (font.size > 0) {
    if (font.unit == TextFont::SizeUnit::screenPoints) {
      // Screen points are device-independent pixels here.
      qtFont.setPixelSize(std::max(1, static_cast<int>(std::lround(font.size))));
    } else {
      qtFont.setPointSizeF(font.size);
    }
  }
  return qtFont;
}

}  // namespace

FontMetrics QtTextLayout::metrics(const TextFont& font) {
  const QFontMetricsF measures(qtFontOf(font));
  return FontMetrics{measures.ascent(), -measures.descent(), measures.leading()};
}

std::vector<LayoutRect> QtTextLayout::enclosingRects(const std::string& text, const TextFont& font, double boxWidth,
                                                     AXTextRange range) {
  // QString counts UTF-16 units, as the range does.
  const QString content = QString::fromStdString(text);
  const auto begin = static_cast<qsizetype>(std::clamp<std::int64_t>(range.location, 0, content.size()));
  const auto end = static_cast<qsizetype>(std::clamp<std::int64_t>(range.location + range.length, begin, content.size()));
  if (begin >= end) return {};

  // Line breaks become QChar::LineSeparator so that one layout holds every paragraph, as a text view does.
  QString laidOut = content;
  laidOut.replace(QChar(u'\n'), QChar::LineSeparator);
  QTextLayout layout(laidOut, qtFontOf(font));
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.setCacheEnabled(true);

  std::vector<LayoutRect> rects;
  double y = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLeadingIncluded(true);
    line.setLineWidth(boxWidth);
    line.setPosition(QPointF(0, y));
    y += line.height();
  }
  layout.endLayout();

  for (int index = 0; index < layout.lineCount(); ++index) {
    const QTextLine line = layout.lineAt(index);
    const qsizetype lineStart = line.textStart();
    const qsizetype lineEnd = lineStart + line.textLength();
    const qsizetype from = std::max(begin, lineStart);
    const qsizetype to = std::min(end, lineEnd);
    if (from >= to) continue;
    const double left = line.cursorToX(static_cast<int>(from));
    const double right = line.cursorToX(static_cast<int>(to));
    const double width = std::abs(right - left);
    if (width <= 0) continue;
    rects.push_back(LayoutRect{std::min(left, right), line.y(), width, line.height()});
  }
  return rects;
}

}  // namespace quillet::platform::qt
