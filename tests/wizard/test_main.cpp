#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>
#include <memory>

int main(int argc, char* argv[]) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (at build time) needs no application and so no display.
  std::unique_ptr<QApplication> application;
  if (!::testing::GTEST_FLAG(list_tests)) application = std::make_unique<QApplication>(argc, argv);
  return RUN_ALL_TESTS();
}
