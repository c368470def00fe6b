#pragma once
// A priority service that changes nothing, installed for a whole test
// program: showing the main window applies the capture priority, and no test
// may change the scheduling of the test process itself.
#include <gtest/gtest.h>

#include "platform/win/priority.h"

namespace ronvix::testing {

class InertPriority : public win::PriorityService {
public:
    bool SetProcessClass(win::DWORD, win::DWORD) override { return true; }
    win::DWORD ProcessClass(win::DWORD) override { return 0; }
    bool SetThreadLevel(win::DWORD, int) override { return true; }
};

class InertPriorityEnvironment : public ::testing::Environment {
public:
    void SetUp() override { win::SetPriorityService(&m_inert); }
    void TearDown() override { win::SetPriorityService(nullptr); }

private:
    InertPriority m_inert;
};

}  // namespace ronvix::testing
