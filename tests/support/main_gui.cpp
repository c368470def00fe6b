// Test entry for layers with widgets: the program's own application object
// (with its top-level exception report) on the offscreen platform unless the
// environment already names one.
#include <gtest/gtest.h>

#include <cstdlib>
#include "support/sandbox.h"

#include "framework/application.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ronvix::testing::ProcessSandbox sandbox;
    ronvix::fw::TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
