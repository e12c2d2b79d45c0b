#include "ui/window_geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace brenvo {

void ApplyWindowGeometry(QWidget& window, const TSettings& s) {
  // setGeometry places the client area (move() would place the frame).
  window.setGeometry(s.Left, s.Top, s.Width, s.Height);
}

void StoreWindowGeometry(const QWidget& window, TSettings& s) {
  const QRect r = window.isMaximized() || window.isFullScreen() ? window.normalGeometry() : window.geometry();
  s.Left = r.left();
  s.Top = r.top();
  s.Width = r.width();
  s.Height = r.height();
}

std::vector<TScreenRect> ScreenRects() {
  std::vector<TScreenRect> rects;
  QList<QScreen*> screens = QGuiApplication::screens();
  if (QScreen* primary = QGuiApplication::primaryScreen()) {
    screens.removeAll(primary);
    screens.prepend(primary);
  }
  for (const QScreen* screen : screens) {
    const QRect r = screen->availableGeometry();
    rects.push_back({r.left(), r.top(), r.width(), r.height()});
  }
  return rects;
}

}  // namespace brenvo
