// A user who answers every message box and file dialog as the test says.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/user_prompts.h"

namespace brenvo::testing {

class TTestPrompts final : public IUserPrompts {
 public:
  void ShowError(const std::string& title, const std::string& text) override {
    Errors.push_back(title + ": " + text);
    if (WhileShowing) WhileShowing();
  }
  // Saving is left to the end-to-end test: every save dialog is cancelled.
  bool ExecuteSaveDialog(const TFileDialogOptions&, const std::string&, std::string&) override { return false; }
  bool ExecuteOpenDialog(const TFileDialogOptions&, const std::string&, std::string& chosen) override {
    chosen = OpenFile;
    return !OpenFile.empty();
  }
  void Beep() override { ++Beeps; }

  std::vector<std::string> Errors;
  std::function<void()> WhileShowing;  // runs while the box is "up"
  std::string OpenFile;  // the open dialog's answer; empty: cancel
  int Beeps = 0;
};

}  // namespace brenvo::testing
