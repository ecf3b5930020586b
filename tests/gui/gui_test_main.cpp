// The main of every GUI test program: GoogleTest inside a QApplication (the
// platform comes from QT_QPA_PLATFORM, "offscreen" under ctest).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
