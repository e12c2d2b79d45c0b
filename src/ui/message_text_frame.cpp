#include "ui/message_text_frame.h"

#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "ui/message_highlighter.h"

namespace brenvo {

namespace {

using Sci = QsciScintillaBase;

constexpr int kRim = 2;  // around the text: shows the pause state
// The editor's or the status's least height inside the rim.
constexpr int kLeastInside = TMessageTextFrame::kLeastHeight - 2 * kRim;

bool StartsLine(const TCharInfoArray& chars, bool corrected) {
  return std::any_of(chars.begin(), chars.end(), [corrected](const TCharInfo& r) {
    const TCharFlags f = corrected ? r.CorrFlags : r.RawFlags;
    return f.Has(corrected ? cfVisNewLine : cfNewLine);
  });
}

// The document opened for writing (it is read-only for the user).
class TWritable {
 public:
  explicit TWritable(QsciScintilla& s) : FS(s) { FS.SendScintilla(Sci::SCI_SETREADONLY, 0UL); }
  ~TWritable() { FS.SendScintilla(Sci::SCI_SETREADONLY, 1UL); }
  TWritable(const TWritable&) = delete;
  TWritable& operator=(const TWritable&) = delete;

 private:
  QsciScintilla& FS;
};

// The editor, telling its frame when it has taken a new size and when keys
// or a drag (which scrolls at the edge) may have scrolled it; its own
// scrolls do not move the scroll bar's signal.
class TTextEditor final : public QsciScintilla {
 public:
  using QsciScintilla::QsciScintilla;
  std::function<void()> OnResized;
  std::function<void()> OnScrolled;

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QsciScintilla::resizeEvent(e);
    if (OnResized) OnResized();
  }
  void keyPressEvent(QKeyEvent* e) override {
    QsciScintilla::keyPressEvent(e);
    if (OnScrolled) OnScrolled();
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    QsciScintilla::mouseReleaseEvent(e);
    if (OnScrolled) OnScrolled();
  }
};

// The status, centred and wrapped at its spaces; a word wider than a line
// (a long path) loses its middle, so that what follows it (the reason) stays
// whole. Its least height holds all its lines at its width.
class TStatusLabel final : public QLabel {
 public:
  explicit TStatusLabel(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    // Its longest word must not widen the window.
    setMinimumWidth(1);
  }
  QString Full;

  void Fit() {
    const int width = contentsRect().width();
    QStringList words = Full.split(QLatin1Char(' '));
    for (QString& w : words) w = fontMetrics().elidedText(w, Qt::ElideMiddle, width);
    setText(words.join(QLatin1Char(' ')));
    setToolTip(Full);
    setMinimumHeight(std::max(kLeastInside, heightForWidth(this->width())));
  }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QLabel::resizeEvent(e);
    Fit();
  }
};

}  // namespace

void TMessageTextFrame::ShowStatus(const std::string& text) {
  auto* status = static_cast<TStatusLabel*>(FStatus);
  status->Full = QString::fromStdString(text);
  // In the text's place at once, so that it wraps at its width from the start.
  if (FSyn->isVisible()) FStatus->setGeometry(FSyn->geometry());
  status->Fit();
  // Never both at once: the layout would keep the least height of both.
  (text.empty() ? static_cast<QWidget*>(FStatus) : FSyn)->hide();
  (text.empty() ? static_cast<QWidget*>(FSyn) : FStatus)->show();
}

void TMessageTextFrame::SetStatusTopMargin(int pixels) {
  FStatus->setContentsMargins(0, pixels, 0, 0);
  static_cast<TStatusLabel*>(FStatus)->Fit();
}

QString TMessageTextFrame::StatusText() const {
  return FStatus->isVisible() ? static_cast<const TStatusLabel*>(FStatus)->Full : QString();
}

