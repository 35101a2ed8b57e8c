#pragma once
// Test support: an in-memory desktop with one 1440 x 900 screen (visible
// frame 1440 x 875 above the bottom), the pet panels' companions on a
// deterministic dispatcher, and a clock that starts at a known time.

#include <gtest/gtest.h>

#include "platform/core/DeterministicDispatch.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge::testing {

class CompanionPanelTest : public ::testing::Test {
protected:
    static constexpr platform::Rect visibleFrame{0, 0, 1440, 875};

    platform::DeterministicDispatcher dispatcher;
    platform::WindowServer server{{platform::Screen{{0, 0, 1440, 900}, visibleFrame, 2}}};
};

}  // namespace Mossbridge::testing
