#include "ui/hist2d_dialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "files/data_folders.h"
#include "ui/format_fixed.h"
#include "ui/paint_area.h"

namespace brenvo {

namespace {
constexpr int kBoxSize = 513;
const QColor kMagenta(0xFF, 0x00, 0xFF);

// The index under a mouse x: 4 pixels per index from x = 2, held in the table.
int IndexAt(int x) { return std::clamp((x - 2) / 4, 0, kHist2dSize - 1); }

// A row for a value 0 .. 1 in a box h pixels high (value 1 at the top);
// values far outside are held where they cannot overflow.
int CurveRow(int h, double v) {
  if (std::isnan(v)) v = 0.0;
  return h - 1 - static_cast<int>(std::nearbyint(std::clamp(h * v, -1.0e6, 1.0e6)));
}
}  // namespace

THist2dDialog::THist2dDialog(bool debugMode, QWidget* parent, std::string fileName)
    : QDialog(parent),
      FLevelMap(new TPaintArea(this)),
      FRowCurve(new TPaintArea(this)),
      FDebugMode(debugMode),
      FFileName(std::move(fileName)) {
  setWindowTitle(QStringLiteral("Hist2dDialog"));
  setFixedSize(1056, 526);
  FLevelMap->setGeometry(4, 8, kBoxSize, kBoxSize);
  FRowCurve->setGeometry(536, 8, kBoxSize, kBoxSize);
  FLevelMap->setCursor(Qt::CrossCursor);
  FRowCurve->setCursor(Qt::CrossCursor);
  FLevelMap->SetOpaque(true);
  FRowCurve->SetOpaque(true);
  FLevelMap->OnPaint = [this](QPainter& c) { LevelMapPaint(c); };
  FRowCurve->OnPaint = [this](QPainter& c) { RowCurvePaint(c); };
  FLevelMap->OnMouseDown = [this](QMouseEvent& e) {
    FSelectedEnv = IndexAt(e.position().toPoint().x());
    FRowCurve->update();
  };
  FLevelMap->OnDblClick = [this](QMouseEvent&) {
    FTable.Clear();
    FLevelMap->update();
  };
  FRowCurve->OnMouseMove = [this](QMouseEvent& e) {
    FMouseText = QString::fromStdString("X = " + FormatFixed(IndexAt(e.position().toPoint().x()) / 2.0, 2));
    FRowCurve->update();
  };
  FRowCurve->OnClick = [this](QMouseEvent&) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(FTable.RowText(FSelectedEnv)));
  };
  if (FDebugMode) FLoadError = FTable.Load(FileName());
  FRepaintTimer.setInterval(1000);
  connect(&FRepaintTimer, &QTimer::timeout, this, [this] {
    FLevelMap->update();
    FRowCurve->update();
  });
  FRepaintTimer.start();
}

THist2dDialog::~THist2dDialog() {
  if (!FDebugMode) return;
  const std::string error = FTable.Save(FileName());
  if (error.empty()) return;
  if (OnError) {
    OnError(QString::fromStdString(error));
  } else {
    qWarning("%s", error.c_str());
  }
}

std::string THist2dDialog::FileName() const {
  return FFileName.empty() ? GetSettingsFolder() + "Hist2D.bin" : FFileName;
}

void THist2dDialog::LevelMapPaint(QPainter& c) {
  const int w = FLevelMap->width(), h = FLevelMap->height();
  c.fillRect(0, 0, w, h, Qt::black);
  const auto& palette = Hist2dPalette();
  for (int e = 0; e < kHist2dSize; ++e)
    for (int m = 0; m < kHist2dSize; ++m)
      if (FTable.Hist(e, m) > 0)
        c.fillRect(4 * e + 1, h - 4 * m - 4, 3, 3,
                   QColor::fromRgb(palette[static_cast<std::size_t>(Hist2dCellColourIndex(e, m))]));
  // The level 1.0 on both axes, and amplitude equal to expected level.
  c.fillRect(10, 0, 1, h, kMagenta);
  c.fillRect(0, h - 11, w, 1, kMagenta);
  c.setPen(kMagenta);
  c.drawLine(4, h - 1, w - 1, 0);
}

void THist2dDialog::RowCurvePaint(QPainter& c) {
  const int w = FRowCurve->width(), h = FRowCurve->height();
  const int e0 = FSelectedEnv;
  c.fillRect(0, 0, w, h, Qt::white);
  c.setPen(Qt::black);
  c.drawRect(0, 0, w - 1, h - 1);
  c.fillRect(4 * e0, 0, 1, h, Qt::black);

  QPoint counts[kHist2dSize], model[kHist2dSize];
  for (int j = 0; j < kHist2dSize; ++j) {
    counts[j] = QPoint(4 * j, CurveRow(h, static_cast<float>(5.0 * FTable.RowShare(e0, j))));
    model[j] = QPoint(4 * j, CurveRow(h, static_cast<float>(Hist2dDensity(j / 2.0f, e0 / 2.0f))));
  }
  c.setPen(QColor(0x00, 0x00, 0xFF));
  c.drawPolyline(counts, kHist2dSize);
  c.setPen(QColor(0xFF, 0x00, 0x00));
  c.drawPolyline(model, kHist2dSize);

  c.setPen(Qt::black);
  c.setBackgroundMode(Qt::TransparentMode);
  const QString env = QString::fromStdString("Env=" + FormatFixed(e0 / 2.0, 2));
  c.drawText(QRect(w - 60, 5, 100, 20), Qt::AlignLeft | Qt::AlignTop, env);
  if (!FMouseText.isEmpty()) {
    const QRect r(5, 5, c.fontMetrics().horizontalAdvance(FMouseText), c.fontMetrics().height());
    c.fillRect(r, Qt::white);
    c.drawText(r, Qt::AlignLeft | Qt::AlignTop, FMouseText);
  }
}

}  // namespace brenvo
