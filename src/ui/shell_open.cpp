#include "ui/shell_open.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWidget>

namespace brenvo {

QUrl ShellOpenUrl(const QString& path) {
  if (path.contains(QStringLiteral("://"))) return QUrl(path);
  return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
}

void ShellOpen(const QString& path, const std::function<bool(const QUrl&)>& opener) {
  const QUrl url = ShellOpenUrl(path);
  // The result is of no use: a failure shows nothing, as with any desktop.
  if (opener)
    opener(url);
  else
    QDesktopServices::openUrl(url);
}

void RefreshCursor(QWidget* control, const QCursor& cursor) {
  control->setCursor(cursor);
  // A cursor pushed and taken back makes the window system apply the
  // widget's new cursor now rather than at the next mouse move.
  QGuiApplication::setOverrideCursor(Qt::CrossCursor);
  QGuiApplication::restoreOverrideCursor();
}

}  // namespace brenvo
