// Benchmarks of the drawing and the world operations the viewer runs: the
// plain and the fast ground at every instruction level this CPU has, the
// sky, one animation tick, loading the board file and one whole frame; and
// the ground drawn 300 µs apart, as the viewer shows frames.
// Frames turn as the viewer does: frame i at (480, 480), height 14, heading
// (7 * i) mod 2880.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench_world.h"
#include "render/frame.h"
#include "render/ground.h"
#include "render/fast/ground_fast.h"
#include "core/world.h"

namespace {

World* TheWorld = nullptr;
std::string Board;

int Heading(int64_t frame)
{
    return static_cast<int>(frame * 7 % AngleSteps);
}

// Pixels the ground fills in one frame of the viewer's view.
constexpr int64_t GroundPixels = int64_t{ViewWidth} * (ViewRows - Horizon - 2);

void GroundAtLevel(benchmark::State& state, int level)
{
    const OffscreenFrame frame = MakeOffscreenFrame();
    GroundRenderer ground;
    ground.SetLevel(level);
    int64_t i = 0;
    for (auto _ : state) {
        ground.Draw(*TheWorld, frame.View.get(), StartX, StartY, ViewHeightIndex, Heading(i++), Horizon);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * GroundPixels);
}

// Draws 300 µs apart, as the viewer draws the frames it shows: the time of
// the draws alone, at the best level.
void GroundApart(benchmark::State& state)
{
    const OffscreenFrame frame = MakeOffscreenFrame();
    GroundRenderer ground;
    int64_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        state.ResumeTiming();
        ground.Draw(*TheWorld, frame.View.get(), StartX, StartY, ViewHeightIndex, Heading(i++), Horizon);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * GroundPixels);
}

// One of the World's two drawing methods, which take the same arguments:
// the plain ground or the sky.
using DrawMethod = void (World::*)(BITMAP* view, float x, float y, int height, int angle, int horizon) const;

void DrawWith(benchmark::State& state, DrawMethod draw, int64_t pixels)
{
    const OffscreenFrame frame = MakeOffscreenFrame();
    int64_t i = 0;
    for (auto _ : state) {
        (TheWorld->*draw)(frame.View.get(), StartX, StartY, ViewHeightIndex, Heading(i++), Horizon);
        benchmark::ClobberMemory();
    }
    if (pixels > 0)  // the sky's pixels are block copies, not counted
        state.SetItemsProcessed(state.iterations() * pixels);
}

// The per-draw table of where each cell's texels are, which both ground
// renderers build first.
void BuildTexelTable(benchmark::State& state)
{
    TexelSources sources;
    for (auto _ : state) {
        BuildTexelSources(*TheWorld, sources);
        benchmark::DoNotOptimize(sources.data());
        benchmark::ClobberMemory();
    }
}

void AnimateTiles(benchmark::State& state)
{
    for (auto _ : state) {
        TheWorld->AnimateTiles();
        benchmark::ClobberMemory();
    }
}

void LoadMap(benchmark::State& state)
{
    World world;
    for (auto _ : state) {
        if (world.LoadMap(Board.c_str()) != 0) {
            state.SkipWithError(world.LastError().Message().c_str());
            break;
        }
    }
}

// Sky, ground, and the back buffer copied whole into a second memory bitmap
// as the viewer copies it to the screen.
void WholeFrame(benchmark::State& state)
{
    const OffscreenFrame frame = MakeOffscreenFrame();
    BitmapPtr target(create_bitmap(FrameWidth, FrameHeight));
    GroundRenderer ground;
    int64_t i = 0;
    for (auto _ : state) {
        DrawView(*TheWorld, ground, frame.View.get(), StartX, StartY, ViewHeightIndex, Heading(i++));
        blit(frame.Backbuffer.get(), target.get(), 0, 0, 0, 0, FrameWidth, FrameHeight);
        benchmark::ClobberMemory();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // groundview_bench --make-board DIR: only writes the made map into DIR,
    // for measuring other programs on the same map.
    const bool makeBoard = argc == 3 && std::string(argv[1]) == "--make-board";
    if (!makeBoard)
        benchmark::Initialize(&argc, argv);
    if (!makeBoard && benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    Error error;
    if (!StartAllegroHeadless(error)) {
        std::fprintf(stderr, "groundview_bench: cannot start Allegro: %s\n", error.Message().c_str());
        return 1;
    }
    BuildTables();

    if (makeBoard) {
        if (!MakeBenchBoard(argv[2], error)) {
            std::fprintf(stderr, "groundview_bench: %s\n", error.Message().c_str());
            return 1;
        }
        std::printf("%s/bench.brd\n", argv[2]);
        return 0;
    }

    std::string description;
    Board = PrepareBenchBoard(description, error);
    World world;
    if (Board.empty() || world.LoadMap(Board.c_str()) != 0) {
        std::fprintf(stderr, "groundview_bench: no board to draw: %s\n",
                     Board.empty() ? error.Message().c_str() : world.LastError().Message().c_str());
        RemoveBenchBoard();
        return 1;
    }
    TheWorld = &world;
    benchmark::AddCustomContext("board", description);
    benchmark::AddCustomContext("ground level in use", GroundLevelName(GroundBestLevel()));

    benchmark::RegisterBenchmark("DrawGroundPlain", DrawWith, &World::DrawGround, GroundPixels);
    for (int level = GroundSse2; level < GroundLevels; ++level)
        if (GroundLevelSupported(level))
            benchmark::RegisterBenchmark((std::string("DrawGround/") + GroundLevelName(level)).c_str(), GroundAtLevel,
                                         level);
    benchmark::RegisterBenchmark("DrawGroundApart", GroundApart);
    benchmark::RegisterBenchmark("BuildTexelSources", BuildTexelTable);
    benchmark::RegisterBenchmark("DrawSky", DrawWith, &World::DrawSky, int64_t{0});
    benchmark::RegisterBenchmark("AnimateTiles", AnimateTiles);
    benchmark::RegisterBenchmark("LoadMap", LoadMap);
    benchmark::RegisterBenchmark("WholeFrame", WholeFrame);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveBenchBoard();
    return 0;
}
