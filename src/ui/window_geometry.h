// The main window's place and size as the settings file keeps them: Left
// and Top are the place of the whole window, the frame its window manager
// adds included (a window at 0, 0 shows its title bar); Width and Height are
// the size of the client area, the window without that frame, so that the
// size comes back exactly whatever the frame.
#pragma once

#include <vector>

#include "ui/settings.h"

class QWidget;

namespace brenvo {

// Before the window is first shown: the client area Width x Height, the
// frame's top left corner at Left, Top.
void ApplyWindowGeometry(QWidget& Window, const TSettings& S);
// At close: the normal (not maximised) place and size into Left .. Height.
void StoreWindowGeometry(const QWidget& Window, TSettings& S);
// The usable area of every screen, the primary first, for LoadSettings.
std::vector<TScreenRect> ScreenRects();

}  // namespace brenvo
