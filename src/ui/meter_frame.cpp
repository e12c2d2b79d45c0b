#include "ui/meter_frame.h"

namespace brenvo {

TMeterFrame::TMeterFrame(QWidget* parent) : QWidget(parent) { setMinimumSize(125, 41); }
TMeterFrame::~TMeterFrame() = default;

void TMeterFrame::Refresh(float) {}
void TMeterFrame::ShowMeter(bool show) { FShowing = show; }

}  // namespace brenvo
