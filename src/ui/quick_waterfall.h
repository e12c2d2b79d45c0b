// A scrolling waterfall: every pushed spectrum becomes one pixel column of
// palette indices, the newest at the right edge, lower bins lower.
//
// The history is an 8-bit indexed image used as a ring of columns, so a
// palette change recolours the whole history without touching a pixel, and a
// push costs one column write, a one-pixel scroll of the window and a repaint
// of the uncovered column. User-interface thread only.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <span>

#include "receiver/road_links.h"

class QMouseEvent;

namespace brenvo {

class TQuickWaterFall : public QWidget, public IWaterfall {
  Q_OBJECT
 public:
  // The colour ramp's first and last palette index; 0..9 and 246..255 hold
  // the fixed system colours.
  static constexpr int32_t IdxB = 10;
  static constexpr int32_t IdxE = 245;
  // Palette indices of the two marker values.
  static constexpr uint8_t RedIdx = 249;   // a value of exactly 999.0
  static constexpr uint8_t GreyIdx = 247;  // a value of exactly 998.0
  // Limits of the history bitmap (columns, rows).
  static constexpr int32_t MaxHistoryLength = 100000;
  static constexpr int32_t MaxHistoryHeight = 4096;
  // A drag starts once the mouse is this many pixels from where it went down.
  static constexpr int32_t DragThreshold = 20;

  // 256 × 256 pixels, a history of 3000 columns × 256 rows, contrast 4,
  // brightness 0, gamma 1, the two-colour ramp.
  explicit TQuickWaterFall(QWidget* Parent = nullptr);
  ~TQuickWaterFall() override;

  // One column: value k goes to row HistoryHeight − 1 − k (value 0 at the
  // bottom) as IdxB + round(Contrast × v + Brightness) limited to IdxB..IdxE;
  // 999.0 draws red, 998.0 grey, a value that is not finite the ramp's first
  // entry. Values beyond HistoryHeight are dropped; a shorter column leaves
  // the rows above it as they were.
  void PushSpectrum(const TSingleArray& Spectrum) override;
  // The raw column writer: round(v × Contrast + Brightness) limited to
  // IdxB..IdxE, without the IdxB offset and without markers; writes
  // min(HistoryHeight, Count) of the Count values at Data (Count ≥ 0).
  void PushSpectrum(const float* Data, int32_t Count);
  // One column of Color dotted on the background colour (three pixels on,
  // three off, from the top).
  void PushSeparator(QColor Color);
  // The whole history in the background colour, write position 0.
  void Clear();
  // Moves the history up (Dy > 0) or down by Dy rows; the fraction is kept
  // for the next call. |Dy| ≥ HistoryHeight clears; Dy must not be NaN.
  void VertMove(float Dy);
  // Back to the newest column at the right edge.
  void ClearDrag();
  // P limited to 0 .. HistoryLength − width (0 when the history is narrower).
  int32_t CorrectDragPos(int32_t P) const;
  // The ramp from 2 to 236 colour stops spread evenly over IdxB..IdxE, each
  // stretch interpolated; no gamma, the background colour unchanged.
  void BuildCustomPalette(std::span<const QColor> Colors);

  QColor FirstColor() const { return FFirstColor; }
  void SetFirstColor(QColor V);
  QColor LastColor() const { return FLastColor; }
  void SetLastColor(QColor V);
  // Exponent on the two-colour ramp, finite and > 0.
  float Gamma() const { return FGamma; }
  void SetGamma(float V);
  // Spectrum value to ramp position; finite. Act on later pushes only.
  float Contrast() const { return FContrast; }
  void SetContrast(float V);
  float Brightness() const { return FBrightness; }
  void SetBrightness(float V);
  // Bitmap width, 1 .. MaxHistoryLength; the content is kept.
  int32_t HistoryLength() const { return FBmp.width(); }
  void SetHistoryLength(int32_t V);
  // Bitmap height, 1 .. MaxHistoryHeight; a change clears the history.
  int32_t HistoryHeight() const { return FBmp.height(); }
  void SetHistoryHeight(int32_t V);
  bool DragAllowed() const { return FDragAllowed; }
  void SetDragAllowed(bool V) { FDragAllowed = V; }
  // The fixed six-colour ramp instead of FirstColor .. LastColor.
  bool PseudoColors() const { return FPseudoColors; }
  void SetPseudoColors(bool V);
  // Rows by which the view is shifted from the bottom of the history.
  int32_t VertOffset() const { return FVertOffset; }
  void SetVertOffset(int32_t V);

  // Columns back from the newest that the right edge shows.
  int32_t DragPos() const { return FDragPos; }
  bool Dragging() const { return FDragging; }
  // The bitmap column the next push writes.
  int32_t Offset() const { return FOffset; }
  // Fills what lies outside the history.
  QColor BgColor() const { return FBgColor; }
  // The history with its colour table.
  const QImage& Bitmap() const { return FBmp; }
  // The update rectangle of the latest paint.
  QRect PaintRect() const { return FPaintRect; }

  // Events. The mouse events reach their handlers in every case but the
  // release that ends a drag.
  std::function<void()> AfterPaint;
  std::function<void()> OnDrag;
  std::function<void()> OnResize;
  std::function<void(QMouseEvent*)> OnMouseDown;
  std::function<void(QMouseEvent*)> OnMouseUp;
  std::function<void(QMouseEvent*)> OnMouseMove;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  void BuildPalette();
  void ApplyColorTable();
  void Interpolate(int32_t A, int32_t B);
  // The palette entry nearest to C (the first of equals), as the history's
  // background is written in indices.
  uint8_t NearestIndex(QColor C) const;
  // Writes IndexOf(K) for values K < N of a column (value 0 in the bottom
  // row) to the column at FOffset, then advances and scrolls.
  template <class F>
  void PushColumn(int32_t N, F&& IndexOf);

  QImage FBmp;
  QList<QRgb> FColorTable;
  QRect FPaintRect;
  int32_t FOffset = 0;
  QColor FFirstColor{0x00, 0x2D, 0x3E}, FLastColor{0x1A, 0xDB, 0xE6};
  QColor FBgColor;
  float FContrast = 4.0f, FBrightness = 0.0f, FGamma = 1.0f;
  int32_t FMouseDownX = 0;
  bool FWasMouseDown = false, FDragging = false;
  int32_t FLastDragPos = 0, FDragPos = 0;
  bool FDragAllowed = false;
  int32_t FVertOffset = 0;
  float FFracDy = 0.0f;
  bool FPseudoColors = false;
};

}  // namespace brenvo
