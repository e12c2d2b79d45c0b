#include "ui/marker_strip.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>

#include "receiver/rtty_channels.h"

namespace brenvo {

int32_t TMarkerStrip::BarEnd(float v, int32_t width) {
  // A contrast that is not a number, or one too large for an int, must not
  // reach a conversion: no bar, or a bar to the strip's edge.
  if (!std::isfinite(v)) return kScaleWidth;
  const double end = std::nearbyint(16.0 + 0.1 * static_cast<double>(v));
  return static_cast<int32_t>(std::clamp(end, static_cast<double>(kScaleWidth), static_cast<double>(width)));
}

void TMarkerStrip::Paint(QPainter& p, QSize size, const QPalette& pal) const {
  const int w = size.width(), h = size.height();
  p.fillRect(0, 0, w, h, kBackground);
  p.fillRect(0, 0, kScaleWidth, h, pal.color(QPalette::Button));
  p.fillRect(0, 0, 1, h, pal.color(QPalette::Light));
  p.fillRect(kScaleWidth - 1, 0, 1, h, pal.color(QPalette::Dark));

  p.setPen(QPen(kDefaultTone, 1, Qt::DotLine));
  for (int32_t bin : {DefaultMarkBin, DefaultSpaceBin}) p.drawLine(kScaleWidth, Row(bin), w, Row(bin));

  const int32_t bins = std::min<int32_t>(FftSize, static_cast<int32_t>(PeakData.size()));
  for (int32_t i = 0; i < bins; ++i) {
    const int32_t y = Row(i);
    if (y < 0 || y >= h) continue;
    const int32_t end = BarEnd(PeakData[static_cast<std::size_t>(i)], w);
    if (end > kScaleWidth) p.fillRect(kScaleWidth, y, end - kScaleWidth, 1, kPeakBar);
  }
  if (!Chans) return;

  if (ExpertMode) {
    p.setPen(QColor(0x80, 0x80, 0x80));
    for (int32_t i = 0; i < Chans->Count(); ++i) {
      const TRttyChannel& ch = Chans->Item(i);
      QColor fill;
      switch (ch.State()) {
        case csActive: fill = ch.NoActivityAge == 0 ? QColor(0x00, 0xFF, 0x00) : QColor(0xFF, 0xFF, 0x00); break;
        case csInactive: fill = QColor(0x80, 0x80, 0x80); break;
        case csDead: fill = QColor(0x00, 0x00, 0x00); break;
      }
      if (ch.State() != csActive && !DebugMode) continue;
      p.setBrush(fill);
      p.drawEllipse(0, Row(ch.MarkBin()) - 3, 6, 6);
    }
  }
  if (const TRttyChannel* sel = Chans->Selected()) {
    // Columns 9 to 14 and rows y - 3 to y + 3: a one-pixel pen draws a
    // rectangle one pixel wider and taller than its size.
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(0xFF, 0x00, 0x00));
    p.drawRect(9, Row(sel->Rx.Afc.BinM) - 3, 5, 6);
    p.setPen(QColor(0x00, 0x00, 0xFF));
    p.drawRect(9, Row(sel->Rx.Afc.BinS) - 3, 5, 6);
  }
}

}  // namespace brenvo
