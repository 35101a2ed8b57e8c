#pragma once
// Test support: one pet view in a visible panel on an in-memory desktop,
// with the shared animation clock on a deterministic dispatcher (no display
// link, so the 1/60 s timer drives it) and the sprite sheets the build
// generated.

#include "TestPaths.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "Mossbridge/pets/PetAnimationClock.h"
#include "Mossbridge/pets/PetView.h"
#include "Mossbridge/pets/SpriteSheet.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/drawing/Panel.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge::testing {

class PetViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        VULMainBundle::setResourcesDirectory(testpaths::binaryDir() / "resources");
        resetSpriteSheetCachesForTesting();
        PetAnimationClock::configureShared({&dispatcher, {}});
    }
    void TearDown() override {
        view.reset();
        panel.reset();
        PetAnimationClock::resetSharedForTesting();
        resetSpriteSheetCachesForTesting();
        VULMainBundle::setResourcesDirectory(std::nullopt);
    }

    static AppAssignment assignmentOf(PetKind kind, const std::string& appName = "Notes") {
        AppAssignment assignment;
        assignment.bundleIdentifier = "com.example.notes";
        assignment.appName = appName;
        assignment.petKind = kind;
        assignment.frame = CodableRect(100, 100, PetView::basePetWidth, PetView::basePetHeight);
        return assignment;
    }

    // A visible panel at (100, 100) showing a new view of `kind`.
    std::shared_ptr<PetView> show(PetKind kind, AppStatus status = {}, MossbridgePreferences preferences = {}) {
        panel = platform::Panel::make(server, {100, 100, PetView::basePetWidth, PetView::basePetHeight});
        view = PetView::make({0, 0, PetView::basePetWidth, PetView::basePetHeight}, assignmentOf(kind),
                             std::move(status), preferences, dispatcher);
        panel->setContentView(view);
        panel->orderFront();
        view->updateTrackingAreas();
        return view;
    }

    // The point of the view at (x, y) on the screen.
    platform::Point onScreen(double x, double y) const {
        return {panel->frame().minX() + x, panel->frame().minY() + y};
    }

    platform::DeterministicDispatcher dispatcher;
    platform::WindowServer server{{platform::Screen{{0, 0, 800, 600}, {0, 0, 800, 575}, 2}}};
    std::shared_ptr<platform::Panel> panel;
    std::shared_ptr<PetView> view;
};

}  // namespace Mossbridge::testing
