#include "ui/shell_open.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWidget>

namespace brenvo {

QUrl ShellOpenUrl(const QString& path) {
  // A URL with a scheme ("https://", "mailto:") goes as it is; anything
  // else is a file or folder.
  const QUrl url(path);
  if (url.isValid() && url.scheme().size() > 1) return url;
  return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
}

bool ShellOpen(const QString& path, const std::function<bool(const QUrl&)>& opener) {
  const QUrl url = ShellOpenUrl(path);
  return opener ? opener(url) : QDesktopServices::openUrl(url);
}

QString UserGuidePath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/brenvo.html"); }

void RefreshCursor(QWidget* control, const QCursor& cursor) {
  control->setCursor(cursor);
  // A cursor pushed and taken back makes the window system apply the
  // widget's new cursor now rather than at the next mouse move.
  QGuiApplication::setOverrideCursor(Qt::CrossCursor);
  QGuiApplication::restoreOverrideCursor();
}

}  // namespace brenvo
