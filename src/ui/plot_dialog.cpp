#include "ui/plot_dialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <vector>

#include "receiver/message_text_model.h"
#include "receiver/rtty_channels.h"
#include "ui/paint_area.h"

namespace brenvo {

namespace {
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kMagenta(0xFF, 0x00, 0xFF);
const QColor kGreen(0x00, 0x80, 0x00);
constexpr int kBaseMargin = 40;  // the baseline lies this far above the bottom

bool IsSettled(TStateKind k) { return k <= skSilence; }
bool IsCharEnd(TStateKind k) { return k == skStop || k == skTone || k == skSilence; }

// A distance in pixels rounded to a whole pixel; far-off values are held
// where they cannot overflow. NaN has none.
bool ToPixels(double d, int& pixels) {
  if (std::isnan(d)) return false;
  pixels = static_cast<int>(std::nearbyint(std::clamp(d, -1.0e6, 1.0e6)));
  return true;
}

// One curve of the plot: a line through the frames in order (broken where
// a value is no number), with optional dots.
struct TCurve {
  TCurve(QColor color, Qt::PenStyle style, bool dots) : Color(color), Style(style), Dots(dots) {}
  QColor Color;
  Qt::PenStyle Style;  // Qt::NoPen: dots only
  bool Dots;
  std::vector<QPoint> Points;
  std::vector<std::size_t> Breaks;  // a new segment starts at these points

  void Add(int x, bool ok, int y) {
    if (!ok) {
      Breaks.push_back(Points.size());
      return;
    }
    Points.emplace_back(x, y);
  }
  void Draw(QPainter& c) const {
    if (Style != Qt::NoPen) {
      c.setPen(QPen(Color, 1, Style));
      std::size_t from = 0;
      auto segment = [&](std::size_t to) {
        if (to > from + 1) c.drawPolyline(Points.data() + from, static_cast<int>(to - from));
        from = to;
      };
      for (std::size_t b : Breaks) segment(b);
      segment(Points.size());
    }
    if (Dots) {
      c.setPen(Qt::NoPen);
      c.setBrush(Color);
      for (const QPoint& p : Points) c.drawEllipse(QRect(p.x() - 2, p.y() - 2, 5, 5));
      c.setBrush(Qt::NoBrush);
    }
  }
};
}  // namespace

TPlotFrames PlotFrameRange(int64_t histCnt, int32_t sampleNo, int width) {
  TPlotFrames f;
  const int64_t newest = histCnt - 1;
  // The 32-bit difference to the newest frame, taken modulo 2^32, places the
  // sample number within 2^31 frames of it.
  const auto diff = static_cast<int32_t>(static_cast<uint32_t>(sampleNo) - static_cast<uint32_t>(newest));
  f.Centre = histCnt > 0 ? newest + diff : int64_t{sampleNo};
  const int64_t oldest = std::max<int64_t>(0, newest - (TRttyReceiver::kHistLength - 1));
  const int64_t half = (std::max(width, 0) / 2 + kPlotFrameStep - 1) / kPlotFrameStep;
  f.First = std::max(oldest, f.Centre - half);
  f.Last = std::min(newest, f.Centre + half);
  return f;
}

double PlotScale(int position) { return 50.0 * std::exp2(-position / 3.0); }

TPlotDialog::TPlotDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("PlotDialog"));
  auto* panel = new QFrame(this);
  FZoomBar = new QSlider(Qt::Vertical, panel);
  FPlotArea = new TPaintArea(this);
  panel->setFixedWidth(59);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(4, 4, 4, 4);
  panelLayout->addWidget(FZoomBar, 0, Qt::AlignHCenter);
  FZoomBar->setRange(-50, 50);
  FZoomBar->setValue(0);
  // Low positions at the top: moving the thumb up magnifies.
  FZoomBar->setInvertedAppearance(true);
  FZoomBar->setInvertedControls(true);
  connect(FZoomBar, &QSlider::valueChanged, this, [this] { FPlotArea->update(); });

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(FPlotArea, 1);
  layout->addWidget(panel);
  FPlotArea->SetOpaque(true);
  FPlotArea->OnPaint = [this](QPainter& c) { PlotAreaPaint(c); };
  resize(635, 322);
}

TPlotDialog::~TPlotDialog() = default;

void TPlotDialog::PlotAround(int32_t sampleNo) {
  FSampleNo = sampleNo;
  FPlotArea->update();
}

