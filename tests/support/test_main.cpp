// The runner of every test binary. SystemC's main() calls sc_main, which runs
// GoogleTest. Death tests re-execute the binary for each child ("threadsafe"),
// so no child inherits kernel state from the parent.
#include <gtest/gtest.h>

#include <systemc>

int sc_main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
