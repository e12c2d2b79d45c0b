// A scrolling waterfall: every pushed spectrum becomes one pixel column of
// palette indices, the newest at the right edge, lower bins lower.
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>

#include "receiver/road_links.h"

class QMouseEvent;

namespace brenvo {

class TQuickWaterFall : public QWidget, public IWaterfall {
  Q_OBJECT
 public:
  explicit TQuickWaterFall(QWidget* Parent = nullptr);
  ~TQuickWaterFall() override;

  void PushSpectrum(const TSingleArray& Column) override;

  void SetFirstColor(QColor V) { FFirstColor = V; }
  void SetLastColor(QColor V) { FLastColor = V; }
  void SetGamma(float V) { FGamma = V; }
  void SetContrast(float V) { FContrast = V; }
  void SetBrightness(float V) { FBrightness = V; }
  void SetHistoryLength(int32_t V) { FHistoryLength = V; }
  void SetHistoryHeight(int32_t V) { FHistoryHeight = V; }
  void SetDragAllowed(bool V) { FDragAllowed = V; }
  void SetPseudoColors(bool V) { FPseudoColors = V; }

  // The owner's mouse-down handler (channel selection).
  std::function<void(QMouseEvent*)> OnMouseDown;

 private:
  QColor FFirstColor{0x00, 0x2D, 0x3E}, FLastColor{0x1A, 0xDB, 0xE6};
  float FGamma = 1.0f, FContrast = 4.0f, FBrightness = 0.0f;
  int32_t FHistoryLength = 3000, FHistoryHeight = 256;
  bool FDragAllowed = false, FPseudoColors = false;
};

}  // namespace brenvo
