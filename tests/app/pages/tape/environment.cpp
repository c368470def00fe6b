// Every test of this program runs with a priority service that changes
// nothing.
#include "support/inert_priority.h"

namespace {

const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ronvix::testing::InertPriorityEnvironment);

}  // namespace