TMessageTextFrame::TMessageTextFrame(QWidget* parent) : QWidget(parent) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  FFreezePanel = new QFrame(this);
  FFreezePanel->setFrameShape(QFrame::NoFrame);
  FFreezePanel->setAutoFillBackground(true);
  outer->addWidget(FFreezePanel);
  auto* inner = new QVBoxLayout(FFreezePanel);
  inner->setContentsMargins(kRim, kRim, kRim, kRim);
  auto* editor = new TTextEditor(FFreezePanel);
  FSyn = editor;
  inner->addWidget(FSyn);
  FStatus = new TStatusLabel(FFreezePanel);
  FStatus->hide();
  inner->addWidget(FStatus);

  // Owned by the editor, so that it goes after the editor has let go of it.
  FHil = new TMessageHighlighter(FModel, FSyn);
  FSyn->setUtf8(true);
  FSyn->setLexer(FHil);
  FSyn->setReadOnly(true);
  Send(Sci::SCI_SETUNDOCOLLECTION, 0);
  Send(Sci::SCI_SETCARETSTYLE, Sci::CARETSTYLE_INVISIBLE);
  Send(Sci::SCI_SETWRAPMODE, Sci::SC_WRAP_WHITESPACE);
  Send(Sci::SCI_SETWRAPVISUALFLAGS, Sci::SC_WRAPVISUALFLAG_NONE);
  Send(Sci::SCI_SETHSCROLLBAR, 0);
  Send(Sci::SCI_SETLAYOUTCACHE, Sci::SC_CACHE_PAGE);
  FSyn->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  FSyn->setEdgeMode(QsciScintilla::EdgeNone);
  FSyn->setContextMenuPolicy(Qt::NoContextMenu);  // an editing menu has no place here

  // One gutter of per-line text, wide enough for five digits.
  FSyn->setMarginType(0, QsciScintilla::TextMargin);
  FSyn->setMarginWidth(0, QFontMetrics(FHil->defaultFont(TMessageHighlighter::kGutterStyle))
                                  .horizontalAdvance(QStringLiteral("00000")) + 6);
  for (int m = 1; m < FSyn->margins(); ++m) FSyn->setMarginWidth(m, 0);
  FSyn->setMarginsBackgroundColor(FHil->defaultPaper(TMessageHighlighter::kGutterStyle));
  Send(Sci::SCI_SETMARGINLEFT, 0, 3);
  FitOneLine();

  // A new size or font changes the rows in sight without a scroll.
  editor->OnResized = [this] { KeepTheEnd([] {}); };
  editor->OnScrolled = [this] { Scrolled(); };
  connect(FSyn->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { Scrolled(); });

  FSyn->viewport()->setMouseTracking(true);
  FSyn->viewport()->setCursor(Qt::PointingHandCursor);
  FSyn->viewport()->installEventFilter(this);

  FFreezeTimer = new QTimer(this);
  FFreezeTimer->setSingleShot(true);
  FFreezeTimer->setInterval(kFreezeMs);
  connect(FFreezeTimer, &QTimer::timeout, this, [this] { Unfreeze(); });

  FModel.OnEdit = [this](TTextEdit edit, uint8_t ch) { ApplyEdit(edit, ch); };
  SetFreezeState(fsOff);
}

TMessageTextFrame::~TMessageTextFrame() {
  // The editor and its highlighter go before the model they read, and send
  // no events here while they go.
  FSyn->viewport()->removeEventFilter(this);
  static_cast<TTextEditor*>(FSyn)->OnResized = nullptr;
  static_cast<TTextEditor*>(FSyn)->OnScrolled = nullptr;
  FSyn->verticalScrollBar()->disconnect(this);
  FModel.OnEdit = nullptr;
  delete FFreezePanel;
}

long TMessageTextFrame::Send(unsigned int msg, unsigned long w, long l) const { return FSyn->SendScintilla(msg, w, l); }

int32_t TMessageTextFrame::FontSize() const { return QFontInfo(FHil->defaultFont(0)).pointSize(); }

void TMessageTextFrame::SetFontSize(int32_t points) {
  if (points < 1 || points > 200) throw std::invalid_argument("Font size must be 1 to 200 points");
  QFont f = FHil->defaultFont(0);
  f.setPointSize(points);
  KeepTheEnd([&] { FHil->SetTextFont(f); });
  FitOneLine();
}

