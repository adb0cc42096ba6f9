// thread or soak test [--cycles=N] [gtest flags]
#include "env.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    env::parseOptions(argc, argv);
    return RUN_ALL_TESTS();
}
