// The main of the Qt adapters' tests: the one application object of the process exists before any
// test builds a timer or a font, and ends after the last test, as in the programs themselves.
#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char* argv[]) {
  // Fonts and layout need a GUI application; the offscreen platform needs no display.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QGuiApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
