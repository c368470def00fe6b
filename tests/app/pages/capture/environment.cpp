// Every capture test runs with a priority service that records and changes
// nothing: showing the main window applies the capture priority, and no
// test may change the scheduling of the test process itself.
#include <gtest/gtest.h>

#include "capture_fixture.h"

namespace {

class CaptureEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ronvix::win::SetPriorityService(&ronvix::testing::Priority()); }
    void TearDown() override { ronvix::win::SetPriorityService(nullptr); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new CaptureEnvironment);

}  // namespace
