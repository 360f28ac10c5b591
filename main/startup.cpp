// Start-up and shutdown of the viewer: Allegro, the 640 x 480 screen, the
// back buffer, the frame picture, the 33 Hz logic timer and the tables.
#include <algorithm>
#include <cstdio>
#include <cstdlib>  // Required for: getenv()
#include <string>

#include "core/tables.h"
#include "core/ticks.h"
#include "core/view_geometry.h"
#include "shell.h"

// Tries the frame's size times `scale` at 16, then 15 bits per pixel, for
// one kind of mode.
static bool TrySetMode(int card, int scale)
{
    set_color_depth(16);
    if (set_gfx_mode(card, FrameWidth * scale, FrameHeight * scale, 0, 0) >= 0)
        return true;
    set_color_depth(15);
    return set_gfx_mode(card, FrameWidth * scale, FrameHeight * scale, 0, 0) >= 0;
}

// The largest scale that --scale allows: the factor asked for, or for
// `fit` the largest whole one at which the frame fits the desktop (1 when
// its size cannot be told). Never beyond MaxScale.
static int LargestScale(const ShellOptions& options)
{
    if (!options.scaleFit)
        return options.scale;
    int width = 0, height = 0;
    if (get_desktop_resolution(&width, &height) != 0)
        return 1;
    const int fit = std::min(width / FrameWidth, height / FrameHeight);
    return std::max(1, std::min(fit, MaxScale));
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
    CatchQuitSignals();

    // Full screen first, as the viewer is meant to be seen; a desktop that
    // refuses the mode switch still gets a window.
    // A scale the screen refuses is tried smaller, down to 1.
    const int first = viewer.Options.windowedFirst ? GFX_AUTODETECT_WINDOWED : GFX_AUTODETECT_FULLSCREEN;
    const int second = viewer.Options.windowedFirst ? GFX_AUTODETECT_FULLSCREEN : GFX_AUTODETECT_WINDOWED;
    const int largest = LargestScale(viewer.Options);
    viewer.Scale = 0;
    for (int scale = largest; scale >= 1 && viewer.Scale == 0; scale--)
        if (TrySetMode(first, scale) || TrySetMode(second, scale))
            viewer.Scale = scale;
    if (viewer.Scale == 0) {
        failure = std::string("cannot set a 640x480 graphics mode: ") + allegro_error;
        return false;
    }
    if (viewer.Scale != largest && !viewer.Options.scaleFit)
        std::fprintf(stderr, "groundview: no %dx%d mode for --scale %d; showing at scale %d\n",
                     FrameWidth * largest, FrameHeight * largest, largest, viewer.Scale);
    if (!viewer.Options.files.title.empty())
        set_window_title(viewer.Options.files.title.c_str());

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
    // Only a viewer given a map reads the mouse.
    if (viewer.Options.files.mapInFrame)
        CatchClicks();
    install_int_ex(gtimer, BPS_TO_TIMER(TicksPerSecond));
    // Again: a driver installed since may have set Allegro's handlers again.
    CatchQuitSignals();

    BuildTables();
    return true;
}

void ShutDown(Viewer& viewer)
{
    viewer.Backbuffer.reset();
    viewer.Board.reset();
}
