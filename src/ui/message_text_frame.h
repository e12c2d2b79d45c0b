// A read-only view of decoded text: batches of character records become
// coloured lines with a UTC minute stamp in the gutter; the view holds text
// back while the user points into it, and tells which word or sample lies
// under the mouse.
//
// The toolkit-free TMessageTextModel keeps the lines with a format, sample
// number and UTC time per character; the editor's document follows it edit
// by edit (appends and deletes at the end, the oldest line at the top), so a
// batch costs the same however long the text is.
#pragma once

#include <QColor>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "receiver/message_text_model.h"
#include "receiver/road_links.h"

class QFrame;
class QLabel;
class QMouseEvent;
class QTimer;
class QsciScintilla;

namespace brenvo {

class TMessageHighlighter;

class TMessageTextFrame : public QWidget, public IMessageView {
  Q_OBJECT
 public:
  static constexpr int kFreezeMs = 500;
  // The view's least height at small fonts; at larger ones it holds one
  // whole line, and the status all its lines.
  static constexpr int kLeastHeight = 30;

  explicit TMessageTextFrame(QWidget* Parent = nullptr);
  ~TMessageTextFrame() override;

  // Display switches (see TMessageTextModel); the main window sets them
  // before text arrives, or clears and redraws after a change.
  bool ShowCtrlChars() const { return FModel.ShowCtrlChars; }
  void SetShowCtrlChars(bool V) { FModel.ShowCtrlChars = V; }
  bool ShowSquelched() const { return FModel.ShowSquelched; }
  void SetShowSquelched(bool V) { FModel.ShowSquelched = V; }
  bool ShowCorrected() const { return FModel.ShowCorrected; }
  void SetShowCorrected(bool V) { FModel.ShowCorrected = V; }
  // Lines above which a batch first drops the oldest line (100).
  int32_t MaxLines() const { return FModel.MaxLines; }
  void SetMaxLines(int32_t V) { FModel.MaxLines = V; }
  // Text font size in points (13 pixels at start).
  int32_t FontSize() const;
  void SetFontSize(int32_t Points);

  // Empties the text and drops held-back batches; the pause state stays.
  void Clear();
  void PutText(const TCharInfoArray& NewChars, const TCharInfoArray& OldChars) override;
  // Drawn at once whatever the pause state; batches held back until then are
  // drawn first, so that the bar follows them.
  void PutQsxBar(int32_t FreqHz) override;
  TFreezeState FreezeState() const override { return FFreezeState; }
  // Sets the rim colour, then the state (no batch is drawn by it).
  void SetFreezeState(TFreezeState V);
  QColor RimColor() const;
  // Fires kFreezeMs after the last mouse move and ends the pause.
  const QTimer& FreezeTimer() const { return *FFreezeTimer; }

  // Queries about the character under the mouse (its last position seen
  // over the text): its SampleNo (-1 beside the text), and the word around
  // it with its kind and the offset of the clicked character in it ("",
  // ctNone, 0 beside the text; an empty word beeps).
  int32_t SampleNoUnderMouse() const;
  std::string WordUnderMouse() const;
  TStateType WordTypeUnderMouse() const;
  int32_t WordClickPos() const;
  // The same at a point of the text area.
  int32_t SampleNoAt(QPoint Pos) const;
  TWordPick WordAt(QPoint Pos) const;

  // Display rows (wrapped lines count each row), the first row in sight
  // (from 0) and the rows the window holds.
  int64_t DisplayLineCount() const;
  int64_t TopLine() const;
  void SetTopLine(int64_t Row);
  int64_t LinesInWindow() const;

  // A mouse button went down over the text, the second press of a double
  // click too (its event's type says which); the position is noted before.
  std::function<void(const QMouseEvent& Event)> OnMouseDown;
  // The beep of an empty word; null: QApplication::beep.
  std::function<void()> OnBeep;

  // A status text (the engine link's "Not Connected") in place of the
  // text; an empty one shows the text again. The label shows it wrapped,
  // each word too wide for a line shortened in its middle; StatusText is
  // the whole text.
  void ShowStatus(const std::string& Text);
  QString StatusText() const;
  const QLabel* StatusLabel() const { return FStatus; }
  // Room above the status (for a name shown over the view's corner).
  void SetStatusTopMargin(int Pixels);

  const TMessageTextModel& Model() const { return FModel; }
  QsciScintilla* Syn() const { return FSyn; }

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  void RenderChars(const TCharInfoArray& NewChars, const TCharInfoArray& OldChars);
  void HoldBack(const TCharInfoArray& NewChars, const TCharInfoArray& OldChars);
  void FlushFrozen();
  void Unfreeze();
  void ApplyEdit(TTextEdit Edit, uint8_t Ch);
  void WriteTail();
  // Runs a change of the model with the document open for writing, then
  // fixes the gutter; through KeepTheEnd.
  template <class F>
  void Edit(F&& Change);
  // Runs a change that may move the rows (an edit, a new size or font),
  // then brings the last row into sight when it was followed.
  template <class F>
  void KeepTheEnd(F&& Change);
  bool EndInSight() const;
  // After a scroll (the user's, or SetTopLine's): the end is followed from
  // here on when it is in sight.
  void Scrolled();
  void FitOneLine();
  bool PositionAt(QPoint Pos, int64_t& Line, int64_t& Char) const;
  long Send(unsigned int Msg, unsigned long W = 0, long L = 0) const;

  TMessageTextModel FModel;
  QFrame* FFreezePanel = nullptr;
  QsciScintilla* FSyn = nullptr;
  QLabel* FStatus = nullptr;
  TMessageHighlighter* FHil = nullptr;
  QTimer* FFreezeTimer = nullptr;
  QPoint FFreezeMouse{-1, -1};
  QPoint FMousePos{-1, -1};
  TCharInfoArray FFrozenNewChars;
  TCharInfoArray FFrozenOldChars;
  TFreezeState FFreezeState = fsOff;
  // Bytes to delete from the end of the document, then text to append.
  long FTailDelete = 0;
  std::string FTailAppend;
  // Lines whose minute stamps may have changed in this edit: the first line
  // and the lines from FGutterFrom on (-1: none).
  bool FGutterTop = false;
  int64_t FGutterFrom = -1;
  // The end is followed while the last row was in sight at the last scroll
  // or change: a resize is no scroll, so a smaller view keeps the last row
  // in sight, and a user who scrolled back keeps their place.
  bool FFollow = true;
  bool FKeeping = false;  // inside KeepTheEnd or Scrolled: the top row moves, the user did not scroll
};

}  // namespace brenvo
