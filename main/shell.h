// The application shell: start-up, the main loop and shutdown, and the
// process-wide state they share.
#pragma once

#include <allegro.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "places.h"

constexpr int ScreenWidth = 640;
constexpr int ScreenHeight = 480;
constexpr int TicksPerSecond = 33;

// The full-screen bitmap every frame is composed in before it goes to the screen.
extern BITMAP* Backbuffer;
// The frame picture painted around and behind the view.
extern BITMAP* Board;
// Logic ticks raised by the timer and not yet consumed by the main loop. The
// timer thread's increment and the loop's decrement are each one atomic
// read-modify-write, so no tick is lost or invented.
extern std::atomic<int32_t> gcounter;

// What the command line asked for, and the files of the run (places.h).
struct ShellOptions {
    bool windowedFirst = false;  // try window modes before full-screen ones
    bool stats = false;          // print frame and tick rates at exit
    bool watch = false;          // show the map anew whenever it is saved
    RunFiles files;
};
extern ShellOptions Options;

// The timer callback: one logic tick.
void gtimer();
// Brings up Allegro, the screen, the bitmaps, the timer and the tables; on
// failure prints why and ends the process with status 1.
void Init();
// Runs the viewer until Esc and returns the exit status: 0 after Esc, 1 when
// the map cannot be loaded at start, with the reason in `failure`.
int GameLoop(std::string& failure);
// Destroys what Init created.
void ShutDown();
