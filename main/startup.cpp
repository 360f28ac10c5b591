// Start-up and shutdown of the viewer: Allegro, the 640 x 480 screen, the
// back buffer, the frame picture, the 33 Hz logic timer and the tables.
#include <cstdlib>  // Required for: getenv()
#include <string>

#include "core/tables.h"
#include "core/ticks.h"
#include "core/view_geometry.h"
#include "shell.h"

// Tries 640 x 480 at 16, then 15 bits per pixel, for one kind of mode.
static bool TrySetMode(int card)
{
    set_color_depth(16);
    if (set_gfx_mode(card, FrameWidth, FrameHeight, 0, 0) >= 0)
        return true;
    set_color_depth(15);
    return set_gfx_mode(card, FrameWidth, FrameHeight, 0, 0) >= 0;
}

bool Init(Viewer& viewer, std::string& failure)
{
    if (allegro_init() != 0) {
        // Without a display Allegro fails before it can say why.
        const char* display = std::getenv("DISPLAY");
        std::string reason = allegro_error;
        if (reason.empty())
            reason = display && *display ? std::string("no display answers at DISPLAY=") + display
                                         : std::string("DISPLAY is not set");
        failure = "cannot start Allegro: " + reason;
        return false;
    }

    // Full screen first, as the viewer is meant to be seen; a desktop that
    // refuses the mode switch still gets a window.
    const int first = viewer.Options.windowedFirst ? GFX_AUTODETECT_WINDOWED : GFX_AUTODETECT_FULLSCREEN;
    const int second = viewer.Options.windowedFirst ? GFX_AUTODETECT_FULLSCREEN : GFX_AUTODETECT_WINDOWED;
    if (!TrySetMode(first) && !TrySetMode(second)) {
        failure = std::string("cannot set a 640x480 graphics mode: ") + allegro_error;
        return false;
    }

    set_color_conversion(COLORCONV_TOTAL);
    viewer.Backbuffer.reset(create_bitmap(FrameWidth, FrameHeight));
    if (!viewer.Backbuffer) {
        failure = "out of memory for the back buffer";
        return false;
    }
    Error reason;
    viewer.Board = LoadImage(viewer.Options.files.boardPicture.c_str(), reason);
    if (!viewer.Board) {
        failure = "cannot load the frame picture: " + reason.Message();
        return false;
    }
    clear_bitmap(viewer.Backbuffer.get());

    install_keyboard();
    install_mouse();
    install_timer();
    install_int_ex(gtimer, BPS_TO_TIMER(TicksPerSecond));

    BuildTables();
    return true;
}

void ShutDown(Viewer& viewer)
{
    viewer.Backbuffer.reset();
    viewer.Board.reset();
}
