// The main window's place and size as the settings file keeps them: the
// client area, the window without the frame its window manager adds, so
// that what is saved is exactly what comes back, whatever the frame.
#pragma once

#include <vector>

#include "ui/settings.h"

class QWidget;

namespace brenvo {

// Before the window is first shown: setGeometry with Left, Top, Width, Height.
void ApplyWindowGeometry(QWidget& Window, const TSettings& S);
// At close: the normal (not maximised) client area into Left .. Height.
void StoreWindowGeometry(const QWidget& Window, TSettings& S);
// The usable area of every screen, the primary first, for LoadSettings.
std::vector<TScreenRect> ScreenRects();

}  // namespace brenvo
