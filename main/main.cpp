// groundview's entry point: the command line, start-up, the main loop,
// shutdown.
#include <unistd.h>  // Required for: chdir()

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/tables.h"          // Required for: AngleSteps
#include "render/ground.h"        // Required for: GroundPositionLimit

#include "places.h"
#include "shell.h"

static const char Usage[] =
    "usage: groundview [--windowed] [--stats] [--watch] [--at X,Y[,HEADING]]\n"
    "                  [--scale N|fit] [-C DIR] [MAP]\n"
    "       groundview [--record WALK | --play WALK [--force] | --timedemo WALK [--force]] [MAP]\n"
    "\n"
    "A first-person view of a tiled world. Without MAP it shows data\\test.brd inside\n"
    "the frame picture data\\board.bmp, both read from the working directory; in a\n"
    "directory without data/ it shows the default world it was installed or built\n"
    "with, from %s/data\n"
    "or else %s/data.\n"
    "MAP is a board file or a Tiled map (.tmx, .tmj, .json), shown inside the frame\n"
    "picture data/frame.bmp of that default world, with the map drawn from above\n"
    "beside the view. Image names in a map are relative to the working directory.\n"
    "\n"
    "keys:\n"
    "  Left, Right  turn\n"
    "  Up           move forward\n"
    "  F12          save the whole screen to Screen.bmp in the working directory\n"
    "  Esc          quit\n"
    "with a MAP also:\n"
    "  Down         move backward\n"
    "  PgUp, PgDn   raise, lower the eye (height index 0..99, 14 at start)\n"
    "  Home         back to the start\n"
    "  click        in the map from above: go to that point\n"
    "\n"
    "options:\n"
    "  --windowed   try a window before a full-screen mode\n"
    "  --stats      at exit, print frames, ticks, seconds and their rates\n"
    "  --watch      whenever MAP or a file it is made of (tile images, sky; for a\n"
    "               Tiled map its tilesets and their images) is saved, show it\n"
    "               anew from the next frame on, at the same place; a save that\n"
    "               cannot be loaded keeps the last good map and says why in the\n"
    "               frame and on stderr\n"
    "  --at X,Y[,HEADING]\n"
    "               start at world position X,Y (a cell is 32 units; default\n"
    "               480,480) looking along HEADING, in 1/8 degree steps 0..2879\n"
    "               (default 0: along +x); Home comes back here\n"
    "  --scale N|fit\n"
    "               show each pixel of the 640x480 frame as N x N pixels, N 1..8;\n"
    "               fit: the largest N the screen allows. Screenshots stay 640x480\n"
    "  -C DIR       run in DIR: MAP, the images and Screen.bmp are relative to it\n"
    "  --record WALK    write the keys held at every tick to the walk file WALK when\n"
    "                   the viewer ends\n"
    "  --play WALK      replay WALK at 33 ticks a second, on MAP or else the map it was\n"
    "                   made on, and end with it; keys are ignored but Esc\n"
    "  --timedemo WALK  replay WALK as fast as frames are drawn, one a tick, and print\n"
    "                   the ticks, frames, seconds, rate and time per frame\n"
    "  --force      play or time a walk on a map other than the one it was made on\n"
    "  --help       print this and exit\n";

// Reads --at's X,Y[,HEADING]: positions as boardtool render takes them,
// a whole heading 0..2879. False, with the reason, for anything else.
static bool ParseAt(const char* text, ViewerState& start, std::string& reason)
{
    const char* p = text;
    char* end = nullptr;
    float position[2];
    for (int i = 0; i < 2; i++) {
        errno = 0;
        position[i] = std::strtof(p, &end);
        if (end == p || errno != 0 || !std::isfinite(position[i]) || std::fabs(position[i]) > GroundPositionLimit ||
            (i == 0 && *end != ',') || (i == 1 && *end != ',' && *end != '\0')) {
            reason = "X and Y must be numbers within -1073741824..1073741824, as X,Y or X,Y,HEADING";
            return false;
        }
        p = end + 1;
    }
    int heading = start.angle;
    if (*end == ',') {
        errno = 0;
        const long value = std::strtol(p, &end, 10);
        if (end == p || *end != '\0' || errno != 0 || value < 0 || value >= AngleSteps) {
            reason = "HEADING must be a whole number within 0..2879";
            return false;
        }
        heading = static_cast<int>(value);
    }
    start.x = position[0];
    start.y = position[1];
    start.angle = heading;
    return true;
}