void TPlotDialog::SetChannels(const TRttyChannels* chans) {
  if (!chans) {
    History = nullptr;
    return;
  }
  History = [chans]() -> TPlotHistory {
    const TRttyChannel* sel = chans->Selected();
    if (!sel) return {};
    const TRttyReceiver* rx = &sel->Rx;
    return {rx->HistCnt(), [rx](int64_t n) -> const THistoryEntry& { return rx->GetHist(n); }};
  };
}

void TPlotDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // Along the bottom of the screen's work area, over its full width.
  if (QScreen* s = screen()) {
    const QRect full = s->geometry(), work = s->availableGeometry();
    const int frameW = frameGeometry().width() - width(), frameH = frameGeometry().height() - height();
    resize(std::max(full.width() - frameW, minimumWidth()), height());
    move(full.left(), work.top() + work.height() - height() - frameH);
  }
}

void TPlotDialog::PlotAreaPaint(QPainter& c) {
  const int w = FPlotArea->width(), h = FPlotArea->height();
  const int cx = w / 2, y0 = h - kBaseMargin;
  const double scale = PlotScale(FZoomBar->value());
  auto levelRow = [&](double v, int& row) {
    int d = 0;
    if (!ToPixels(scale * v, d)) return false;
    row = y0 - d;
    return true;
  };
  // Probabilities in the strip below the baseline.
  auto probRow = [&](double p, int& row) {
    int d = 0;
    if (!ToPixels((h - y0 - 4) * p, d)) return false;
    row = (h - 2) - d;
    return true;
  };

  c.fillRect(0, 0, w, h, Qt::white);
  c.setPen(QPen(kSilver, 1, Qt::DotLine));
  for (double v : {1.0, 5.0}) {
    int row;
    if (levelRow(v, row)) c.drawLine(0, row, w - 1, row);
  }
  c.fillRect(0, y0, w, 1, Qt::black);
  c.fillRect(cx - 2, 0, 5, h, kSilver);

  const TPlotHistory hist = History ? History() : TPlotHistory{};
  if (!hist.Entry) return;
  const TPlotFrames fr = PlotFrameRange(hist.HistCnt, FSampleNo, w);
  if (fr.Last < fr.First) return;
  auto xOf = [&](int64_t s) { return static_cast<int>((s - fr.Centre) * kPlotFrameStep + cx); };

  for (int64_t s = fr.First; s <= fr.Last; ++s)
    if (IsSettled(hist.Entry(s).Bit)) c.fillRect(xOf(s), 0, 1, h, kSilver);
  c.setPen(Qt::black);
  c.setBackgroundMode(Qt::TransparentMode);
  for (int64_t s = fr.First; s <= fr.Last; ++s) {
    const THistoryEntry& e = hist.Entry(s);
    if (!IsCharEnd(e.Bit)) continue;
    const int x = xOf(s);
    c.fillRect(x, 0, 1, h, Qt::black);
    if (e.Ch != 0)
      c.drawText(QRect(x - 12, 3, 40, h), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(Cp1252CharToUtf8(e.Ch)));
  }

  enum { kAmpM, kPredM, kEnvM, kAmpS, kPredS, kEnvS, kNflS, kProbM, kProbS, kProb, kCurveCount };
  TCurve curves[kCurveCount] = {
      {kRed, Qt::SolidLine, true},      {kRed, Qt::DotLine, false},   {kRed, Qt::DashLine, false},
      {kBlue, Qt::SolidLine, true},     {kBlue, Qt::DotLine, false},  {kBlue, Qt::DashLine, false},
      {kMagenta, Qt::SolidLine, false}, {kRed, Qt::SolidLine, false}, {kBlue, Qt::SolidLine, false},
      {kGreen, Qt::NoPen, true},
  };
  for (int64_t s = fr.First; s <= fr.Last; ++s) {
    const THistoryEntry& e = hist.Entry(s);
    const int x = xOf(s);
    const double levels[] = {e.AmpM,
                             (static_cast<double>(e.EnvM) - e.NflM) * e.Shp + e.NflM,
                             e.EnvM,
                             e.AmpS,
                             (static_cast<double>(e.EnvS) - e.NflS) * (1.0 - e.Shp) + e.NflS,
                             e.EnvS,
                             e.NflS};
    for (int k = kAmpM; k <= kNflS; ++k) {
      int row = 0;
      const bool ok = levelRow(levels[k], row);
      curves[k].Add(x, ok, row);
    }
    const double probs[] = {e.ProbM, e.ProbS, e.Prob};
    for (int k = kProbM; k <= kProb; ++k) {
      int row = 0;
      const bool ok = probRow(probs[k - kProbM], row);
      curves[k].Add(x, ok, row);
    }
  }
  for (const TCurve& cv : curves) cv.Draw(c);
}

}  // namespace brenvo
