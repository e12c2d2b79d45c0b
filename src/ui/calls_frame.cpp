#include "ui/calls_frame.h"

namespace brenvo {

TCallsFrame::TCallsFrame(QWidget* parent) : QWidget(parent) {}
TCallsFrame::~TCallsFrame() = default;

void TCallsFrame::ShowCalls(TRttyReceiver&) {}

}  // namespace brenvo
