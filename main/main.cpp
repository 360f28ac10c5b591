// groundview's entry point: start-up, the main loop, shutdown.
#include <cstdio>
#include <cstring>
#include <string>

#include "shell.h"

static const char Usage[] =
    "usage: groundview [--windowed] [--stats]\n"
    "\n"
    "A first-person view of the tiled world in data\\test.brd, inside the frame\n"
    "picture data\\board.bmp; both are read from the working directory.\n"
    "\n"
    "keys:\n"
    "  Left, Right  turn\n"
    "  Up           move forward\n"
    "  F12          save the whole screen to Screen.bmp\n"
    "  Esc          quit\n"
    "\n"
    "options:\n"
    "  --windowed   try a window before a full-screen mode\n"
    "  --stats      at exit, print frames, ticks, seconds and their rates\n"
    "  --help       print this and exit\n";

int main(int argc, char* argv[])
{
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--windowed") == 0) {
            Options.windowedFirst = true;
        } else if (std::strcmp(argv[i], "--stats") == 0) {
            Options.stats = true;
        } else {
            std::fprintf(stderr, "groundview: unknown argument '%s'\n\n%s", argv[i], Usage);
            return 2;
        }
    }
    std::string failure;
    const int status = Init(failure) ? GameLoop(failure) : 1;
    ShutDown();
    if (status != 0) {
        // Out of the graphics mode first, so that the message can be seen.
        allegro_exit();
        std::fprintf(stderr, "groundview: %s\n", failure.c_str());
    }
    return status;
}
END_OF_MAIN()
