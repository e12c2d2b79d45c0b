// Small desktop services: opening a file or folder with the program the
// desktop associates with it, and showing a new mouse cursor at once.
#pragma once

#include <QCursor>
#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace brenvo {

// What ShellOpen hands Path to: a local path (relative to the current folder
// or absolute) as a file URL; a text that begins with a scheme of two or
// more letters ("https://", "mailto:") as the URL it is.
QUrl ShellOpenUrl(const QString& Path);

// Opens Path with the desktop's program for it (a folder in the file
// browser). False when that could not be started (no URL launcher); the
// caller decides whether to say so. Opener replaces the desktop
// (QDesktopServices::openUrl) where nothing may start.
bool ShellOpen(const QString& Path, const std::function<bool(const QUrl&)>& Opener = {});

// The user guide, which the build puts beside the program.
QString UserGuidePath();

// Gives Control the cursor and makes it show without waiting for the mouse
// to move.
void RefreshCursor(QWidget* Control, const QCursor& Cursor);

}  // namespace brenvo