void TMessageTextFrame::FitOneLine() {
  // At its least the editor shows one whole line at its font, the gutter's
  // stamp included.
  const int line = static_cast<int>(Send(Sci::SCI_TEXTHEIGHT)) + 2 * FSyn->frameWidth();
  FSyn->setMinimumHeight(std::max(kLeastInside, line));
}

// ---------------------------------------------------------------- drawing

bool TMessageTextFrame::EndInSight() const { return DisplayLineCount() - TopLine() <= LinesInWindow(); }

void TMessageTextFrame::Scrolled() {
  if (FKeeping) return;
  // Counting the rows may move the top row again: no scroll of the user.
  FKeeping = true;
  FFollow = EndInSight();
  FKeeping = false;
}

template <class F>
void TMessageTextFrame::KeepTheEnd(F&& change) {
  // A change inside one (the scroll bar that shows or goes resizes the
  // editor): the outer one decides.
  if (FKeeping) {
    change();
    return;
  }
  FKeeping = true;
  const auto done = qScopeGuard([this] { FKeeping = false; });
  change();
  if (FFollow && FSyn->isVisible()) {
    const int64_t hidden = DisplayLineCount() - TopLine() - LinesInWindow();
    if (hidden > 0) SetTopLine(TopLine() + hidden);
  }
  FFollow = FFollow || EndInSight();
}

template <class F>
void TMessageTextFrame::Edit(F&& change) {
  KeepTheEnd([&] {
    FGutterFrom = -1;
    FGutterTop = false;
    {
      const TWritable writable(*FSyn);
      try {
        change();
      } catch (...) {
        WriteTail();
        throw;
      }
      WriteTail();
    }
    const auto lines = static_cast<int64_t>(FModel.Lines().size());
    const auto stamp = [this](int64_t line) {
      const std::string text = FModel.GutterText(line);
      FSyn->SendScintilla(Sci::SCI_MARGINSETTEXT, static_cast<unsigned long>(line),
                          text.empty() ? nullptr : text.c_str());
      Send(Sci::SCI_MARGINSETSTYLE, static_cast<unsigned long>(line), TMessageHighlighter::kGutterStyle);
    };
    if (FGutterTop && lines > 0) stamp(0);
    for (int64_t line = std::max<int64_t>(FGutterFrom, FGutterTop ? 1 : 0); FGutterFrom >= 0 && line < lines; ++line)
      stamp(line);
  });
}

void TMessageTextFrame::ApplyEdit(TTextEdit edit, uint8_t ch) {
  // The document holds the model's lines joined by line feeds in UTF-8. The
  // changes at its end are gathered and written once per batch (a rewrite
  // deletes and adds back up to 25 characters); the model changed already,
  // so its line count is the one after the edit.
  const auto lines = static_cast<int64_t>(FModel.Lines().size());
  const auto mark = [this](int64_t line) {
    if (FGutterFrom < 0 || line < FGutterFrom) FGutterFrom = line;
  };
  const auto drop = [this](std::size_t bytes) {
    const std::size_t unwritten = std::min(bytes, FTailAppend.size());
    FTailAppend.resize(FTailAppend.size() - unwritten);
    FTailDelete += static_cast<long>(bytes - unwritten);
  };
  switch (edit) {
    case teLineAdded:
      if (lines > 1) FTailAppend += '\n';
      mark(lines - 1);
      break;
    case teCharAdded:
      FTailAppend += Cp1252CharToUtf8(ch);
      if (FModel.TextInfo().back().size() == 1) mark(lines - 1);
      break;
    case teLatestCharDeleted:
      drop(Cp1252CharToUtf8(ch).size());
      if (FModel.TextInfo().back().empty()) mark(lines - 1);
      break;
    case teLatestLineDeleted:
      // The line was empty: its line feed goes, unless it was the only line.
      if (lines > 0) {
        drop(1);
        // The editor keeps the gutter text of the lower of two joined lines.
        mark(lines - 1);
      }
      break;
    case teOldestLineDeleted:
      WriteTail();
      if (lines == 0) {
        Send(Sci::SCI_CLEARALL);
      } else {
        Send(Sci::SCI_DELETERANGE, 0, Send(Sci::SCI_POSITIONFROMLINE, 1));
      }
      // The new first line always shows its stamp.
      FGutterTop = true;
      if (FGutterFrom > 0) --FGutterFrom;
      break;
  }
}

