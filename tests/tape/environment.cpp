// Every tape test runs with a priority service that changes nothing:
// showing the main window applies the capture priority, and no test may
// change the scheduling of the test process itself.
#include <gtest/gtest.h>

#include "platform/win/priority.h"

namespace {

class InertPriority : public ronvix::win::PriorityService {
public:
    bool SetProcessClass(ronvix::win::DWORD, ronvix::win::DWORD) override { return true; }
    ronvix::win::DWORD ProcessClass(ronvix::win::DWORD) override { return 0; }
    bool SetThreadLevel(ronvix::win::DWORD, int) override { return true; }
};

class TapeEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ronvix::win::SetPriorityService(&m_inert); }
    void TearDown() override { ronvix::win::SetPriorityService(nullptr); }

private:
    InertPriority m_inert;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new TapeEnvironment);

}  // namespace
