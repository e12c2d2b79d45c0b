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
    : QDialog(parent), FPaintBox1(new TPaintArea(this)), FLabel1(new QLabel(QStringLiteral("____"), this)) {
  setWindowTitle(QStringLiteral("SpectrumDialog"));
  FPaintBox1->SetOpaque(true);
  FPaintBox1->OnPaint = [this](QPainter& c) { PaintBox1Paint(c); };
  FPaintBox1->OnClick = [this](QMouseEvent&) { PaintBox1Click(); };
  FLabel1->setAlignment(Qt::AlignRight | Qt::AlignTop);
  // The readout sits on the white bars area; clicks reach the bars.
  FLabel1->setAttribute(Qt::WA_TransparentForMouseEvents);
  QPalette pal = FLabel1->palette();
  pal.setColor(QPalette::WindowText, Qt::black);
  FLabel1->setPalette(pal);
  resize(204, 168);
}

TSpectrumDialog::~TSpectrumDialog() = default;

void TSpectrumDialog::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  FPaintBox1->setGeometry(rect());
  constexpr int kLabelWidth = 96;
  FLabel1->setGeometry(width() - kLabelWidth - 4, 2, kLabelWidth, FLabel1->sizeHint().height());
}

void TSpectrumDialog::UpdateDisplay(const TSingleArray&) { FPaintBox1->update(); }

void TSpectrumDialog::UpdateHisto(int32_t stopLen) {
  if (!FStopHisto.Add(stopLen)) return;
  if (FStopHisto.HistoCnt() > 10)
    FLabel1->setText(QString::fromStdString(FormatFixed(FStopHisto.PeakLength(), 1) + " ms"));
  FPaintBox1->update();
}

void TSpectrumDialog::PaintBox1Click() {
  FStopHisto.Reset();
  FLabel1->setText(QString());
  FPaintBox1->update();
}

QString TSpectrumDialog::Readout() const { return FLabel1->text(); }

void TSpectrumDialog::PaintBox1Paint(QPainter& c) {
  const int w = FPaintBox1->width(), h = FPaintBox1->height();
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
