// The main loop: logic ticks at a fixed 33 per second, frames as fast as the
// machine draws them, until Esc. A viewer given a map also shows where it
// stands and takes the map maker's keys and clicks, and draws a frame only
// when something on it changes.
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "control.h"
#include "core/world.h"
#include "map_watch.h"
#include "render/fast/ground_fast.h"
#include "render/frame.h"
#include "render/map_view.h"
#include "shell.h"
#include "tiled/open_map.h"

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

// --watch: the map as last saved, read into a fresh World. A map that loads
// replaces `world`; one that does not keeps the last good one, and its
// reason is reported once the files have stayed as they are for a while,
// so that a file caught half written (a shell's "cat new >map" leaves it
// empty until cat runs) says nothing. Every file the map is made of is
// watched, as listed anew at each reading.
class Reloader {
public:
    // `files` and `stamps`: the map's files as they were just before
    // `world` was read from them.
    Reloader(const std::string& map, const World& world, const std::vector<std::string>& files,
             const std::vector<FileStamp>& stamps)
        : Map(map)
    {
        Watch.Settle(MapSourceFiles(map, &world), files, stamps);
    }

    // What one look found.
    struct Outcome {
        bool reloaded = false;      // `world` is the map as saved now
        bool faultChanged = false;  // Fault() says something else now
    };

    Outcome Look(std::unique_ptr<World>& world)
    {
        Outcome outcome;
        const auto now = std::chrono::steady_clock::now();
        if (!Watch.Changed()) {
            if (!Pending.empty() && now >= PendingSince + QuietBeforeReport) {
                std::fprintf(stderr, "groundview: %s\n", Pending.c_str());
                Shown = Pending;
                Pending.clear();
                outcome.faultChanged = true;
            }
            return outcome;
        }
        // Stamped before reading: a save made while reading is seen next time.
        const std::vector<std::string> files = MapSourceFiles(Map, world.get());
        const std::vector<FileStamp> stamps = MapWatch::StampsOf(files);
        auto fresh = std::make_unique<World>();
        Error error;
        if (!OpenMap(*fresh, Map, error)) {
            // The files as listed before reading: the map, what the failed
            // reading reached, and the images of the map still shown.
            Watch.Settle(files, files, stamps);
            Pending = error.Message();
            PendingSince = now;
            return outcome;
        }
        Watch.Settle(MapSourceFiles(Map, fresh.get()), files, stamps);
        world = std::move(fresh);
        Pending.clear();
        outcome.reloaded = true;
        outcome.faultChanged = !Shown.empty();
        Shown.clear();
        return outcome;
    }

    // Why the last save cannot be shown, once reported; empty while the map
    // on screen is the one saved last.
    const std::string& Fault() const { return Shown; }
    size_t FileCount() const { return Watch.Files().size(); }

private:
    // How long a map that cannot be loaded stays unchanged before the
    // reason is printed.
    static constexpr std::chrono::milliseconds QuietBeforeReport{300};

    std::string Map;
    MapWatch Watch;
    std::string Pending;  // why the last save cannot be shown, not yet reported
    std::chrono::steady_clock::time_point PendingSince;
    std::string Shown;    // the fault reported, until a good save
};

// How often --watch looks at the map's files.
constexpr std::chrono::milliseconds WatchInterval{10};
// How long a viewer with nothing to draw sleeps before it looks again for
// a tick, a key or a save: well under a tick, and a few hundred wake-ups a
// second cost next to nothing.
constexpr std::chrono::milliseconds IdleSleep{2};

// Seconds since the epoch, to the microsecond: when a reloaded map was first
// shown, comparable with a timestamp taken by whoever saved it.
static double WallClock()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// What one tick is given: the keys held, and a click in the map from above.
struct TickInput {
    TickKeys keys;
    bool screenshot = false;  // F12
    bool go = false;          // a click in the map: go to (goX, goY)
    float goX = 0.0f;
    float goY = 0.0f;
};

// Everything one run of the loop works on.
struct Loop {
    explicit Loop(Viewer& viewer) : shell(viewer), options(viewer.Options), mapMaker(options.files.mapInFrame) {}

    Viewer& shell;
    const ShellOptions& options;
    // A map of one's own (MAP given): the map maker's keys and clicks, the
    // map from above with the position on it, the status line, and frames
    // drawn only when something changes.
    bool mapMaker;
    std::unique_ptr<World> world;
    GroundRenderer ground;  // the fast ground renderer and what it keeps from frame to frame
    BitmapPtr view;         // shares its pixels with the back buffer
    ViewerState viewer;
    MapAverages averages;
    std::unique_ptr<Reloader> reloader;
    RunCounts counts;
    bool screenshotFailing = false;  // a screenshot that cannot be written is said once, until one succeeds
};

