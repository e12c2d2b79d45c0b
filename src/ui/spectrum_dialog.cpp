#include "ui/spectrum_dialog.h"

#include <QLabel>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/format_fixed.h"
#include "ui/paint_area.h"

namespace brenvo {

namespace {
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kGreen(0x00, 0x80, 0x00);
constexpr int kBarStep = 6;   // pixels from one length's bar to the next
constexpr int kBarLeft = 7;   // x of length 7
constexpr int kBarWidth = 4;
constexpr int kBottom = 4;    // the bars stand on the row H - 4
}  // namespace

TSpectrumDialog::TSpectrumDialog(QWidget* parent)
    : QDialog(parent),
      FBars(new TPaintArea(this)),
      FReadoutLabel(new QLabel(QStringLiteral("____"), this)) {
  setWindowTitle(QStringLiteral("SpectrumDialog"));
  FBars->SetOpaque(true);
  FBars->OnPaint = [this](QPainter& c) { BarsPaint(c); };
  FBars->OnClick = [this](QMouseEvent&) { BarsClick(); };
  FReadoutLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
  // The readout sits on the white bars area; clicks reach the bars.
  FReadoutLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
  QPalette pal = FReadoutLabel->palette();
  pal.setColor(QPalette::WindowText, Qt::black);
  FReadoutLabel->setPalette(pal);
  resize(204, 168);
}

TSpectrumDialog::~TSpectrumDialog() = default;

void TSpectrumDialog::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  FBars->setGeometry(rect());
  constexpr int kLabelWidth = 96;
  FReadoutLabel->setGeometry(width() - kLabelWidth - 4, 2, kLabelWidth,
                             FReadoutLabel->sizeHint().height());
}

void TSpectrumDialog::UpdateDisplay(const TSingleArray&) { FBars->update(); }

void TSpectrumDialog::UpdateHisto(int32_t stopLen) {
  if (!FStopHisto.Add(stopLen)) return;
  if (FStopHisto.HistoCnt() > 10)
    FReadoutLabel->setText(QString::fromStdString(FormatFixed(FStopHisto.PeakLength(), 1) + " ms"));
  FBars->update();
}

void TSpectrumDialog::BarsClick() {
  FStopHisto.Reset();
  FReadoutLabel->setText(QString());
  FBars->update();
}

QString TSpectrumDialog::Readout() const { return FReadoutLabel->text(); }

void TSpectrumDialog::BarsPaint(QPainter& c) {
  const int w = FBars->width(), h = FBars->height();
  const int base = h - kBottom;
  c.fillRect(0, 0, w, h, Qt::white);
  for (int x : {27, 57, 87}) c.fillRect(x, 0, 1, base, kSilver);
  // Never below 0: a box lower than 7 pixels draws every bar flat.
  const double scale = std::clamp((h - 7) * 0.9 / FStopHisto.MaxCount(), 0.0, 1.0);
  for (int32_t len = TStopHisto::kMinLen; len <= TStopHisto::kMaxLen; ++len) {
    const int x = (len - TStopHisto::kMinLen) * kBarStep + kBarLeft;
    const int32_t n = FStopHisto.Count(len);
    if (n > 0) {
      const int top = base - static_cast<int>(std::nearbyint(n * scale));
      c.fillRect(x, top, kBarWidth, base - top + 1, kGreen);
    } else {
      c.fillRect(x, base, kBarWidth, 1, kSilver);
    }
  }
}

}  // namespace brenvo
