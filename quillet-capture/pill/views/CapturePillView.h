#pragma once

#include <QPoint>
#include <QWidget>

#include "platform/Screens.h"
#include "quillet-capture/pill/CapturePillPanel.h"
#include "quillet-capture/pill/PillWindow.h"

class QPushButton;
class QLabel;

namespace quillet::capture {

// The pill as a frameless floating Qt window that never takes focus: it draws the panel's pulse and
// pause state and hands its two buttons to the panel. Dragged by its background.
class CapturePillView final : public QWidget, public PillWindow {
 public:
  explicit CapturePillView(platform::Screens& screens);

  // Connects the view to the panel it shows; the panel must outlive the view's use of it.
  void attach(CapturePillPanel& panel);

  [[nodiscard]] PillOrigin origin() const override;
  void setOrigin(PillOrigin origin) override;
  void orderFront() override;
  void orderOut() override;
  [[nodiscard]] bool isVisible() const override { return QWidget::isVisible(); }

  // What the buttons and title show now, for tests.
  [[nodiscard]] QPushButton* primaryButton() const { return primary_; }
  [[nodiscard]] QPushButton* secondaryButton() const { return secondary_; }
  [[nodiscard]] QString title() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void refresh();
  // Qt places windows from the top-left of the primary screen; the pill's origin is its bottom-left corner
  // with y growing upwards.
  [[nodiscard]] double primaryHeight() const;

  platform::Screens& screens_;
  CapturePillPanel* panel_ = nullptr;
  QLabel* title_ = nullptr;
  QPushButton* primary_ = nullptr;
  QPushButton* secondary_ = nullptr;
  QPoint dragOffset_;
};

}  // namespace quillet::capture