// The input of one tick as the keyboard and the mouse give it now.
static TickInput ReadTickInput(const Loop& loop)
{
    TickInput input;
    input.keys.right = key[KEY_RIGHT] != 0;
    input.keys.left = key[KEY_LEFT] != 0;
    input.keys.up = key[KEY_UP] != 0;
    input.screenshot = key[KEY_F12] != 0;
    if (!loop.mapMaker)
        return input;
    input.keys.down = key[KEY_DOWN] != 0;
    input.keys.higher = key[KEY_PGUP] != 0;
    input.keys.lower = key[KEY_PGDN] != 0;
    input.keys.home = key[KEY_HOME] != 0;
    const MouseClick click = TakeClick();
    if (click.clicked) {
        // The middle of the screen pixel, in frame pixels.
        const double scale = loop.shell.Scale;
        input.go = MapBoxPoint((click.x + 0.5) / scale, (click.y + 0.5) / scale, input.goX, input.goY);
    }
    return input;
}

// The input of one tick of a walk, recorded or played: the keys a walk
// holds, and no click, so that a replay takes exactly the recorded steps.
static TickInput WalkTickInput(uint8_t held)
{
    TickInput input;
    input.keys = SteeringKeys(held);
    input.screenshot = (held & WalkScreenshot) != 0;
    return input;
}

static void TakeScreenshot(Loop& loop)
{
    Error error;
    const bool saved =
        WritePicture(loop.options.files.screenshot, loop.shell.Backbuffer.get(), PictureFormat::Bmp, error);
    if (!saved && !loop.screenshotFailing)
        std::fprintf(stderr, "groundview: screenshot %s\n", error.Message().c_str());
    loop.screenshotFailing = !saved;
}

// The animation frames of every cell and of the ground outside the map.
using AnimationFrames = std::array<uint8_t, MapSize * MapSize + 1>;
static void FramesOf(const World& world, AnimationFrames& frames)
{
    size_t i = 0;
    for (const auto& column : world.Cells)
        for (const MapCell& cell : column)
            frames[i++] = cell.Frame;
    frames[i] = static_cast<uint8_t>(world.AnimFrame);
}

static void ComposeFrame(Loop& loop, const ViewerState& v);

// One logic tick: the keys, then a click, the screenshot and the
// animation. Returns true when the frame shows something else after it.
static bool RunTick(Loop& loop, const TickInput& input)
{
    const ViewerState before = loop.viewer;
    StepViewer(loop.viewer, input.keys, loop.options.start);
    if (input.go) {
        loop.viewer.x = input.goX;
        loop.viewer.y = input.goY;
    }
    if (input.screenshot) {
        // A walk's screenshot shows the ticks before it, whatever was drawn
        // last (a burst of ticks is drawn once): the same picture in every
        // replay.
        if (loop.shell.Walk.Active())
            ComposeFrame(loop, before);
        TakeScreenshot(loop);
    }
    if (!loop.mapMaker) {
        loop.world->AnimateTiles();
        return true;
    }
    AnimationFrames was, is;
    FramesOf(*loop.world, was);
    loop.world->AnimateTiles();
    FramesOf(*loop.world, is);
    return loop.viewer != before || was != is;
}

// The status lines: the map and where the viewer stands on it, the keys
// the frame picture does not list, and a save that cannot be shown.
static std::vector<StatusLine> StatusOf(const Loop& loop, const ViewerState& v)
{
    char where[160];
    const bool onMap = v.x >= 0 && v.x < MapSide && v.y >= 0 && v.y < MapSide;
    char cell[40];
    if (onMap)
        std::snprintf(cell, sizeof cell, "cell %d,%d", static_cast<int>(v.x) >> 5, static_cast<int>(v.y) >> 5);
    else
        std::snprintf(cell, sizeof cell, "off the map");
    std::snprintf(where, sizeof where, "%s  at %.1f,%.1f  heading %d  height %d", cell, static_cast<double>(v.x),
                  static_cast<double>(v.y), v.angle, v.height);
    std::vector<StatusLine> lines;
    lines.push_back({loop.options.files.map, false});
    lines.push_back({where, false});
    lines.push_back({"Down back  PgUp/PgDn eye  Home start  click the map: go", false});
    if (loop.reloader && !loop.reloader->Fault().empty()) {
        // The fault over the last two lines, cut where they end.
        const std::string fault = "cannot show the last save: " + loop.reloader->Fault();
        lines.push_back({fault.substr(0, StatusColumns), true});
        if (fault.size() > size_t(StatusColumns))
            lines.push_back({fault.substr(StatusColumns), true});
    } else if (loop.reloader) {
        lines.push_back({"watching " + std::to_string(loop.reloader->FileCount()) + " files", false});
    }
    return lines;
}

