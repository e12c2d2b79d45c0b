#include "ui/window_geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace brenvo {

void ApplyWindowGeometry(QWidget& window, const TSettings& s) {
  window.resize(s.Width, s.Height);
  // move() places the frame; setGeometry would place the client area and
  // leave the title bar above it, off the screen at the top.
  window.move(s.Left, s.Top);
}

void StoreWindowGeometry(const QWidget& window, TSettings& s) {
  const QRect r = window.isMaximized() || window.isFullScreen() ? window.normalGeometry() : window.geometry();
  // The frame's corner lies as far above and left of the client area as now.
  const QPoint frame = window.geometry().topLeft() - window.pos();
  s.Left = r.left() - frame.x();
  s.Top = r.top() - frame.y();
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
