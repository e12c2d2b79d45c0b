// Debugging list of the selected channel's stored character records: one
// line per record with its three characters, word type and flags. Filled
// each time it is shown; the main window has no command for it.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "decoder/char_info.h"

class QPlainTextEdit;

namespace brenvo {

class TMessageStorage;
class TRttyChannels;

// The name of a flag as the enumeration spells it ("cfVisible").
const char* CharFlagName(TCharFlag Flag);

// One line: "[raw][corr][meta]  word type  (flags)", a character 0 as "#0",
// others through Windows-1252 into UTF-8, the flags of CorrFlags in
// enumeration order joined by ",". Example: [K][K][#0]  ctCall  (cfVisible,cfWeak)
std::string FormatCharInfo(const TCharInfo& R);

class TCharsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TCharsDialog(QWidget* Parent = nullptr);
  ~TCharsDialog() override;

  // The storage listed: the receiver's of the channel selected when the
  // dialog is shown. Chans must outlive the dialog (or be reset to null).
  void SetChannels(const TRttyChannels* Chans);
  // Set directly where no channel list exists; null lists nothing.
  std::function<const TMessageStorage*()> Storage;

  QPlainTextEdit* Red() const { return FRed; }

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  QPlainTextEdit* FRed;
};

}  // namespace brenvo
