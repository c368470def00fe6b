// Test entry for layers without widgets: a QCoreApplication exists so that
// queued calls and posted events can be delivered by tests that spin the loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include "support/sandbox.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ronvix::testing::ProcessSandbox sandbox;
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
