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
  bool ExecuteSaveDialog(const TFileDialogOptions&, const std::string&, std::string& chosen) override {
    ++SaveDialogs;
    chosen = SaveAs;
    return !SaveAs.empty();
  }
  bool ExecuteOpenDialog(const TFileDialogOptions&, const std::string&, std::string& chosen) override {
    ++OpenDialogs;
    chosen = OpenFile;
    return !OpenFile.empty();
  }
  void Beep() override { ++Beeps; }

  std::vector<std::string> Errors;
  std::function<void()> WhileShowing;  // runs while the box is "up"
  std::string SaveAs;    // the save dialog's answer; empty: cancel
  std::string OpenFile;  // the open dialog's answer; empty: cancel
  int SaveDialogs = 0;
  int OpenDialogs = 0;
  int Beeps = 0;
};

}  // namespace brenvo::testing
