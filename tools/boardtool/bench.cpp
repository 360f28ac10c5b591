// boardtool bench: draws frames of a board file as the viewer draws them,
// into a back buffer in memory, and says how fast that went.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "command.h"
#include "tiled/open_map.h"
#include "render/frame.h"
#include "render/fast/ground_fast.h"

namespace {

struct BenchArguments {
    std::string board;
    int64_t frames = 1000;
    bool plain = false;
    GroundOptions ground;
};

// Frame i: the viewer at the start, turned 7 steps further each frame.
constexpr int BenchTurn = 7;

int Bench(const BenchArguments& args)
{
    if (args.frames < 1)
        return Refuse("--frames " + std::to_string(args.frames) + " draws nothing: give 1 or more");

    World world;
    GroundRenderer ground;
    if (const int refused = ApplyGroundOptions(args.ground, ground))
        return refused;
    if (args.plain)
        ground.SetLevel(GroundPlain);
    Error error;
    if (!OpenMap(world, args.board, error))
        return Refuse(error);
    OffscreenFrame frame = MakeOffscreenFrame();
    if (!frame.View)
        return Refuse("out of memory for the back buffer");

    const auto start = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < args.frames; ++i)
        DrawView(world, ground, frame.View.get(), StartX, StartY, ViewHeightIndex,
                 static_cast<int>(i * BenchTurn % AngleSteps));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    const double seconds = elapsed.count() > 0.0 ? elapsed.count() : 1e-9;
    const double groundPixels = static_cast<double>(ViewWidth) * (ViewRows - Horizon - 2);
    std::printf("%lld frames in %.3f s: %.1f frames per second, ground %.1f Mpixel/s (ground renderer: %s, 1 thread)\n",
                static_cast<long long>(args.frames), seconds, args.frames / seconds,
                args.frames * groundPixels / seconds / 1e6, GroundLevelName(ground.Level()));
    return 0;
}

}  // namespace

CommandRun SetupBench(CLI::App* command)
{
    const auto args = BoardOptions<BenchArguments>(command);
    command->add_option("--frames", args->frames, "frames to draw (default 1000)")->option_text("N");
    CLI::Option* plain = command->add_flag("--plain", args->plain, "the same as --level plain");
    AddGroundOptions(command, args->ground);
    plain->excludes("--level");
    return Runs(Bench, args);
}
