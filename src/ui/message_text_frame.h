// A read-only view of decoded text: batches of character records become
// coloured lines with a UTC minute stamp in the gutter; the view holds text
// back while the user points into it, and tells which word or sample lies
// under the mouse.
#pragma once

#include <QWidget>

#include "receiver/message_text_model.h"
#include "receiver/road_links.h"

namespace brenvo {

class TMessageTextFrame : public QWidget, public IMessageView {
  Q_OBJECT
 public:
  explicit TMessageTextFrame(QWidget* Parent = nullptr);
  ~TMessageTextFrame() override;

  // Display switches (see TMessageTextModel).
  bool ShowCtrlChars() const { return FModel.ShowCtrlChars; }
  void SetShowCtrlChars(bool V) { FModel.ShowCtrlChars = V; }
  bool ShowSquelched() const { return FModel.ShowSquelched; }
  void SetShowSquelched(bool V) { FModel.ShowSquelched = V; }
  bool ShowCorrected() const { return FModel.ShowCorrected; }
  void SetShowCorrected(bool V) { FModel.ShowCorrected = V; }
  int32_t MaxLines() const { return FModel.MaxLines; }
  void SetMaxLines(int32_t V) { FModel.MaxLines = V; }

  void Clear();
  void PutText(const TCharInfoArray& NewChars, const TCharInfoArray& OldChars) override;
  void PutQsxBar(int32_t FreqHz) override;
  TFreezeState FreezeState() const override { return FFreezeState; }

  const TMessageTextModel& Model() const { return FModel; }

 private:
  TMessageTextModel FModel;
  TFreezeState FFreezeState = fsOff;
};

}  // namespace brenvo
