// Test entry: brings the runtime floor up once, as the program's entry code does, then runs the
// suites. Death tests fork from here, so each sees an initialised runtime.
#include <gtest/gtest.h>

#include "boot/entry.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  boot::start(argc, argv);
  boot::runtime_init();
  return RUN_ALL_TESTS();
}
