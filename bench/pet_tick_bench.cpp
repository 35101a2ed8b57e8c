// One animation tick for 1, 10 and 50 visible pets, sprite and vector kinds.
//  - BM_*PetTick: PetAnimationClock::tick() advancing every view (sprite
//    pets swap their frame layer's contents, vector pets mark themselves
//    for redisplay every second tick).
//  - BM_*PetTickAndDraw: the same, then every pet whose picture changed is
//    drawn into its panel (Panel::render), as a frame on screen would need.
// The counter "vs_blit" divides that cost by the cost of the least a frame
// can do: blitting the same changed frames (the pets that changed on that
// tick, each its current sprite cell or its finished drawing) into surfaces
// kept from tick to tick, in a pass after the ticks. "frame_budget_%" is the share of a 60 Hz frame
// (16.7 ms) on one core, "worst_frame_%" the slowest single tick's share
// ("p99_frame_%" the 99th percentile), and "busy_frame_ms" the 75th
// percentile: vector pets all redraw together on every second tick, so the
// average hides those frames. Those are wall-clock times; "cpu_p99_frame_%"
// and "cpu_worst_frame_%" are the same ticks on the thread's CPU clock, which
// leaves out the time a loaded machine gives the core to other processes.
// Timing starts after an untimed bob of warm-up ticks.
// The last lines sum up the 50-pet runs, the ratio to the blits last.
//
// The sprite sheets come from the build's resources/ folder (built by the
// sprite_sheets target).

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
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
constexpr double frameSeconds = 1.0 / 60;
constexpr int pixelWidth = 184, pixelHeight = 208, spritePixelHeight = 160;
constexpr int warmUpTicks = 140;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A Cairo surface over a bitmap's pixels (read only).
cairo_surface_t* surfaceOf(const platform::Bitmap& bitmap) {
    return cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(bitmap.data())), CAIRO_FORMAT_ARGB32,
        bitmap.width(), bitmap.height(), bitmap.stride() * 4);
}

struct Desk {
    platform::DeterministicDispatcher dispatcher;
    platform::WindowServer server{{platform::Screen{{0, 0, 2560, 1440}, {0, 0, 2560, 1400}, 2}}};
    std::vector<std::shared_ptr<platform::Panel>> panels;
    std::vector<std::shared_ptr<PetView>> views;
    std::vector<platform::BitmapRef> shown;  // the sprite each pet showed when last drawn
    std::vector<std::size_t> changed;        // the pets drawn on the last tick

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
        shown.resize(views.size());
        changed.reserve(views.size());
    }
    ~Desk() {
        views.clear();
        panels.clear();
        PetAnimationClock::resetSharedForTesting();
    }

    void tick() {
        dispatcher.virtualClock().advance(frameSeconds);
        PetAnimationClock::shared().tick();
    }

    // Every pet whose picture changed since it was last drawn.
    void drawChanged() {
        changed.clear();
        for (std::size_t i = 0; i < panels.size(); ++i) {
            const bool isChanged = views[i]->isSpritePet() ? views[i]->layers().sprite->contents != shown[i]
                                                           : views[i]->needsDisplay();
            if (!isChanged) continue;
            changed.push_back(i);
            shown[i] = views[i]->layers().sprite->contents;
            benchmark::DoNotOptimize(panels[i]->render());
        }
    }
};

// The baseline: one surface of a panel's pixel size per pet, kept from tick
// to tick; each changed pet's current frame is blitted into its own.
class Blitter {
public:
    explicit Blitter(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            targets_.push_back(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight));
            contexts_.push_back(cairo_create(targets_.back()));
        }
    }
    ~Blitter() {
        for (auto* cr : contexts_) cairo_destroy(cr);
        for (auto* surface : targets_) cairo_surface_destroy(surface);
    }
    Blitter(const Blitter&) = delete;
    Blitter& operator=(const Blitter&) = delete;

    // A sprite cell scaled into the sprite's part of the panel, or a finished
    // drawing copied as it is, over a cleared surface.
    void blit(std::size_t pet, const platform::Bitmap& frame, bool scaled) {
        cairo_t* cr = contexts_[pet];
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        cairo_surface_t* source = surfaceOf(frame);
        if (scaled) cairo_scale(cr, double(pixelWidth) / frame.width(), double(spritePixelHeight) / frame.height());
        cairo_set_source_surface(cr, source, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_surface_flush(targets_[pet]);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(targets_[pet]));
        cairo_surface_destroy(source);
    }

private:
    std::vector<cairo_surface_t*> targets_;
    std::vector<cairo_t*> contexts_;
};

// Ticks as shares of a 60 Hz frame.
struct FrameShares {
    double averagePercent = 0, p99Percent = 0, worstPercent = 0, busyMs = 0;
};

FrameShares frameShares(std::vector<double> seconds) {
    FrameShares shares;
    if (seconds.empty()) return shares;
    const auto percent = [](double s) { return 100 * s / frameSeconds; };
    double total = 0;
    for (double s : seconds) total += s;
    shares.averagePercent = percent(total / double(seconds.size()));
    shares.worstPercent = percent(*std::max_element(seconds.begin(), seconds.end()));
    const auto busy = seconds.begin() + std::ptrdiff_t(seconds.size() * 3 / 4);
    std::nth_element(seconds.begin(), busy, seconds.end());
    shares.busyMs = 1000 * *busy;
    const auto rare = seconds.begin() + std::ptrdiff_t(seconds.size() * 99 / 100);
    std::nth_element(seconds.begin(), rare, seconds.end());
    shares.p99Percent = percent(*rare);
    return shares;
}

