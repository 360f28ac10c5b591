// The main loop: logic ticks at a fixed 33 per second, frames as fast as the
// machine draws them, until Esc.
#include <chrono>
#include <cstdio>
#include <string>

#include "control.h"
#include "frame.h"
#include "shell.h"
#include "world.h"

static const char MapFile[] = "data\\test.brd";
static const char ScreenshotFile[] = "Screen.bmp";

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

int GameLoop(std::string& failure)
{
    // Declared first, so it is destroyed last: after the view, on every way out.
    World world;
    ViewerState viewer;
    int done = 0;
    // The view shares its pixels with the back buffer.
    BitmapPtr view = MakeView(Backbuffer);
    // The frame picture goes in once; from now on only the view is redrawn.
    blit(Board, Backbuffer, 0, 0, 0, 0, ScreenWidth, ScreenHeight);

    if (world.LoadMap(MapFile) != 0) {
        failure = world.LastError();
        return 1;
    }

    RunCounts counts;
    // A screenshot that cannot be written is said once, until one succeeds.
    bool screenshotFailing = false;
    const auto start = std::chrono::steady_clock::now();
    while (!done) {
        // Every pending tick first: after a slow frame the logic catches up
        // in one burst and is then drawn once.
        while (gcounter.load() != 0) {
            StepViewer(viewer, TickKeys{key[KEY_RIGHT] != 0, key[KEY_LEFT] != 0, key[KEY_UP] != 0});
            if (key[KEY_F12]) {
                std::string error;
                const bool saved = SaveBmpFile(ScreenshotFile, Backbuffer, error);
                if (!saved && !screenshotFailing)
                    std::fprintf(stderr, "groundview: screenshot %s\n", error.c_str());
                screenshotFailing = !saved;
            }
            world.AnimateTiles();
            gcounter.fetch_sub(1);
            counts.ticks++;
        }

        DrawView(world, view.get(), viewer.x, viewer.y, ViewHeightIndex, viewer.angle);
        blit(Backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        counts.frames++;

        // Read after the frame: Esc during a tick burst ends the loop only
        // once that burst has been drawn.
        if (key[KEY_ESC])
            done = 1;
    }
    const std::chrono::duration<double> run = std::chrono::steady_clock::now() - start;

    if (Options.stats)
        PrintStats(counts, run.count());
    return 0;
}
