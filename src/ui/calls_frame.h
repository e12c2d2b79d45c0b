// The callsigns heard on the selected signal, best first.
#pragma once

#include <QWidget>

#include "receiver/road_links.h"

namespace brenvo {

class TCallsFrame : public QWidget, public ICallsList {
  Q_OBJECT
 public:
  explicit TCallsFrame(QWidget* Parent = nullptr);
  ~TCallsFrame() override;

  void ShowCalls(TRttyReceiver& Selected) override;
};

}  // namespace brenvo
