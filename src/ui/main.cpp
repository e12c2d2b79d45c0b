#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel w("BRENVO");
  w.setWindowTitle("BRENVO");
  w.show();
  return app.exec();
}
