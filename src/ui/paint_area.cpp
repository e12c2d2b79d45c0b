#include "ui/paint_area.h"

#include <QMouseEvent>
#include <QPainter>

namespace brenvo {

TPaintArea::TPaintArea(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void TPaintArea::SetOpaque(bool value) { setAttribute(Qt::WA_OpaquePaintEvent, value); }

void TPaintArea::paintEvent(QPaintEvent*) {
  if (!OnPaint) return;
  QPainter canvas(this);
  OnPaint(canvas);
}

void TPaintArea::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) FLeftDown = true;
  if (OnMouseDown) OnMouseDown(*e);
}

void TPaintArea::mouseReleaseEvent(QMouseEvent* e) {
  const bool click = e->button() == Qt::LeftButton && FLeftDown && rect().contains(e->position().toPoint());
  if (e->button() == Qt::LeftButton) FLeftDown = false;
  if (click && OnClick) OnClick(*e);
}

void TPaintArea::mouseDoubleClickEvent(QMouseEvent* e) {
  // The second press of a double click is no new click, but it still counts
  // as a press for the mouse-down handler.
  if (OnMouseDown) OnMouseDown(*e);
  if (OnDblClick) OnDblClick(*e);
}

void TPaintArea::mouseMoveEvent(QMouseEvent* e) {
  if (OnMouseMove) OnMouseMove(*e);
}

}  // namespace brenvo
