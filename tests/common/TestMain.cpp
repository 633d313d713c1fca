#include <cstdlib>

#include <gtest/gtest.h>

namespace plimotest {
void installSandbox();
}

int main(int argc, char** argv) {
    // No test may ever restart the machine.
    ::setenv("PLIMO_SKIP_REBOOT", "1", 1);
    ::testing::InitGoogleTest(&argc, argv);
    plimotest::installSandbox();
    return RUN_ALL_TESTS();
}