// Reads --scale's N (1..MaxScale) or "fit".
static bool ParseScale(const char* text, ShellOptions& options)
{
    if (std::strcmp(text, "fit") == 0) {
        options.scaleFit = true;
        return true;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > MaxScale)
        return false;
    options.scaleFit = false;
    options.scale = static_cast<int>(value);
    return true;
}

static void PrintUsage(FILE* out)
{
    std::fprintf(out, Usage, InstalledWorldDirectory().c_str(), BuiltWorldDirectory().c_str());
}

int main(int argc, char* argv[])
{
    Viewer viewer;
    ShellOptions& options = viewer.Options;
    std::string directory;
    std::string map;
    std::string failure;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintUsage(stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--windowed") == 0) {
            options.windowedFirst = true;
        } else if (std::strcmp(argv[i], "--stats") == 0) {
            options.stats = true;
        } else if (std::strcmp(argv[i], "--watch") == 0) {
            options.watch = true;
        } else if (std::strcmp(argv[i], "--at") == 0 && i + 1 < argc) {
            std::string reason;
            if (!ParseAt(argv[++i], options.start, reason)) {
                std::fprintf(stderr, "groundview: --at %s: %s\n", argv[i], reason.c_str());
                return 2;
            }
        } else if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
            if (!ParseScale(argv[++i], options)) {
                std::fprintf(stderr, "groundview: --scale %s: give a whole number 1..%d, or fit\n", argv[i], MaxScale);
                return 2;
            }
        } else if (const int taken = TakeWalkOption(argc, argv, i, options.walk, failure)) {
            if (taken < 0) {
                std::fprintf(stderr, "groundview: %s\n\n", failure.c_str());
                PrintUsage(stderr);
                return 2;
            }
        } else if (std::strcmp(argv[i], "-C") == 0 && i + 1 < argc) {
            directory = argv[++i];
        } else if (argv[i][0] != '-' && map.empty()) {
            map = argv[i];
        } else {
            std::fprintf(stderr, "groundview: unknown argument '%s'\n\n", argv[i]);
            PrintUsage(stderr);
            return 2;
        }
    }
    if (options.watch && map.empty()) {
        std::fprintf(stderr, "groundview: --watch needs a MAP to watch\n\n");
        PrintUsage(stderr);
        return 2;
    }
    if (options.watch && options.walk.mode != WalkOptions::Mode::None) {
        std::fprintf(stderr, "groundview: --watch cannot go with a walk, which must see one map throughout\n\n");
        PrintUsage(stderr);
        return 2;
    }
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
        std::fprintf(stderr, "groundview: cannot change to %s: %s\n", directory.c_str(), std::strerror(errno));
        return 1;
    }
    if (!viewer.Walk.Prepare(options.walk, map, failure)) {
        std::fprintf(stderr, "groundview: %s\n", failure.c_str());
        return 1;
    }
    if (!PlanRun(map, options.files, failure)) {
        std::fprintf(stderr, "groundview: %s\n", failure.c_str());
        return 1;
    }

    const int status = Init(viewer, failure) ? GameLoop(viewer, failure) : 1;
    ShutDown(viewer);
    if (status != 0) {
        // Out of the graphics mode first, so that the message can be seen.
        allegro_exit();
        std::fprintf(stderr, "groundview: %s\n", failure.c_str());
    }
    return status;
}
END_OF_MAIN()
