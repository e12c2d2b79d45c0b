// Message boxes, file dialogs and the beep, behind one small interface so
// that headless code (tests, benchmarks) can answer them.
#pragma once

#include <exception>
#include <string>

#include "audio/wav_ring_buf_recorder.h"

class QWidget;

#include "ui/app_title.h"

namespace brenvo {

class IUserPrompts : public IRecorderUi {
 public:
  // A modal error box with an OK button; returns when the user closes it.
  virtual void ShowError(const std::string& Title, const std::string& Text) = 0;
};

// Qt's own boxes and dialogs, centred on `Parent`.
class TQtUserPrompts final : public IUserPrompts {
 public:
  // Error boxes are at least this wide, so that a title bar shows "BRENVO"
  // whole beside its buttons; file dialogs open at least this large (held
  // to the screen), with room for every column.
  static constexpr int kMinBoxWidth = 320;
  static constexpr int kFileDialogWidth = 860, kFileDialogHeight = 480;

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
