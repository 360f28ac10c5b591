// groundview's entry point: the command line, start-up, the main loop,
// shutdown.
#include <unistd.h>  // Required for: chdir()

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "places.h"
#include "shell.h"

static const char Usage[] =
    "usage: groundview [--windowed] [--stats] [--watch] [-C DIR] [MAP]\n"
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
    "\n"
    "options:\n"
    "  --windowed   try a window before a full-screen mode\n"
    "  --stats      at exit, print frames, ticks, seconds and their rates\n"
    "  --watch      whenever MAP or an image it names is saved, show it anew from\n"
    "               the next frame on, at the same place; a save that cannot be\n"
    "               loaded keeps the last good map and says why on stderr\n"
    "  -C DIR       run in DIR: MAP, the images and Screen.bmp are relative to it\n"
    "  --record WALK    write the keys held at every tick to the walk file WALK when\n"
    "                   the viewer ends\n"
    "  --play WALK      replay WALK at 33 ticks a second, on MAP or else the map it was\n"
    "                   made on, and end with it; keys are ignored but Esc\n"
    "  --timedemo WALK  replay WALK as fast as frames are drawn, one a tick, and print\n"
    "                   the ticks, frames, seconds, rate and time per frame\n"
    "  --force      play or time a walk on a map other than the one it was made on\n"
    "  --help       print this and exit\n";

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
