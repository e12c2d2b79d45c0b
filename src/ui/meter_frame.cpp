#include "ui/meter_frame.h"

#include <QFrame>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "ui/format_fixed.h"
#include "ui/paint_area.h"

namespace brenvo {

namespace {

constexpr double kMaxDb = 100.0;

// Angle of the needle, counter-clockwise from the right: 135 degrees at
// 0 dB to 45 degrees at 100 dB.
// 0 to 100 dB; a value that is no number as 0 dB, never a cast of NaN.
double NeedleAngle(double db) {
  if (std::isnan(db)) db = 0.0;
  return 3.0 * std::numbers::pi / 4.0 -
         std::numbers::pi / 2.0 * std::clamp(db, 0.0, kMaxDb) / kMaxDb;
}

QPointF OnRadius(double db, double r) {
  const double a = NeedleAngle(db);
  return {TMeterFrame::kPivot.x() + r * std::cos(a), TMeterFrame::kPivot.y() - r * std::sin(a)};
}

// The dial: a scale arc about the needle's pivot with ticks every 10 dB and
// numbers every 20 dB.
QPixmap DrawDial() {
  QPixmap dial(TMeterFrame::kDialWidth, TMeterFrame::kDialHeight);
  dial.fill(QColor(0xF6, 0xF1, 0xDC));
  QPainter c(&dial);
  c.setRenderHint(QPainter::Antialiasing);
  const QColor ink(0x30, 0x30, 0x30);
  constexpr double kArc = 66.0;
  const QPointF pivot(TMeterFrame::kPivot);
  c.setPen(QPen(ink, 1.0));
  c.drawArc(QRectF(pivot.x() - kArc, pivot.y() - kArc, 2 * kArc, 2 * kArc), 45 * 16, 90 * 16);
  // The upper end of the scale in a warm colour: a strong signal.
  c.setPen(QPen(QColor(0xC0, 0x30, 0x20), 2.0));
  c.drawArc(QRectF(pivot.x() - kArc - 1.5, pivot.y() - kArc - 1.5, 2 * kArc + 3, 2 * kArc + 3),
            45 * 16, 18 * 16);
  QFont f = c.font();
  f.setPixelSize(8);
  c.setFont(f);
  for (int db = 0; db <= 100; db += 10) {
    const bool major = db % 20 == 0;
    c.setPen(QPen(ink, major ? 1.2 : 0.8));
    c.drawLine(OnRadius(db, major ? 60.0 : 62.5), OnRadius(db, kArc));
    if (major) {
      const QPointF at = OnRadius(db, 54.0);
      c.drawText(QRectF(at.x() - 10, at.y() - 5, 20, 10), Qt::AlignCenter, QString::number(db));
    }
  }
  c.setPen(QColor(0xA0, 0xA0, 0xA0));
  c.drawRect(0, 0, TMeterFrame::kDialWidth - 1, TMeterFrame::kDialHeight - 1);
  return dial;
}

}  // namespace

TMeterFrame::TMeterFrame(QWidget* parent)
    : QWidget(parent),
      FDialPanel(new QFrame(this)),
      FHistoBox(new TPaintArea(FDialPanel)),
      FDialImage(DrawDial()) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(kBorder - 1, kBorder - 1, kBorder - 1, kBorder - 1);
  outer->addWidget(FDialPanel);
  FDialPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  FDialPanel->setLineWidth(1);
  FDialPanel->setCursor(Qt::PointingHandCursor);
  auto* inner = new QVBoxLayout(FDialPanel);
  inner->setContentsMargins(0, 0, 0, 0);
  inner->addWidget(FHistoBox);
  FHistoBox->SetOpaque(true);
  FHistoBox->OnPaint = [this](QPainter& c) { HistoBoxPaint(c); };
  // A click on the dial, or on the border around it (the frame's own handler).
  FHistoBox->OnClick = [this](QMouseEvent&) { ShowMeter(!IsMeterShowing()); };
  // When collapsed, the strip is no taller than the panel's border.
  FHistoBox->setMinimumHeight(0);
  setMinimumHeight(0);
  ShowMeter(true);
}

TMeterFrame::~TMeterFrame() = default;

void TMeterFrame::Refresh(float snr) {
  if (!std::isfinite(snr)) snr = 0.0f;
  FSnr = snr;
  FMx.Process(snr);
  if (++FAge % kPeriod == 0) {
    FDisplaySnr = FMx.Value();
    if (OnPostSMeter) OnPostSMeter(FDisplaySnr);
  }
  FHistoBox->update();
}

void TMeterFrame::ShowMeter(bool show) {
  FShowing = show;
  setFixedHeight(show ? kOpenHeight : kCollapsedHeight);
}

QPoint TMeterFrame::NeedleEnd(float snr) {
  const double a = NeedleAngle(snr);
  return {kPivot.x() + static_cast<int>(std::nearbyint(kNeedleLength * std::cos(a))),
          kPivot.y() - static_cast<int>(std::nearbyint(kNeedleLength * std::sin(a)))};
}

QString TMeterFrame::DisplayText() const {
  // A value that rounds to zero prints without a sign ("-0 dB" reads as a
  // fault); other negative values keep theirs.
  double v = FDisplaySnr;
  if (std::nearbyint(v) == 0.0) v = 0.0;
  return QString::fromStdString(FormatFixed(v, 0) + " dB");
}

void TMeterFrame::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) FLeftDown = true;
}

// The second press of a double click makes no second click (Qt would pass
// it on as a press).
void TMeterFrame::mouseDoubleClickEvent(QMouseEvent*) {}

void TMeterFrame::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const bool click = FLeftDown && rect().contains(e->position().toPoint());
  FLeftDown = false;
  if (click) ShowMeter(!IsMeterShowing());
}

void TMeterFrame::HistoBoxPaint(QPainter& c) {
  // Opaque: the area beside and below the dial is filled first.
  c.fillRect(FHistoBox->rect(), palette().color(QPalette::Window));
  c.drawPixmap(0, 0, FDialImage);
  c.setPen(QPen(Qt::red, 1));
  c.drawLine(kPivot, NeedleEnd(FSnr));
  const QString text = DisplayText();
  const QFontMetrics fm(c.font());
  const int w = fm.horizontalAdvance(text);
  const int x = (FHistoBox->width() - w) / 2;
  const int y = FHistoBox->height() - fm.height() - 3;
  c.setPen(Qt::black);
  c.drawText(QRect(x, y, w, fm.height()), Qt::AlignLeft | Qt::AlignTop, text);
}

}  // namespace brenvo
