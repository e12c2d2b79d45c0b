// Colours the text of a message view character by character. It does not
// read the text: every character carries a format number in the text model
// (0 .. 10, see TMessageTextModel), and each format is a style of the editor
// with its own colours.
#pragma once

#include <Qsci/qscilexercustom.h>

#include <QColor>
#include <QFont>
#include <cstdint>

#include "receiver/message_text_model.h"

namespace brenvo {

class TMessageHighlighter : public QsciLexerCustom {
  Q_OBJECT
 public:
  static constexpr int kFormatCount = 11;
  // A format outside 0 .. 10 and the line ends: the view's own colours.
  static constexpr int kPlainStyle = 11;
  // The gutter's minute stamps.
  static constexpr int kGutterStyle = 12;

  // Model must outlive the highlighter; it holds the format of every
  // character of the editor's text, line by line.
  explicit TMessageHighlighter(const TMessageTextModel& Model, QObject* Parent = nullptr);

  // Foreground of a format as red, green, blue bytes (0xRRGGBB); black for a
  // number outside 0 .. 10.
  static uint32_t FormatColor(int Format);
  // The style that draws a format.
  static int StyleOf(int Format) { return Format >= 0 && Format < kFormatCount ? Format : kPlainStyle; }

  // The text font for all format styles (the gutter keeps its own).
  void SetTextFont(const QFont& Font);

  const char* language() const override { return "BRENVO messages"; }
  QString description(int Style) const override;
  QColor defaultColor(int Style) const override;
  QColor defaultPaper(int Style) const override;
  QFont defaultFont(int Style) const override;
  bool defaultEolFill(int) const override { return false; }
  void styleText(int Start, int End) override;

 private:
  const TMessageTextModel& FModel;
  QFont FTextFont;
  QFont FGutterFont;
};

// Family where it is installed, else the nearest installed font of the same
// kind (monospaced when Monospaced), PixelSize pixels high on the primary
// screen (given in points).
QFont NearestFont(const QString& Family, int PixelSize, bool Monospaced);

}  // namespace brenvo
