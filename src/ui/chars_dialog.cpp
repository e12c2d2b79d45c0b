#include "ui/chars_dialog.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <string_view>

#include "decoder/message_storage.h"
#include "receiver/message_text_model.h"
#include "receiver/rtty_channels.h"

namespace brenvo {

namespace {
std::string_view CharText(uint8_t ch) { return ch == 0 ? "#0" : Cp1252CharToUtf8(ch); }
}  // namespace

const char* CharFlagName(TCharFlag flag) {
  static constexpr const char* kNames[] = {"cfVisible",    "cfWeak",    "cfNewLine",
                                           "cfVisNewLine", "cfPreSquelch", "cfSquelch"};
  return flag <= cfSquelch ? kNames[flag] : "";
}

std::string FormatCharInfo(const TCharInfo& r) {
  std::string flags;
  const TCharFlags corr = r.CorrFlags;
  for (uint8_t f = cfVisible; f <= cfSquelch; ++f) {
    if (!corr.Has(static_cast<TCharFlag>(f))) continue;
    if (!flags.empty()) flags += ",";
    flags += CharFlagName(static_cast<TCharFlag>(f));
  }
  std::string line = "[";
  line.append(CharText(r.RawCh)).append("][").append(CharText(r.CorrCh)).append("][");
  line.append(CharText(r.MetaCh)).append("]  ").append(StateTypeName(r.ChType));
  return line.append("  (").append(flags).append(")");
}

TCharsDialog::TCharsDialog(QWidget* parent) : QDialog(parent), FRed(new QPlainTextEdit(this)) {
  setWindowTitle(QStringLiteral("CharsDialog"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(FRed);
  FRed->setReadOnly(true);
  FRed->setLineWrapMode(QPlainTextEdit::NoWrap);
  FRed->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FRed->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Bitstream Vera Sans Mono where installed, else its descendant or any
  // fixed-pitch font.
  QFont font(QStringLiteral("Bitstream Vera Sans Mono"));
  font.setFamilies({QStringLiteral("Bitstream Vera Sans Mono"), QStringLiteral("DejaVu Sans Mono")});
  font.setStyleHint(QFont::Monospace);
  FRed->setFont(font);
  resize(617, 597);
}

TCharsDialog::~TCharsDialog() = default;

void TCharsDialog::SetChannels(const TRttyChannels* chans) {
  if (!chans) {
    Storage = nullptr;
    return;
  }
  Storage = [chans]() -> const TMessageStorage* {
    const TRttyChannel* sel = chans->Selected();
    return sel ? &sel->Rx.Ms : nullptr;
  };
}

void TCharsDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FRed->clear();
  const TMessageStorage* ms = Storage ? Storage() : nullptr;
  if (!ms) return;
  QString text;
  for (int i = 0; i <= ms->HiChar(); ++i) {
    if (i > 0) text += QLatin1Char('\n');
    text += QString::fromStdString(FormatCharInfo(ms->Char(i)));
  }
  FRed->setPlainText(text);
}

}  // namespace brenvo
