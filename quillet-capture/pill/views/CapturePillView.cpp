#include "quillet-capture/pill/views/CapturePillView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace quillet::capture {

namespace {

const QColor kTeal = QColor::fromRgbF(0.651F, 0.902F, 0.902F);
const QColor kInk = QColor::fromRgbF(0.11F, 0.11F, 0.102F);
const QColor kRecording = QColor::fromRgbF(0.898F, 0.282F, 0.302F);
const QColor kPaused = QColor::fromRgbF(0.902F, 0.62F, 0.216F);

// Left of the title: the grip, then the status dot.
constexpr double kDotCentreX = 52;
constexpr double kDotDiameter = 8;
constexpr double kHaloDiameter = 10;

QString buttonStyle(const QColor& background, const QColor& text) {
  return QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 17px; padding: 0 18px; "
                        "font-weight: 600; min-height: 34px; }")
      .arg(background.name(), text.name());
}

}  // namespace

CapturePillView::CapturePillView(platform::Screens& screens)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      screens_(screens) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TranslucentBackground);
  setFixedSize(int(PillPlacement::kWidth), int(PillPlacement::kHeight));

  title_ = new QLabel(this);
  QFont titleFont = title_->font();
  titleFont.setWeight(QFont::DemiBold);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
  title_->setFont(titleFont);
  title_->setStyleSheet(QStringLiteral("color: %1;").arg(kInk.name()));
  primary_ = new QPushButton(this);
  secondary_ = new QPushButton(this);
  for (QPushButton* button : {primary_, secondary_}) button->setFocusPolicy(Qt::NoFocus);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(int(kDotCentreX + 18), 0, 24, 0);
  layout->setSpacing(10);
  layout->addWidget(title_, 1);
  layout->addWidget(primary_);
  layout->addWidget(secondary_);
}

void CapturePillView::attach(CapturePillPanel& panel) {
  panel_ = &panel;
  panel.pulse().onPhaseChanged = [this] { update(); };
  panel.pauseState().onChange = [this] { refresh(); };
  QObject::connect(primary_, &QPushButton::clicked, this, [this] { panel_->primaryPressed(); });
  QObject::connect(secondary_, &QPushButton::clicked, this, [this] { panel_->secondaryPressed(); });
  refresh();
}

void CapturePillView::refresh() {
  if (panel_ == nullptr) return;
  const auto content = panel_->pauseState().content();
  title_->setText(QString::fromStdString(content.title));
  primary_->setText(QString::fromStdString(content.primaryIcon.empty() ? content.primaryLabel : "❚❚  " + content.primaryLabel));
  primary_->setToolTip(QString::fromStdString(content.primaryTooltip));
  secondary_->setText(QString::fromStdString(content.secondaryLabel));
  secondary_->setToolTip(QString::fromStdString(content.secondaryTooltip));
  // In the paused states the primary button is dark with teal text; while recording it is plain.
  primary_->setStyleSheet(content.dotPaused ? buttonStyle(kInk, kTeal) : buttonStyle(Qt::white, kInk));
  secondary_->setStyleSheet(buttonStyle(Qt::white, kInk));
  update();
}

QString CapturePillView::title() const { return title_->text(); }

double CapturePillView::primaryHeight() const { return screens_.primaryScreenHeight().value_or(0); }

PillOrigin CapturePillView::origin() const {
  return PillOrigin{double(pos().x()), primaryHeight() - double(pos().y()) - PillPlacement::kHeight};
}

void CapturePillView::setOrigin(PillOrigin origin) {
  move(int(std::lround(origin.x)), int(std::lround(primaryHeight() - origin.y - PillPlacement::kHeight)));
}

void CapturePillView::orderFront() {
  show();
  raise();
}

void CapturePillView::orderOut() { hide(); }

void CapturePillView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF bounds = rect();
  QPainterPath capsule;
  capsule.addRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
  painter.fillPath(capsule, kTeal);

  // The grip: three rows of two small dots.
  QColor grip = kInk;
  grip.setAlphaF(0.32F);
  painter.setPen(Qt::NoPen);
  painter.setBrush(grip);
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 2; ++column) {
      painter.drawEllipse(QPointF(22 + column * 6, bounds.center().y() - 6 + row * 6), 1.5, 1.5);
    }
  }

  if (panel_ == nullptr) return;
  const QPointF dotCentre(kDotCentreX, bounds.center().y());
  const bool paused = panel_->pauseState().content().dotPaused;
  if (!paused) {
    const double phase = panel_->pulse().phase();
    QColor halo = kRecording;
    halo.setAlphaF(float(0.7 * (1 - phase)));
    const double haloRadius = kHaloDiameter * (1 + 1.2 * phase) / 2;
    painter.setBrush(halo);
    painter.drawEllipse(dotCentre, haloRadius, haloRadius);
  }
  painter.setBrush(paused ? kPaused : kRecording);
  painter.drawEllipse(dotCentre, kDotDiameter / 2, kDotDiameter / 2);
}

void CapturePillView::mousePressEvent(QMouseEvent* event) {
  dragOffset_ = event->globalPosition().toPoint() - pos();
}

void CapturePillView::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
}

}  // namespace quillet::capture