void TMessageTextFrame::WriteTail() {
  if (FTailDelete > 0) {
    const long length = Send(Sci::SCI_GETLENGTH);
    Send(Sci::SCI_DELETERANGE, static_cast<unsigned long>(length - FTailDelete), FTailDelete);
    FTailDelete = 0;
  }
  if (!FTailAppend.empty()) {
    FSyn->SendScintilla(Sci::SCI_APPENDTEXT, static_cast<unsigned long>(FTailAppend.size()), FTailAppend.c_str());
    FTailAppend.clear();
  }
}

void TMessageTextFrame::RenderChars(const TCharInfoArray& newChars, const TCharInfoArray& oldChars) {
  Edit([&] { FModel.PutText(newChars, oldChars); });
}

void TMessageTextFrame::Clear() {
  FModel.Clear();
  const TWritable writable(*FSyn);
  Send(Sci::SCI_CLEARALL);
  Send(Sci::SCI_MARGINTEXTCLEARALL);
  // The end of no text is in sight.
  FFollow = true;
  // Held-back batches belong to the text cleared: drawn later they would
  // bring it back (twice, when the caller redraws the stored text).
  FFrozenNewChars.clear();
  FFrozenOldChars.clear();
}

void TMessageTextFrame::PutText(const TCharInfoArray& newChars, const TCharInfoArray& oldChars) {
  if (FFreezeState == fsFreezing && StartsLine(newChars, FModel.ShowCorrected)) SetFreezeState(fsOn);
  if (FFreezeState == fsOn || !FFrozenNewChars.empty() || !FFrozenOldChars.empty())
    HoldBack(newChars, oldChars);
  else
    RenderChars(newChars, oldChars);
}

void TMessageTextFrame::PutQsxBar(int32_t freqHz) {
  // Held-back batches delete their old versions from the end of the text;
  // after the bar that end would be the bar.
  FlushFrozen();
  Edit([&] { FModel.PutQsxBar(freqHz); });
}

// ---------------------------------------------------------------- pause

void TMessageTextFrame::HoldBack(const TCharInfoArray& newChars, const TCharInfoArray& oldChars) {
  // The held-back pair means: delete FrozenOldChars (newest first) from what
  // the view shows, then append FrozenNewChars. A batch deletes its old
  // versions from the end of that and appends its new records; this holds
  // for batches of any shape (one new record more than old ones, or only
  // new records after a channel change).
  const std::size_t m = oldChars.size();
  const std::size_t k = FFrozenNewChars.size();
  if (m <= k) {
    FFrozenNewChars.resize(k - m);
  } else {
    FFrozenOldChars.insert(FFrozenOldChars.begin(), oldChars.begin(),
                           oldChars.begin() + static_cast<std::ptrdiff_t>(m - k));
    FFrozenNewChars.clear();
  }
  FFrozenNewChars.insert(FFrozenNewChars.end(), newChars.begin(), newChars.end());
}

void TMessageTextFrame::FlushFrozen() {
  if (FFrozenNewChars.empty() && FFrozenOldChars.empty()) return;
  const TCharInfoArray newChars = std::exchange(FFrozenNewChars, {});
  const TCharInfoArray oldChars = std::exchange(FFrozenOldChars, {});
  RenderChars(newChars, oldChars);
}

void TMessageTextFrame::Unfreeze() {
  FFreezeTimer->stop();
  SetFreezeState(fsOff);
  FlushFrozen();
}

void TMessageTextFrame::SetFreezeState(TFreezeState v) {
  QColor c = QApplication::palette().color(QPalette::Button);
  if (v == fsFreezing) c = QColor(0x00, 0xFF, 0xFF);
  if (v == fsOn) c = QColor(0xFF, 0x00, 0x00);
  QPalette p = FFreezePanel->palette();
  p.setColor(QPalette::Window, c);
  FFreezePanel->setPalette(p);
  FFreezeState = v;
}

