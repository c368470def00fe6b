// Test entry for layers without widgets: a QCoreApplication exists so that
// queued calls and posted events can be delivered by tests that spin the loop.
#include <gtest/gtest.h>
#include <cstdlib>

#include <QCoreApplication>
#include "support/sandbox.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Where the tests find the repository's files (corpora, scripts) and
    // the build's programs, also when a test binary is run by hand.
    setenv("RONVIX_SOURCE_DIR", RONVIX_SOURCE_DIR_DEFAULT, 0);
    setenv("RONVIX_BUILD_DIR", RONVIX_BUILD_DIR_DEFAULT, 0);
    ronvix::testing::ProcessSandbox sandbox;
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
