// The main loop: logic ticks at a fixed 33 per second, frames as fast as the
// machine draws them, until Esc.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "control.h"
#include "core/world.h"
#include "map_watch.h"
#include "open_map.h"
#include "render/fast/ground_fast.h"
#include "render/frame.h"
#include "render/map_view.h"
#include "shell.h"

// Frames and ticks of one run, for --stats.
struct RunCounts {
    long frames = 0;
    long ticks = 0;
};

static void PrintStats(const RunCounts& counts, double seconds)
{
    const double fps = seconds > 0 ? counts.frames / seconds : 0.0;
    const double tps = seconds > 0 ? counts.ticks / seconds : 0.0;
    std::printf("frames %ld ticks %ld seconds %.2f fps %.1f tps %.2f\n",
                counts.frames, counts.ticks, seconds, fps, tps);
    std::fflush(stdout);
}

// The map from above in the frame picture's box, when the frame has one.
static void DrawMapBox(const Viewer& viewer, const World& world)
{
    if (!viewer.Options.files.mapInFrame)
        return;
    BitmapPtr box(create_sub_bitmap(viewer.Backbuffer.get(), MapBoxLeft, MapBoxTop, MapBoxSide, MapBoxSide));
    if (box)
        DrawMapView(world, box.get(), MapBoxScale);
}

// --watch: the map as last saved, read into a fresh World. A map that loads
// replaces `world`; one that does not keeps the last good one, and its
// reason is printed once the file has stayed as it is for a while, so that
// a file caught half written (a shell's "cat new >map" leaves it empty
// until cat runs) says nothing. Returns true when `world` changed.
class Reloader {
public:
    Reloader(const std::string& map, const World& world) : Map(map), Watch(map) { Watch.Settle(world); }

    bool Look(std::unique_ptr<World>& world)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!Watch.Changed()) {
            if (!Pending.empty() && now >= PendingSince + QuietBeforeReport) {
                std::fprintf(stderr, "groundview: %s\n", Pending.c_str());
                Pending.clear();
            }
            return false;
        }
        Watch.NoteMapRead();
        auto fresh = std::make_unique<World>();
        Error error;
        if (!OpenMap(*fresh, Map, error)) {
            Watch.SettleFailure();
            Pending = error.Message();
            PendingSince = now;
            return false;
        }
        Pending.clear();
        Watch.Settle(*fresh);
        world = std::move(fresh);
        return true;
    }

private:
    // How long a map that cannot be loaded stays unchanged before the
    // reason is printed.
    static constexpr std::chrono::milliseconds QuietBeforeReport{300};

    std::string Map;
    MapWatch Watch;
    std::string Pending;  // why the last save cannot be shown, not yet printed
    std::chrono::steady_clock::time_point PendingSince;
};

// How often --watch looks at the map's files.
constexpr std::chrono::milliseconds WatchInterval{10};

// Seconds since the epoch, to the microsecond: when a reloaded map was first
// shown, comparable with a timestamp taken by whoever saved it.
static double WallClock()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

int GameLoop(Viewer& shell, std::string& failure)
{
    const ShellOptions& options = shell.Options;
    BITMAP* backbuffer = shell.Backbuffer.get();
    // Declared first, so it is destroyed last: after the view, on every way out.
    auto world = std::make_unique<World>();
    // The fast ground renderer and what it keeps from frame to frame.
    GroundRenderer ground;
    ViewerState viewer;
    int done = 0;
    // The view shares its pixels with the back buffer.
    BitmapPtr view = MakeView(backbuffer);
    if (!view) {
        failure = "out of memory for the view";
        return 1;
    }
    // The frame picture goes in once; from now on only the view is redrawn.
    blit(shell.Board.get(), backbuffer, 0, 0, 0, 0, FrameWidth, FrameHeight);

    const std::string& map = options.files.map;
    Error error;
    if (!OpenMap(*world, map, error)) {
        failure = error.Message();
        return 1;
    }
    DrawMapBox(shell, *world);
    WalkSession& walk = shell.Walk;
    if (!walk.Start(map, viewer, failure))
        return 1;
    if (walk.Timing())
        return RunTimedemo(walk, *world, ground, backbuffer, view.get(), viewer);
    std::unique_ptr<Reloader> reloader;
    if (options.watch)
        reloader = std::make_unique<Reloader>(map, *world);

    RunCounts counts;
    // A screenshot that cannot be written is said once, until one succeeds.
    bool screenshotFailing = false;
    const auto start = std::chrono::steady_clock::now();
    auto nextLook = start;
    while (!done) {
        // Every pending tick first: after a slow frame the logic catches up
        // in one burst and is then drawn once.
        while (gcounter.load() != 0 && !walk.Finished()) {
            const uint8_t held = walk.NextKeys();
            const ViewerState before = viewer;
            StepViewer(viewer, SteeringKeys(held));
            if (held & WalkScreenshot) {
                // A walk's screenshot shows the ticks before it, whatever
                // was drawn last: the same picture in every replay.
                if (walk.Active())
                    DrawView(*world, ground, view.get(), before.x, before.y, ViewHeightIndex, before.angle);
                Error error;
                const bool saved = WritePicture(options.files.screenshot, backbuffer, PictureFormat::Bmp, error);
                if (!saved && !screenshotFailing)
                    std::fprintf(stderr, "groundview: screenshot %s\n", error.Message().c_str());
                screenshotFailing = !saved;
            }
            world->AnimateTiles();
            gcounter.fetch_sub(1);
            counts.ticks++;
        }
        // Every 10 ms rather than every frame: frames come far more often,
        // and a third of a tick keeps a save's way to the screen short.
        bool reloaded = false;
        if (reloader && std::chrono::steady_clock::now() >= nextLook) {
            reloaded = reloader->Look(world);
            nextLook = std::chrono::steady_clock::now() + WatchInterval;
        }
        if (reloaded)
            DrawMapBox(shell, *world);

        DrawView(*world, ground, view.get(), viewer.x, viewer.y, ViewHeightIndex, viewer.angle);
        blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        counts.frames++;
        if (reloaded) {
            std::printf("reloaded %s, shown at %.6f\n", map.c_str(), WallClock());
            std::fflush(stdout);
        }

        // Read after the frame: Esc during a tick burst ends the loop only
        // once that burst has been drawn.
        if (key[KEY_ESC] || walk.Finished())
            done = 1;
    }
    const std::chrono::duration<double> run = std::chrono::steady_clock::now() - start;
    if (!walk.Finish(failure))
        return 1;

    if (options.stats)
        PrintStats(counts, run.count());
    return 0;
}
