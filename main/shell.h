// The application shell: start-up, the main loop and shutdown, and the one
// object they share, built in main() and handed to each.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/bitmap.h"  // Required for: BitmapPtr
#include "places.h"
#include "walk.h"

// Logic ticks raised by the timer and not yet consumed by the main loop. The
// timer thread's increment and the loop's decrement are each one atomic
// read-modify-write, so no tick is lost or invented. The timer callback has
// no argument to carry it, so it is the shell's one global.
extern std::atomic<int32_t> gcounter;

// The timer callback: one logic tick.
void gtimer();

// What the command line asked for, and the files of the run (places.h).
struct ShellOptions {
    bool windowedFirst = false;  // try window modes before full-screen ones
    bool stats = false;          // print frame and tick rates at exit
    bool watch = false;          // show the map anew whenever it is saved
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
    // The walk recorded, played or timed, if any.
    WalkSession Walk;
};

// Brings up Allegro, the screen, the bitmaps, the timer and the tables;
// returns false with the reason in `failure` when any of them cannot be had.
bool Init(Viewer& viewer, std::string& failure);
// Runs the viewer until Esc and returns the exit status: 0 after Esc, 1 when
// the map cannot be loaded at start or the view cannot be made, with the
// reason in `failure`.
int GameLoop(Viewer& viewer, std::string& failure);
// Destroys what Init created, also after a failed Init.
void ShutDown(Viewer& viewer);
