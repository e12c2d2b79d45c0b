// The signal-to-noise meter beside the waterfall.
#pragma once

#include <QWidget>

#include "receiver/road_links.h"

namespace brenvo {

class TMeterFrame : public QWidget, public IMeter {
  Q_OBJECT
 public:
  explicit TMeterFrame(QWidget* Parent = nullptr);
  ~TMeterFrame() override;

  void Refresh(float FastSnrDb) override;
  // Opens (true) or collapses (false) the dial.
  void ShowMeter(bool Show);
  bool IsMeterShowing() const { return FShowing; }

 private:
  bool FShowing = true;
};

}  // namespace brenvo
