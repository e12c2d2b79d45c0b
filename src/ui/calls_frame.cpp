#include "ui/calls_frame.h"

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QVBoxLayout>
#include <cmath>

#include "receiver/calls_list.h"
#include "receiver/message_text_model.h"
#include "receiver/rtty_receiver.h"

namespace brenvo {

namespace {
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kGrey(0x80, 0x80, 0x80);
}  // namespace

TCallsFrame::TCallsFrame(QWidget* parent)
    : QWidget(parent),
      FFreezePanel(new QFrame(this)),
      FListEdit(new QPlainTextEdit(FFreezePanel)) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(FFreezePanel);
  auto* inner = new QVBoxLayout(FFreezePanel);
  inner->setContentsMargins(kBorder, kBorder, kBorder, kBorder);
  inner->addWidget(FListEdit);
  FFreezePanel->setAutoFillBackground(true);
  FUnlit = QApplication::palette().color(QPalette::Button);
  UpdateFreeze(false);

  FListEdit->setReadOnly(true);
  // No caret and no selection: a press only picks a call.
  FListEdit->setTextInteractionFlags(Qt::NoTextInteraction);
  // A call never breaks across two lines, so a click on a line is the whole call.
  FListEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
  FListEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FListEdit->viewport()->setCursor(Qt::PointingHandCursor);
  // Every button picks a call; the editing menu would only stand in its way.
  FListEdit->setContextMenuPolicy(Qt::NoContextMenu);
  FListEdit->viewport()->setMouseTracking(true);
  FListEdit->viewport()->installEventFilter(this);
  QFont font(QStringLiteral("Bitstream Vera Sans Mono"));
  font.setFamilies(
      {QStringLiteral("Bitstream Vera Sans Mono"), QStringLiteral("DejaVu Sans Mono")});
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(13);
  FListEdit->setFont(font);
  // Below the meter the list keeps room for a few calls (a scroll area's own
  // least height is that of its scroll bars, taller than the room left).
  const int margin = static_cast<int>(std::ceil(FListEdit->document()->documentMargin()));
  FListEdit->setMinimumHeight(kMinLines * QFontMetrics(font).lineSpacing() +
                              2 * (FListEdit->frameWidth() + margin));

  FFreezeTimer.setSingleShot(true);
  FFreezeTimer.setInterval(kFreezeMs);
  connect(&FFreezeTimer, &QTimer::timeout, this, [this] { UpdateFreeze(false); });
  OnBeep = [] { QApplication::beep(); };
}

TCallsFrame::~TCallsFrame() = default;

void TCallsFrame::ShowCalls(TRttyReceiver& selected, bool anew) { ShowCalls(selected.Cx, anew); }

void TCallsFrame::ShowCalls(TCallExtractor& cx, bool anew) {
  if (!TakeCallsToShow(cx, FShown, anew)) return;
  ShowLines(FShown, cx.BestCall());
  if (OnPostCallStack) OnPostCallStack(cx, anew);
}

void TCallsFrame::ShowLines(const std::vector<const TCallEstimate*>& lines,
                            const TCallEstimate* best) {
  FListEdit->setUpdatesEnabled(false);
  const auto resume = qScopeGuard([this] { FListEdit->setUpdatesEnabled(true); });
  Clear();
  QTextCursor cursor(FListEdit->document());
  for (const TCallEstimate* e : lines) {
    FCalls.push_back(e->Txt);
    QTextCharFormat format;
    format.setFontWeight(e == best ? QFont::Bold : QFont::Normal);
    format.setForeground(CallLineGrey(*e) ? kGrey : QColor(Qt::black));
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromStdString(Cp1252ToUtf8(CallLineText(*e))), format);
    cursor.insertBlock();
  }
}

void TCallsFrame::Clear() {
  FListEdit->clear();
  FCalls.clear();
}

std::string TCallsFrame::WordAt(int y) {
  const int line = FListEdit->cursorForPosition(QPoint(1, y)).blockNumber();
  if (line < 0 || line >= FListEdit->document()->blockCount()) return {};
  const std::string word = static_cast<std::size_t>(line) < FCalls.size() ? FCalls[line] : std::string();
  if (word.empty() && OnBeep) OnBeep();
  return word;
}

bool TCallsFrame::eventFilter(QObject* watched, QEvent* e) {
  if (watched == FListEdit->viewport()) {
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
        RichEditMouseDown(static_cast<QMouseEvent&>(*e));
        break;
      case QEvent::MouseMove:
        RichEditMouseMove(static_cast<QMouseEvent&>(*e));
        break;
      case QEvent::MouseButtonRelease:
        UpdateFreeze(false);
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, e);
}

void TCallsFrame::leaveEvent(QEvent* e) {
  UpdateFreeze(false);
  QWidget::leaveEvent(e);
}

void TCallsFrame::RichEditMouseDown(const QMouseEvent& e) {
  const std::string word = WordAt(e.position().toPoint().y());
  if (word.empty()) return;
  QGuiApplication::clipboard()->setText(QString::fromStdString(Cp1252ToUtf8(word)));
  if (OnUserClick)
    OnUserClick(word, e.modifiers(), e.buttons(), e.type() == QEvent::MouseButtonDblClick, 0,
                ctCall);
}

void TCallsFrame::RichEditMouseMove(const QMouseEvent& e) {
  const QPoint p = e.position().toPoint();
  if (p == FFreezeMouse) return;
  FFreezeMouse = p;
  UpdateFreeze(true);
}

void TCallsFrame::UpdateFreeze(bool on) {
  FFreezeTimer.stop();
  FLit = on;
  QPalette pal = FFreezePanel->palette();
  pal.setColor(QPalette::Window, on ? kAqua : FUnlit);
  FFreezePanel->setPalette(pal);
  if (on) FFreezeTimer.start();
}

}  // namespace brenvo
