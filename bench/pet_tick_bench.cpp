// One animation tick for 1, 10 and 50 visible pets, sprite and vector kinds.
//  - BM_*PetTick: PetAnimationClock::tick() advancing every view (sprite
//    pets swap their frame layer's contents, vector pets mark themselves
//    for redisplay every second tick).
//  - BM_*PetTickAndDraw: the same, then every pet whose picture changed is
//    drawn into its panel's bitmap, as a frame on screen would need.
// The counter "vs_bare_blit" divides that cost by the cost of a bare Cairo
// blit of the same frames into surfaces of the same pixel size;
// "frame_budget_%" is the share of a 60 Hz frame (16.7 ms) on one core, and
// "worst_frame_ms" the slowest single tick and "busy_frame_ms" the 75th
// percentile: vector pets all redraw together on every second tick, so the
// average hides those frames, and the percentile is their typical cost.
//
// The sprite sheets come from the build's resources/ folder (built by the
// sprite_sheets target).

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "Mossbridge/pets/PetAnimationClock.h"
#include "Mossbridge/pets/PetView.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/drawing/Panel.h"
#include "platform/drawing/WindowServer.h"

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

    void tick() {
        dispatcher.virtualClock().advance(1.0 / 60);
        PetAnimationClock::shared().tick();
    }

    // Every pet whose picture changed since it was last drawn.
    void drawChanged() {
        shown.resize(views.size());
        for (std::size_t i = 0; i < panels.size(); ++i) {
            const bool changed = views[i]->isSpritePet() ? views[i]->layers().sprite->contents != shown[i]
                                                         : views[i]->needsDisplay();
            if (!changed) continue;
            shown[i] = views[i]->layers().sprite->contents;
            benchmark::DoNotOptimize(panels[i]->render());
        }
    }

    std::vector<platform::BitmapRef> shown;
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

void petTick(benchmark::State& state, bool sprite, bool draw) {
    Desk desk(static_cast<int>(state.range(0)), sprite);
    // The vector pets' frames: their drawing, made once.
    std::vector<platform::BitmapRef> vectorFrames;
    if (!sprite)
        for (const auto& panel : desk.panels) vectorFrames.push_back(panel->render());
    double tickSeconds = 0, blitSeconds = 0, worstSeconds = 0;
    std::vector<double> frameSeconds;
    for (auto _ : state) {
        const auto start = Clock::now();
        desk.tick();
        if (draw) desk.drawChanged();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        tickSeconds += elapsed;
        worstSeconds = std::max(worstSeconds, elapsed);
        frameSeconds.push_back(elapsed);

        // The same frames: the sprites shown now, or the vector pets' drawings.
        std::vector<platform::BitmapRef> frames = vectorFrames;
        if (sprite)
            for (const auto& view : desk.views) frames.push_back(view->layers().sprite->contents);
        blitSeconds += bareBlitSeconds(frames);
    }
    const double iterations = double(state.iterations());
    state.counters["vs_bare_blit"] = blitSeconds > 0 ? tickSeconds / blitSeconds : 0;
    state.counters["frame_budget_%"] = 100 * (tickSeconds / iterations) / (1.0 / 60);
    state.counters["worst_frame_ms"] = 1000 * worstSeconds;
    if (!frameSeconds.empty()) {
        const auto busy = frameSeconds.begin() + std::ptrdiff_t(frameSeconds.size() * 3 / 4);
        std::nth_element(frameSeconds.begin(), busy, frameSeconds.end());
        state.counters["busy_frame_ms"] = 1000 * *busy;
    }
}

void BM_SpritePetTick(benchmark::State& state) { petTick(state, true, false); }
void BM_VectorPetTick(benchmark::State& state) { petTick(state, false, false); }
void BM_SpritePetTickAndDraw(benchmark::State& state) { petTick(state, true, true); }
void BM_VectorPetTickAndDraw(benchmark::State& state) { petTick(state, false, true); }

BENCHMARK(BM_SpritePetTick)->Arg(1)->Arg(10)->Arg(50)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VectorPetTick)->Arg(1)->Arg(10)->Arg(50)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpritePetTickAndDraw)->Arg(1)->Arg(10)->Arg(50)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VectorPetTickAndDraw)->Arg(1)->Arg(10)->Arg(50)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
