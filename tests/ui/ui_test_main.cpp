// The widget tests run inside one QApplication. The platform comes from
// QT_QPA_PLATFORM: offscreen unless the caller chose another (the second
// run uses xcb under Xvfb).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
