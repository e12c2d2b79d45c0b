// A plain drawing surface for the dialogs: its owner paints it and answers
// its mouse through the events below.
#pragma once

#include <QWidget>
#include <functional>

class QMouseEvent;
class QPainter;

namespace brenvo {

class TPaintArea : public QWidget {
  Q_OBJECT
 public:
  explicit TPaintArea(QWidget* Parent = nullptr);

  // Opaque: the owner fills every pixel, so Qt need not erase first.
  void SetOpaque(bool Value);

  std::function<void(QPainter& Canvas)> OnPaint;
  std::function<void(QMouseEvent& Event)> OnMouseDown;  // any button
  std::function<void(QMouseEvent& Event)> OnMouseMove;  // also without a button held
  // Left button pressed and released over the area.
  std::function<void(QMouseEvent& Event)> OnClick;
  std::function<void(QMouseEvent& Event)> OnDblClick;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;

 private:
  bool FLeftDown = false;
};

}  // namespace brenvo
