// Where a text view draws its characters, for clicks in tests, and whether
// its status shows whole.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <QLabel>
#include <QPoint>

#include "ui/message_text_frame.h"

namespace brenvo {

// The centre of character Char of line Line in the text area.
inline QPoint PointOf(const TMessageTextFrame& f, int line, int ch) {
  using Sci = QsciScintillaBase;
  const QsciScintilla& s = *f.Syn();
  const long pos = s.positionFromLineIndex(line, ch);
  const long next = s.SendScintilla(Sci::SCI_POSITIONAFTER, static_cast<unsigned long>(pos));
  const long x0 = s.SendScintilla(Sci::SCI_POINTXFROMPOSITION, 0UL, pos);
  const long x1 = s.SendScintilla(Sci::SCI_POINTXFROMPOSITION, 0UL, next);
  const long y = s.SendScintilla(Sci::SCI_POINTYFROMPOSITION, 0UL, pos);
  return QPoint(static_cast<int>((x0 + x1) / 2), static_cast<int>(y + s.SendScintilla(Sci::SCI_TEXTHEIGHT, 0UL) / 2));
}

// The status, laid out as its label lays it out, lies within the label.
inline bool StatusFits(const TMessageTextFrame& f) {
  const QLabel& label = *f.StatusLabel();
  const int flags = static_cast<int>(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0);
  return label.contentsRect().contains(label.fontMetrics().boundingRect(label.contentsRect(), flags, label.text()));
}

}  // namespace brenvo
