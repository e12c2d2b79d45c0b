// The callsigns heard on the selected signal, newest first, one line each
// with its CQ / DE context; the best call in bold, unlikely ones in grey. A
// click on a line copies its call to the clipboard and posts it. The border
// lights up while the mouse moves over the list and for 500 ms after.
#pragma once

#include <QPoint>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "callsigns/call_extractor.h"
#include "decoder/state_type.h"
#include "receiver/road_links.h"

class QFrame;
class QMouseEvent;
class QPlainTextEdit;

namespace brenvo {

class TCallsFrame : public QWidget, public ICallsList {
  Q_OBJECT
 public:
  static constexpr int kFreezeMs = 500;  // the border stays lit this long after the last move
  static constexpr int kBorder = 2;
  // Whole lines the list shows at its least.
  static constexpr int kMinLines = 2;

  explicit TCallsFrame(QWidget* Parent = nullptr);
  ~TCallsFrame() override;

  // Every 64 spectra with the selected channel's receiver: rebuilds the list
  // and posts it when its callsign extractor re-estimated since the last
  // look and at least one candidate rates vrWarning or better. Anew (another
  // channel was selected): rebuilt and posted at once, empty if need be.
  void ShowCalls(TRttyReceiver& Selected, bool Anew) override;
  void ShowCalls(TCallExtractor& Cx, bool Anew = false);
  // Rewrites the list with these candidates in order; Best (which may be
  // null or absent) in bold.
  void ShowLines(const std::vector<const TCallEstimate*>& Lines, const TCallEstimate* Best);
  // Empties the list (the clear and play-back commands).
  void Clear();

  // The call on the line at height Y of the list's viewport (the call's
  // 8-bit text, without its context prefix). On a line without a call (the
  // empty last line) the result is empty and OnBeep sounds.
  std::string WordAt(int Y);

  bool BorderLit() const { return FLit; }
  QPlainTextEdit* ListEdit() const { return FListEdit; }
  const QTimer& FreezeTimer() const { return FFreezeTimer; }

  // After every rebuild, with the extractor (the JSON server's call stack,
  // which applies the same rule to what it sends); EmptyToo after a rebuild
  // anew, whose empty list the clients must see too.
  std::function<void(const TCallExtractor& Cx, bool EmptyToo)> OnPostCallStack;
  // A press of any mouse button on a call (the clipboard already holds it):
  // the JSON server's user click, with Pos 0 and Kind ctCall. DoubleClick
  // marks the second press of a double click.
  std::function<void(const std::string& Word, Qt::KeyboardModifiers Modifiers,
                     Qt::MouseButtons Buttons, bool DoubleClick, int32_t Pos, TStateType Kind)>
      OnUserClick;
  // A click on a line without a call; QApplication::beep by default.
  std::function<void()> OnBeep;

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  void RichEditMouseDown(const QMouseEvent& Event);
  void RichEditMouseMove(const QMouseEvent& Event);
  void UpdateFreeze(bool On);

  QFrame* FFreezePanel;
  QTimer FFreezeTimer;
  QPlainTextEdit* FListEdit;
  QPoint FFreezeMouse{-1, -1};
  bool FLit = false;
  QColor FUnlit;
  std::vector<std::string> FCalls;  // the 8-bit call of each line, without its prefix
  std::vector<const TCallEstimate*> FShown;
};

}  // namespace brenvo
