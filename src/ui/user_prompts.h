// Message boxes, file dialogs and the beep, behind one small interface so
// that headless code (tests, benchmarks) can answer them.
#pragma once

#include <exception>
#include <string>

#include "audio/wav_ring_buf_recorder.h"

class QWidget;

namespace brenvo {

// The program's name: the window's title and every message box's.
inline constexpr const char* kAppTitle = "BRENVO";

class IUserPrompts : public IRecorderUi {
 public:
  // A modal error box with an OK button; returns when the user closes it.
  virtual void ShowError(const std::string& Title, const std::string& Text) = 0;
};

// Qt's own boxes and dialogs, centred on `Parent`.
class TQtUserPrompts final : public IUserPrompts {
 public:
  explicit TQtUserPrompts(QWidget* Parent = nullptr) : FParent(Parent) {}
  void ShowError(const std::string& Title, const std::string& Text) override;
  bool ExecuteSaveDialog(const TFileDialogOptions& Dlg, const std::string& ProposedName,
                         std::string& Chosen) override;
  bool ExecuteOpenDialog(const TFileDialogOptions& Dlg, const std::string& ProposedName,
                         std::string& Chosen) override;
  void Beep() override;

 private:
  QWidget* FParent;
};

// The text an exception shows the user.
std::string ExceptionText(std::exception_ptr E);

}  // namespace brenvo
