// The signal-to-noise meter of the selected channel: a needle on a dial that
// follows every block, and the highest value of the last 20 blocks, printed
// and posted every 20 blocks (0.43 s). A click collapses it to a thin strip
// or opens it again.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "dsp/sliding_min_max.h"
#include "receiver/road_links.h"

class QFrame;
class QPainter;

namespace brenvo {

class TPaintArea;

class TMeterFrame : public QWidget, public IMeter {
  Q_OBJECT
 public:
  static constexpr int kDialWidth = 125;
  static constexpr int kDialHeight = 41;
  // Room around the dial inside the lowered panel, right and below.
  static constexpr int kDialMargin = 12;
  // The panel's border (4) and bevel (1) on every side.
  static constexpr int kBorder = 5;
  // The frame's size when open; the width is what the main window's right
  // panel needs for the dial to fit (any width paints correctly).
  static constexpr int kOpenWidth = kDialWidth + kDialMargin + 2 * kBorder;
  static constexpr int kOpenHeight = kDialHeight + kDialMargin + 2 * kBorder;
  static constexpr int kCollapsedHeight = 12;
  // Blocks per printed value and post, and the running maximum's window.
  static constexpr int kPeriod = 20;
  // The needle turns about a point below the dial, so only its outer part shows.
  static constexpr QPoint kPivot{61, 75};
  static constexpr int kNeedleLength = 70;

  explicit TMeterFrame(QWidget* Parent = nullptr);
  ~TMeterFrame() override;

  // Once per audio block with the selected receiver's ratio in dB.
  void Refresh(float FastSnrDb) override;
  // Opens (true) or collapses (false) the dial.
  void ShowMeter(bool Show);
  bool IsMeterShowing() const { return FShowing; }

  // The needle's end for a ratio in dB: 135 degrees (left) at 0 dB and below,
  // 45 degrees (right) at 100 dB and above, each coordinate rounded.
  static QPoint NeedleEnd(float SnrDb);

  // The value printed: the largest of the last 20 blocks as of the last
  // 20th block (0 before the first).
  float DisplaySnr() const { return FDisplaySnr; }
  QString DisplayText() const;
  // Refresh calls since creation.
  int64_t Age() const { return FAge; }
  TPaintArea* HistoBox() const { return FHistoBox; }

  // Every 20th block with the value printed (the JSON server's meter post).
  std::function<void(float Db)> OnPostSMeter;

 protected:
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

 private:
  void HistoBoxPaint(QPainter& Canvas);

  QFrame* FDialPanel;
  TPaintArea* FHistoBox;
  QPixmap FDialImage;
  TSlidingMax FMx{kPeriod};
  float FDisplaySnr = 0.0f;
  float FSnr = 0.0f;  // the latest value: the needle
  int64_t FAge = 0;
  bool FShowing = true;
  bool FLeftDown = false;
};

}  // namespace brenvo
