#include "ui/user_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>
#include <QTreeView>
#include <algorithm>

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
  // Qt's own dialog opens so narrow that the size, type and date columns
  // are cut: they take the width their contents need, and the dialog room
  // for them (a desktop's own dialog ignores both).
  if (auto* view = d.findChild<QTreeView*>()) {
    QHeaderView* header = view->header();
    for (int c = 1; c < header->count(); ++c) header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  }
  const QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
  const QSize least(TQtUserPrompts::kFileDialogWidth, TQtUserPrompts::kFileDialogHeight);
  const QSize room = screen ? screen->availableGeometry().size() : least;
  d.resize(d.size().expandedTo(least).boundedTo(room));
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return false;
  chosen = d.selectedFiles().front().toStdString();
  return true;
}

}  // namespace

void TQtUserPrompts::ShowError(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Critical, Q(title), Q(text), QMessageBox::Ok, FParent);
  // A short text makes a box so narrow that the window manager cuts its
  // title ("BR... VO"): room for the title and the frame's buttons.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const int width = std::max(kMinBoxWidth, 2 * box.fontMetrics().horizontalAdvance(Q(title)) + kMinBoxWidth / 2);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  box.exec();
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
