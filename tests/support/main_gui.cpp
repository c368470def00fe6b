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
    // Where the tests find the repository's files (corpora, scripts) and
    // the build's programs, also when a test binary is run by hand.
    setenv("RONVIX_SOURCE_DIR", RONVIX_SOURCE_DIR_DEFAULT, 0);
    setenv("RONVIX_BUILD_DIR", RONVIX_BUILD_DIR_DEFAULT, 0);
    ronvix::testing::ProcessSandbox sandbox;
    ronvix::fw::TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
