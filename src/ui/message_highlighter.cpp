#include "ui/message_highlighter.h"

#include <Qsci/qsciscintilla.h>

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

namespace brenvo {

namespace {

// Formats 0 .. 4 are the pale forms of 5 .. 9; 10 is the channel-change bar.
constexpr uint32_t kForeground[TMessageHighlighter::kFormatCount] = {
    0x888888, 0xFF8888, 0x88FF88, 0x8888FF, 0xFF88FF, 0x000000,
    0xFF0000, 0x008000, 0x0000FF, 0xFF00FF, 0x0000FF};
constexpr uint32_t kBarBackground = 0xA6CAF0;
constexpr uint32_t kGutterBackground = 0xE4E4E4;

QColor Rgb(uint32_t c) { return QColor(static_cast<int>(c >> 16), static_cast<int>((c >> 8) & 0xFF), static_cast<int>(c & 0xFF)); }

}  // namespace

QFont NearestFont(const QString& family, int pixelSize, bool monospaced) {
  QFont f(family);
  if (!QFontDatabase::families().contains(family, Qt::CaseInsensitive)) {
    f = QFontDatabase::systemFont(monospaced ? QFontDatabase::FixedFont : QFontDatabase::GeneralFont);
    // DejaVu Sans Mono descends from Bitstream Vera: the nearest where it is.
    if (monospaced && QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Mono")))
      f = QFont(QStringLiteral("DejaVu Sans Mono"));
  }
  if (monospaced) {
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
  }
  // The editor takes sizes in points only.
  const QScreen* screen = QGuiApplication::primaryScreen();
  const double dpi = screen && screen->logicalDotsPerInchY() > 0 ? screen->logicalDotsPerInchY() : 96.0;
  f.setPointSizeF(pixelSize * 72.0 / dpi);
  return f;
}

TMessageHighlighter::TMessageHighlighter(const TMessageTextModel& model, QObject* parent)
    : QsciLexerCustom(parent),
      FModel(model),
      FTextFont(NearestFont(QStringLiteral("Bitstream Vera Sans Mono"), 13, true)),
      FGutterFont(NearestFont(QStringLiteral("Courier New"), 11, true)) {}

uint32_t TMessageHighlighter::FormatColor(int format) {
  return format >= 0 && format < kFormatCount ? kForeground[format] : 0x000000;
}

void TMessageHighlighter::SetTextFont(const QFont& font) {
  FTextFont = font;
  for (int s = 0; s <= kPlainStyle; ++s) setFont(font, s);
}

QString TMessageHighlighter::description(int style) const {
  if (style >= 0 && style < kFormatCount) return QString::number(style);
  if (style == kPlainStyle) return QStringLiteral("Plain");
  if (style == kGutterStyle) return QStringLiteral("Gutter");
  return {};
}

QColor TMessageHighlighter::defaultColor(int style) const { return Rgb(FormatColor(style)); }

QColor TMessageHighlighter::defaultPaper(int style) const {
  if (style == kFormatCount - 1) return Rgb(kBarBackground);
  if (style == kGutterStyle) return Rgb(kGutterBackground);
  return Qt::white;
}

QFont TMessageHighlighter::defaultFont(int style) const { return style == kGutterStyle ? FGutterFont : FTextFont; }

void TMessageHighlighter::styleText(int start, int end) {
  QsciScintilla* ed = editor();
  if (!ed || end <= start) return;
  const auto send = [ed](unsigned int msg, unsigned long w = 0) { return ed->SendScintilla(msg, w, 0L); };
  const long docEnd = send(QsciScintillaBase::SCI_GETLENGTH);
  const long lineCount = send(QsciScintillaBase::SCI_GETLINECOUNT);
  const long firstLine = send(QsciScintillaBase::SCI_LINEFROMPOSITION, static_cast<unsigned long>(start));
  const long lastLine = send(QsciScintillaBase::SCI_LINEFROMPOSITION, static_cast<unsigned long>(end));
  const auto& lines = FModel.Lines();
  const auto& info = FModel.TextInfo();
  long pos = send(QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(firstLine));
  startStyling(static_cast<int>(pos));
  for (long line = firstLine; line <= lastLine && pos < docEnd; ++line) {
    const long lineEnd = send(QsciScintillaBase::SCI_GETLINEENDPOSITION, static_cast<unsigned long>(line));
    // Each character is a token of its own in the style of its format. The
    // text and the model go in step; should they not, the rest stays plain.
    if (line < static_cast<long>(lines.size())) {
      const std::string& text = lines[line];
      for (std::size_t i = 0; i < text.size() && i < info[line].size(); ++i) {
        const long len = static_cast<long>(Cp1252CharToUtf8(static_cast<uint8_t>(text[i])).size());
        if (pos + len > lineEnd) break;
        setStyling(static_cast<int>(len), StyleOf(info[line][i].Format));
        pos += len;
      }
    }
    const long next = line + 1 < lineCount
                          ? send(QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line + 1))
                          : docEnd;
    if (next > pos) setStyling(static_cast<int>(next - pos), kPlainStyle);
    pos = next;
  }
}

}  // namespace brenvo
