#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The data files of the tests are written as a French installation
  // writes them (decimal comma, day/month/year dates).
  qputenv("LC_ALL", "fr_FR.UTF-8");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
