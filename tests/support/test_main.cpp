#include <gtest/gtest.h>

#include "runtime/frame.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!quillgate::runtime_init()) return 2;
    return RUN_ALL_TESTS();
}
