// Widget tests run with one QApplication, as a host with a user interface
// would have; the driver then uses it instead of creating its own.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  // Test discovery runs the program too, without the test's environment.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