// One frame into the back buffer, as seen from `v`: for a map of one's own
// the map from above, the position on it and the status line, then the view.
static void ComposeFrame(Loop& loop, const ViewerState& v)
{
    BITMAP* backbuffer = loop.shell.Backbuffer.get();
    if (loop.mapMaker) {
        BitmapPtr box(create_sub_bitmap(backbuffer, MapBoxLeft, MapBoxTop, MapBoxSide, MapBoxSide));
        if (box && loop.averages.Draw(*loop.world, box.get(), MapBoxScale))
            DrawPositionMarker(box.get(), v.x, v.y, v.angle, MapBoxScale);
        DrawStatus(backbuffer, StatusOf(loop, v));
    }
    DrawView(*loop.world, loop.ground, loop.view.get(), v.x, v.y, v.height, v.angle);
}

// One frame where the viewer stands, then the whole back buffer to the screen.
static void DrawFrame(Loop& loop)
{
    ComposeFrame(loop, loop.viewer);
    PresentFrame(loop.shell.Backbuffer.get(), loop.shell.Scale);
    loop.counts.frames++;
}

int GameLoop(Viewer& shell, std::string& failure)
{
    const ShellOptions& options = shell.Options;
    BITMAP* backbuffer = shell.Backbuffer.get();
    Loop loop(shell);
    // The World goes last, after the view, on every way out.
    loop.world = std::make_unique<World>();
    loop.viewer = options.start;
    int done = 0;
    loop.view = MakeView(backbuffer);
    if (!loop.view) {
        failure = "out of memory for the view";
        return 1;
    }
    // The frame picture goes in once; from now on only the view (and for a
    // map of one's own the map box and the status line) is redrawn.
    blit(shell.Board.get(), backbuffer, 0, 0, 0, 0, FrameWidth, FrameHeight);

    const std::string& map = options.files.map;
    // The files are stamped before the map is read from them.
    std::vector<std::string> files;
    if (options.watch)
        files = MapSourceFiles(map, nullptr);
    const std::vector<FileStamp> stamps = MapWatch::StampsOf(files);
    Error error;
    if (!OpenMap(*loop.world, map, error)) {
        failure = error.Message();
        return 1;
    }
    WalkSession& walk = shell.Walk;
    if (!walk.Start(map, loop.viewer, failure))
        return 1;
    if (walk.Timing())
        return RunTimedemo(walk, *loop.world, loop.ground, backbuffer, loop.view.get(), loop.viewer);
    if (options.watch)
        loop.reloader = std::make_unique<Reloader>(map, *loop.world, files, stamps);

    const auto start = std::chrono::steady_clock::now();
    auto nextLook = start;
    bool changed = true;  // the first frame is always drawn
    while (!done) {
        // Every pending tick first: after a slow frame the logic catches up
        // in one burst and is then drawn once.
        while (gcounter.load() != 0 && !walk.Finished()) {
            changed |= RunTick(loop, walk.Active() ? WalkTickInput(walk.NextKeys()) : ReadTickInput(loop));
            gcounter.fetch_sub(1);
            loop.counts.ticks++;
        }
        // Every 10 ms rather than every frame: frames come far more often,
        // and a third of a tick keeps a save's way to the screen short.
        bool reloaded = false;
        if (loop.reloader && std::chrono::steady_clock::now() >= nextLook) {
            const Reloader::Outcome look = loop.reloader->Look(loop.world);
            reloaded = look.reloaded;
            if (reloaded)
                loop.averages.Forget();
            changed |= look.reloaded || look.faultChanged;
            nextLook = std::chrono::steady_clock::now() + WatchInterval;
        }

        if (!loop.mapMaker || changed) {
            DrawFrame(loop);
            changed = false;
            if (reloaded) {
                std::printf("reloaded %s, shown at %.6f\n", map.c_str(), WallClock());
                std::fflush(stdout);
            }
        } else if (gcounter.load() == 0) {
            std::this_thread::sleep_for(IdleSleep);
        }

        // Read after the frame: Esc during a tick burst ends the loop only
        // once that burst has been drawn.
        if (key[KEY_ESC] || gquit || walk.Finished())
            done = 1;
    }
    const std::chrono::duration<double> run = std::chrono::steady_clock::now() - start;
    if (!walk.Finish(failure))
        return 1;

    if (options.stats)
        PrintStats(loop.counts, run.count());
    return 0;
}
