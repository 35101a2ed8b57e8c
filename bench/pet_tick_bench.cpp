// One animation tick for 1, 10 and 50 visible pets, sprite and vector kinds.
// A tick is what a 60 Hz frame costs: PetAnimationClock::tick() advancing
// every view, then drawing each pet's panel. The counter "vs_bare_blit" is
// that cost divided by the cost of a bare Cairo blit of the same frames
// into surfaces of the same size; "frame_budget_%" is the tick's share of
// a 60 Hz frame (16.7 ms) on one core.
//
// The sprite sheets come from the build's resources/ folder (built by the
// sprite_sheets target).

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <chrono>
#include <vector>

#include "Mossbridge/PetAnimationClock.h"
#include "Mossbridge/PetView.h"
#include "platform/DeterministicDispatch.h"
#include "platform/Panel.h"
#include "platform/WindowServer.h"

namespace {

using namespace Mossbridge;
using Clock = std::chrono::steady_clock;

constexpr PetKind spriteKinds[] = {PetKind::robotV1, PetKind::calendarV1, PetKind::tunebug, PetKind::puppyTestV1};
constexpr PetKind vectorKinds[] = {PetKind::cat, PetKind::ghost, PetKind::sprout, PetKind::blob};

struct Desk {
    platform::DeterministicDispatcher dispatcher;
    platform::WindowServer server{{platform::Screen{{0, 0, 2560, 1440}, {0, 0, 2560, 1400}, 2}}};
    std::vector<std::shared_ptr<platform::Panel>> panels;
    std::vector<std::shared_ptr<PetView>> views;

    Desk(int count, bool sprite) {
        PetAnimationClock::configureShared({&dispatcher, {}});
        for (int i = 0; i < count; ++i) {
            AppAssignment assignment;
            assignment.appName = "App " + std::to_string(i);
            assignment.petKind = sprite ? spriteKinds[i % 4] : vectorKinds[i % 4];
            const platform::Rect frame{double(i % 20) * 100, double(i / 20) * 120, 92, 104};
            auto panel = platform::Panel::make(server, frame);
            auto view = PetView::make({0, 0, 92, 104}, assignment, {}, {}, dispatcher);
            panel->setContentView(view);
            panel->orderFront();
            view->isFocused = i == 0;
            view->startAnimating();
            panels.push_back(panel);
            views.push_back(view);
        }
    }
    ~Desk() {
        views.clear();
        panels.clear();
        PetAnimationClock::resetSharedForTesting();
    }

    // One frame: the tick, then every pet whose picture changed is drawn.
    void frame() {
        dispatcher.virtualClock().advance(1.0 / 60);
        PetAnimationClock::shared().tick();
        for (std::size_t i = 0; i < panels.size(); ++i) {
            if (views[i]->isSpritePet() || views[i]->needsDisplay()) benchmark::DoNotOptimize(panels[i]->render());
        }
    }
};

// The baseline: each pet's current picture painted into a surface of its
// panel's pixel size with Cairo directly.
double bareBlitSeconds(const std::vector<platform::BitmapRef>& frames) {
    const auto start = Clock::now();
    for (const auto& frame : frames) {
        if (!frame) continue;
        cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 184, 208);
        cairo_t* cr = cairo_create(target);
        cairo_surface_t* source = cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(frame->data())), CAIRO_FORMAT_ARGB32,
            frame->width(), frame->height(), frame->width() * 4);
        cairo_scale(cr, 184.0 / frame->width(), 160.0 / frame->height());
        cairo_set_source_surface(cr, source, 0, 0);
        cairo_paint(cr);
        cairo_surface_flush(target);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(target));
        cairo_surface_destroy(source);
        cairo_destroy(cr);
        cairo_surface_destroy(target);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void petTick(benchmark::State& state, bool sprite) {
    Desk desk(static_cast<int>(state.range(0)), sprite);
    double tickSeconds = 0, blitSeconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        desk.frame();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        tickSeconds += elapsed;

        // The same frames: the sprite shown now, or the vector pet's drawing.
        std::vector<platform::BitmapRef> frames;
        for (std::size_t i = 0; i < desk.views.size(); ++i)
            frames.push_back(sprite ? desk.views[i]->layers().sprite->contents : desk.panels[i]->render());
        blitSeconds += bareBlitSeconds(frames);
    }
    const double iterations = double(state.iterations());
    state.counters["vs_bare_blit"] = blitSeconds > 0 ? tickSeconds / blitSeconds : 0;
    state.counters["frame_budget_%"] = 100 * (tickSeconds / iterations) / (1.0 / 60);
}

void BM_SpritePetTick(benchmark::State& state) { petTick(state, true); }
void BM_VectorPetTick(benchmark::State& state) { petTick(state, false); }

BENCHMARK(BM_SpritePetTick)->Arg(1)->Arg(10)->Arg(50)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VectorPetTick)->Arg(1)->Arg(10)->Arg(50)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
