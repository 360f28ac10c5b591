// The application shell: start-up, the main loop and shutdown, and the one
// object they share, built in main() and handed to each.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>

#include "control.h"      // Required for: ViewerState
#include "core/bitmap.h"  // Required for: BitmapPtr
#include "places.h"
#include "walk.h"

// Logic ticks raised by the timer and not yet consumed by the main loop. The
// timer thread's increment and the loop's decrement are each one atomic
// read-modify-write, so no tick is lost or invented. The timer callback has
// no argument to carry it, so it is one of the shell's two globals.
extern std::atomic<int32_t> gcounter;

// The timer callback: one logic tick.
void gtimer();

// Set when the viewer is asked to end by a signal (SIGTERM, SIGINT, SIGHUP):
// the loop then ends as after Esc. A signal handler has no argument either,
// so this is the other global.
extern volatile std::sig_atomic_t gquit;
// Takes those signals from Allegro, whose own handler can hang the viewer
// (Init calls it as soon as Allegro is up, and again once every driver is in).
void CatchQuitSignals();

// The largest factor --scale takes.
constexpr int MaxScale = 8;

// What the command line asked for, and the files of the run (places.h).
struct ShellOptions {
    bool windowedFirst = false;  // try window modes before full-screen ones
    bool stats = false;          // print frame and tick rates at exit
    bool watch = false;          // show the map anew whenever it is saved
    ViewerState start;           // where the viewer starts (--at), and where Home leads
    int scale = 1;               // --scale N: each frame pixel N x N screen pixels
    bool scaleFit = false;       // --scale fit: the largest factor the screen allows
    WalkOptions walk;            // --record, --play, --timedemo
    RunFiles files;
};

// The viewer: its options and what start-up makes for the loop.
struct Viewer {
    ShellOptions Options;
    // The full-screen bitmap every frame is composed in before it goes to the screen.
    BitmapPtr Backbuffer;
    // The frame picture painted around and behind the view.
    BitmapPtr Board;
    // The factor the screen shows the back buffer at (Init decides it).
    int Scale = 1;
    // The walk recorded, played or timed, if any.
    WalkSession Walk;
};

// Clicks of the left mouse button, taken by Allegro's mouse callback on its
// input thread, so that a click shorter than a tick is not missed. Each
// holds the screen position it was made at; the main loop takes them.
struct MouseClick {
    bool clicked = false;
    int x = 0;
    int y = 0;
};
// Starts taking clicks (after install_mouse); TakeClick() returns the last
// click since the previous call, if any.
void CatchClicks();
MouseClick TakeClick();

// Brings up Allegro, the screen, the bitmaps, the timer and the tables;
// returns false with the reason in `failure` when any of them cannot be had.
bool Init(Viewer& viewer, std::string& failure);
// Runs the viewer until Esc and returns the exit status: 0 after Esc, 1 when
// the map cannot be loaded at start or the view cannot be made, with the
// reason in `failure`.
int GameLoop(Viewer& viewer, std::string& failure);
// Destroys what Init created, also after a failed Init.
void ShutDown(Viewer& viewer);
