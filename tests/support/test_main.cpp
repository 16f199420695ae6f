// GoogleTest entry point of every test binary: enters a private IPC namespace
// before any test runs (CTest starts one process per test case, so each test
// case gets a namespace of its own).
#include <gtest/gtest.h>

#include "private_namespace.h"

int main(int argc, char** argv) {
    if (!test_support::EnterPrivateIpcNamespace()) return 2;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
