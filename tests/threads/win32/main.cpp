// thread or soak client --dll=<registered module> --kvlib=<KvLib.tlb> --data=<folder> [--cycles=N] [gtest flags]
#include "env.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    env::parseOptions(argc, argv);
    const client::Paths& p = client::paths();
    if (p.dll.empty() || p.kvLib.empty() || p.data.empty()) {
        std::fprintf(stderr, "usage: %s --dll=PATH --kvlib=PATH --data=FOLDER [--cycles=N] [gtest flags]\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
