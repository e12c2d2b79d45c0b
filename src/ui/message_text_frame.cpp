#include "ui/message_text_frame.h"

namespace brenvo {

TMessageTextFrame::TMessageTextFrame(QWidget* parent) : QWidget(parent) {}
TMessageTextFrame::~TMessageTextFrame() = default;

void TMessageTextFrame::Clear() { FModel.Clear(); }
void TMessageTextFrame::PutText(const TCharInfoArray& newChars, const TCharInfoArray& oldChars) {
  FModel.PutText(newChars, oldChars);
}
void TMessageTextFrame::PutQsxBar(int32_t freqHz) { FModel.PutQsxBar(freqHz); }

}  // namespace brenvo