// The CPU time the calling thread has used: what the tick costs, without
// the time other processes of a loaded machine take the core away.
double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// The 50-pet figures, for the summary.
struct Summary {
    FrameShares wall, cpu;
    double vsBlit = 0;
    bool measured = false;
};
Summary vectorSummary, spriteSummary;

void petTick(benchmark::State& state, bool sprite, bool draw) {
    Desk desk(static_cast<int>(state.range(0)), sprite);
    Blitter blitter(desk.views.size());
    // The vector pets' frames: each one's drawing, made once (a copy, so
    // that the panel may draw into its own pixels again).
    std::vector<platform::BitmapRef> drawings;
    for (const auto& panel : desk.panels) {
        if (sprite) {
            drawings.push_back(nullptr);
            continue;
        }
        const auto drawn = panel->render();
        const std::size_t size = std::size_t(drawn->width()) * std::size_t(drawn->height());
        drawings.push_back(platform::Bitmap::make(drawn->width(), drawn->height(),
                                                  std::vector<std::uint32_t>(drawn->data(), drawn->data() + size)));
    }
    // Untimed: one whole bob of the vector pets (about 2.2 s), so that what
    // is measured is the steady state, with the pictures a canvas keeps
    // already made and every panel's canvas in place.
    for (int i = 0; i < warmUpTicks; ++i) {
        desk.tick();
        if (draw) desk.drawChanged();
    }
    // Without its sheet a sprite pet shows nothing, and the figures would
    // measure an empty panel.
    for (const auto& view : desk.views) {
        if (view->isSpritePet() && !view->layers().sprite->contents) {
            state.SkipWithError(
                "a sprite pet shows no frame: keep the bench beside its build's resources or set MOSSBRIDGE_RESOURCES");
            return;
        }
    }
    double tickSeconds = 0, blitSeconds = 0;
    std::vector<double> ticks, cpuTicks;
    // The frames each tick drew, blitted in a pass of their own after the
    // ticks: blits between the ticks would push the pets' pixels out of the
    // caches and charge that to the ticks.
    std::vector<std::pair<std::size_t, platform::BitmapRef>> drawnFrames;
    std::vector<std::size_t> drawnPerTick;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double cpuStart = threadCpuSeconds();
        desk.tick();
        if (draw) desk.drawChanged();
        cpuTicks.push_back(threadCpuSeconds() - cpuStart);
        const double elapsed = secondsSince(start);
        state.SetIterationTime(elapsed);
        tickSeconds += elapsed;
        ticks.push_back(elapsed);

        if (!draw) continue;
        for (std::size_t pet : desk.changed) {
            const platform::BitmapRef& frame = sprite ? desk.shown[pet] : drawings[pet];
            if (frame) drawnFrames.emplace_back(pet, frame);
        }
        drawnPerTick.push_back(drawnFrames.size());
    }
    // Timed tick by tick, as the ticks are.
    std::size_t next = 0;
    for (std::size_t end : drawnPerTick) {
        const auto blitStart = Clock::now();
        for (; next < end; ++next) blitter.blit(drawnFrames[next].first, *drawnFrames[next].second, sprite);
        blitSeconds += secondsSince(blitStart);
    }
    const FrameShares wall = frameShares(std::move(ticks));
    const FrameShares cpu = frameShares(std::move(cpuTicks));
    const double vsBlit = blitSeconds > 0 ? tickSeconds / blitSeconds : 0;
    if (draw) state.counters["vs_blit"] = vsBlit;
    state.counters["frame_budget_%"] = wall.averagePercent;
    state.counters["worst_frame_%"] = wall.worstPercent;
    state.counters["p99_frame_%"] = wall.p99Percent;
    state.counters["busy_frame_ms"] = wall.busyMs;
    state.counters["cpu_p99_frame_%"] = cpu.p99Percent;
    state.counters["cpu_worst_frame_%"] = cpu.worstPercent;
    if (draw && state.range(0) == 50) (sprite ? spriteSummary : vectorSummary) = {wall, cpu, vsBlit, true};
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

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto& [kind, summary] : {std::pair{"vector", &vectorSummary}, std::pair{"sprite", &spriteSummary}}) {
        if (!summary->measured) continue;
        std::printf("50 %s pets, tick and draw: %.2f %% of a 60 Hz frame on average, worst frame %.1f %% "
                    "(99th percentile %.1f %%); on the thread's CPU clock %.2f %%, worst %.1f %% "
                    "(99th percentile %.1f %%)\n",
                    kind, summary->wall.averagePercent, summary->wall.worstPercent, summary->wall.p99Percent,
                    summary->cpu.averagePercent, summary->cpu.worstPercent, summary->cpu.p99Percent);
    }
    if (vectorSummary.measured || spriteSummary.measured)
        std::printf("ratio to blitting the same changed frames into reused surfaces: vector %.2fx, sprite %.2fx\n",
                    vectorSummary.vsBlit, spriteSummary.vsBlit);
    return 0;
}
