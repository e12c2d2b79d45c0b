#include "ui/user_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace brenvo {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// "Description|pattern|Description|pattern" becomes Qt's "Description (pattern);;...";
// the descriptions already name their patterns.
QString QtFilter(const std::string& filter) {
  const QStringList parts = Q(filter).split('|');
  QStringList out;
  for (qsizetype i = 0; i < parts.size(); i += 2) out << parts[i];
  return out.join(";;");
}

bool RunFileDialog(QWidget* parent, const TFileDialogOptions& dlg, const std::string& proposed, bool save,
                   std::string& chosen) {
  QFileDialog d(parent, Q(dlg.Title), Q(dlg.InitialDir), QtFilter(dlg.Filter));
  d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  d.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  d.setDefaultSuffix(Q(dlg.DefaultExt));
  d.setOption(QFileDialog::DontConfirmOverwrite, !dlg.OverwritePrompt);
  d.selectFile(Q(proposed));
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return false;
  chosen = d.selectedFiles().front().toStdString();
  return true;
}

}  // namespace

void TQtUserPrompts::ShowError(const std::string& title, const std::string& text) {
  QMessageBox::critical(FParent, Q(title), Q(text), QMessageBox::Ok);
}

bool TQtUserPrompts::ExecuteSaveDialog(const TFileDialogOptions& dlg, const std::string& proposed,
                                       std::string& chosen) {
  return RunFileDialog(FParent, dlg, proposed, true, chosen);
}

bool TQtUserPrompts::ExecuteOpenDialog(const TFileDialogOptions& dlg, const std::string& proposed,
                                       std::string& chosen) {
  return RunFileDialog(FParent, dlg, proposed, false, chosen);
}

void TQtUserPrompts::Beep() { QApplication::beep(); }

std::string ExceptionText(std::exception_ptr e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
  }
  return "Unknown exception";
}

}  // namespace brenvo
