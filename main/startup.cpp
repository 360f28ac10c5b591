// Start-up and shutdown of the viewer: Allegro, the 640 x 480 screen, the
// back buffer, the frame picture, the 33 Hz logic timer and the tables.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell.h"
#include "world.h"

#include <loadpng.h>  // Required for: register_png_file_type(); needs allegro.h first

BITMAP* Backbuffer = nullptr;
BITMAP* Board = nullptr;
ShellOptions Options;

static const char BoardPicture[] = "data\\board.bmp";

// Prints the reason start-up cannot go on and ends the process.
[[noreturn]] static void StartupFailure(const std::string& message)
{
    allegro_exit();
    std::fprintf(stderr, "groundview: %s\n", message.c_str());
    std::exit(1);
}

// Tries 640 x 480 at 16, then 15 bits per pixel, for one kind of mode.
static bool TrySetMode(int card)
{
    set_color_depth(16);
    if (set_gfx_mode(card, ScreenWidth, ScreenHeight, 0, 0) >= 0)
        return true;
    set_color_depth(15);
    return set_gfx_mode(card, ScreenWidth, ScreenHeight, 0, 0) >= 0;
}

void Init()
{
    if (allegro_init() != 0) {
        // Without a display Allegro fails before it can say why.
        const char* display = std::getenv("DISPLAY");
        std::string reason = allegro_error;
        if (reason.empty())
            reason = display && *display ? std::string("no display answers at DISPLAY=") + display
                                         : std::string("DISPLAY is not set");
        StartupFailure("cannot start Allegro: " + reason);
    }
    register_png_file_type();

    // Full screen first, as the viewer is meant to be seen; a desktop that
    // refuses the mode switch still gets a window.
    const int first = Options.windowedFirst ? GFX_AUTODETECT_WINDOWED : GFX_AUTODETECT_FULLSCREEN;
    const int second = Options.windowedFirst ? GFX_AUTODETECT_FULLSCREEN : GFX_AUTODETECT_WINDOWED;
    if (!TrySetMode(first) && !TrySetMode(second))
        StartupFailure(std::string("cannot set a 640x480 graphics mode: ") + allegro_error);

    set_color_conversion(COLORCONV_TOTAL);
    Backbuffer = create_bitmap(SCREEN_W, SCREEN_H);
    std::string reason;
    Board = LoadImage(BoardPicture, reason).release();
    if (!Board) {
        destroy_bitmap(Backbuffer);
        Backbuffer = nullptr;
        StartupFailure("cannot load the frame picture: " + reason);
    }
    clear_bitmap(Backbuffer);

    install_keyboard();
    install_mouse();
    install_timer();
    install_int_ex(gtimer, BPS_TO_TIMER(TicksPerSecond));

    BuildTables();
}

void ShutDown()
{
    destroy_bitmap(Backbuffer);
    Backbuffer = nullptr;
    destroy_bitmap(Board);
    Board = nullptr;
}