QColor TMessageTextFrame::RimColor() const { return FFreezePanel->palette().color(QPalette::Window); }

bool TMessageTextFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched != FSyn->viewport()) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseMove: {
      const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
      FMousePos = pos;
      if (pos != FFreezeMouse) {
        FFreezeMouse = pos;
        SetFreezeState(fsFreezing);
        FFreezeTimer->start();  // 500 ms after the last move
      }
      break;
    }
    // The second press of a double click comes as a double click of its own.
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* e = static_cast<QMouseEvent*>(event);
      FMousePos = e->position().toPoint();
      if (OnMouseDown) OnMouseDown(*e);
      break;
    }
    case QEvent::MouseButtonRelease:
      Unfreeze();
      break;
    case QEvent::CursorChange:
      // The editor sets its text cursor on every move; the view points.
      if (FSyn->viewport()->cursor().shape() != Qt::PointingHandCursor)
        FSyn->viewport()->setCursor(Qt::PointingHandCursor);
      break;
    default:
      break;
  }
  return false;
}

void TMessageTextFrame::leaveEvent(QEvent* event) {
  Unfreeze();
  QWidget::leaveEvent(event);
}

// ---------------------------------------------------------------- queries

bool TMessageTextFrame::PositionAt(QPoint pos, int64_t& line, int64_t& ch) const {
  if (pos.x() < 0 || pos.y() < 0) return false;
  const long p = Send(Sci::SCI_CHARPOSITIONFROMPOINTCLOSE, static_cast<unsigned long>(pos.x()), pos.y());
  if (p < 0) return false;
  line = Send(Sci::SCI_LINEFROMPOSITION, static_cast<unsigned long>(p));
  ch = Send(Sci::SCI_COUNTCHARACTERS, static_cast<unsigned long>(Send(Sci::SCI_POSITIONFROMLINE,
                                                                      static_cast<unsigned long>(line))),
            p);
  return true;
}

int32_t TMessageTextFrame::SampleNoAt(QPoint pos) const {
  int64_t line = 0, ch = 0;
  return PositionAt(pos, line, ch) ? FModel.SampleNoAt(line, ch) : -1;
}

TWordPick TMessageTextFrame::WordAt(QPoint pos) const {
  int64_t line = 0, ch = 0;
  return PositionAt(pos, line, ch) ? FModel.PickWord(line, ch) : TWordPick{};
}

int32_t TMessageTextFrame::SampleNoUnderMouse() const { return SampleNoAt(FMousePos); }

std::string TMessageTextFrame::WordUnderMouse() const {
  std::string word = WordAt(FMousePos).Word;
  if (word.empty()) {
    if (OnBeep) {
      OnBeep();
    } else {
      QApplication::beep();
    }
  }
  return word;
}

TStateType TMessageTextFrame::WordTypeUnderMouse() const { return WordAt(FMousePos).Kind; }

int32_t TMessageTextFrame::WordClickPos() const { return WordAt(FMousePos).ClickPos; }

int64_t TMessageTextFrame::DisplayLineCount() const {
  const long lines = Send(Sci::SCI_GETLINECOUNT);
  // Wraps the lines changed since the last paint, so that the count is right now.
  Send(Sci::SCI_ENSUREVISIBLE, static_cast<unsigned long>(lines - 1));
  return Send(Sci::SCI_VISIBLEFROMDOCLINE, static_cast<unsigned long>(lines));
}

int64_t TMessageTextFrame::TopLine() const { return Send(Sci::SCI_GETFIRSTVISIBLELINE); }

void TMessageTextFrame::SetTopLine(int64_t row) {
  Send(Sci::SCI_SETFIRSTVISIBLELINE, static_cast<unsigned long>(std::max<int64_t>(row, 0)));
  Scrolled();
}

int64_t TMessageTextFrame::LinesInWindow() const { return Send(Sci::SCI_LINESONSCREEN); }

}  // namespace brenvo
