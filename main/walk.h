// Walks in the viewer: --record keeps the keys held at every tick and writes
// them as a walk file when the viewer ends; --play and --timedemo take the
// keys from a walk instead of the keyboard. The main loop asks one place for
// each tick's keys (WalkSession::NextKeys), whichever it is.
#pragma once

#include <cstdint>
#include <string>

#include <allegro.h>

#include "control.h"
#include "walk/walk_file.h"

// The walk keys this viewer acts on; a walk holding any other is refused.
constexpr uint8_t ViewerWalkKeys = WalkRight | WalkLeft | WalkUp | WalkScreenshot;

// The keys held on the keyboard now, as walk key bits.
uint8_t KeyboardKeys();
// What the held keys do to the viewer's pose in one tick.
TickKeys SteeringKeys(uint8_t held);

// One logic tick of a walk away from the viewer's loop, in the loop's order:
// the pose moves, then the animation advances.
class World;
void RunWalkTick(ViewerState& viewer, World& world, uint8_t held);

// What the command line asked of walks.
struct WalkOptions {
    enum class Mode { None, Record, Play, Timedemo };
    Mode mode = Mode::None;
    std::string path;    // the walk file
    bool force = false;  // play a walk on a map other than the one it was made on
};

// Takes argv[i] when it is a walk option (with its value, advancing i) and
// returns 1; 0 when it is none; -1 with the reason in `failure` when it is
// one given wrongly (no value, a second walk).
int TakeWalkOption(int argc, char** argv, int& i, WalkOptions& options, std::string& failure);

// The walk of one run of the viewer.
class WalkSession {
public:
    // Before the run's files are planned and any window opens: a walk to
    // play or time is read and checked, and names the map to show when the
    // command line named none; the walk to record gets a name that holds
    // wherever the viewer goes to find its world.
    bool Prepare(const WalkOptions& options, std::string& map, std::string& failure);
    // Once `map` (the name the viewer opened it by) is loaded: a walk to
    // play must have been made on it, and puts the viewer where it started;
    // a recording notes the map and where the viewer starts.
    bool Start(const std::string& map, ViewerState& viewer, std::string& failure);

    bool Recording() const { return Options.mode == WalkOptions::Mode::Record; }
    bool Playing() const { return Options.mode == WalkOptions::Mode::Play; }
    bool Timing() const { return Options.mode == WalkOptions::Mode::Timedemo; }
    // Whether ticks must come out exactly as recorded.
    bool Active() const { return Options.mode != WalkOptions::Mode::None; }

    // The keys held at the next tick: the walk's when playing, else the
    // keyboard's, which a recording keeps.
    uint8_t NextKeys();
    // A played walk has no ticks left.
    bool Finished() const { return (Playing() || Timing()) && Next >= Steps.Keys.size(); }
    // Ticks taken so far.
    size_t TicksTaken() const { return Next; }

    // When the viewer ends: a recording is written, atomically, never
    // through a link; false with the reason when it cannot be.
    bool Finish(std::string& failure);

private:
    WalkOptions Options;
    Walk Steps;         // the walk played, or recorded so far
    size_t Next = 0;    // ticks taken
    bool Full = false;  // a recording reached the most ticks a walk holds
};

class GroundRenderer;

// --timedemo: plays `walk` from `viewer`'s pose as fast as frames can be
// drawn into `view` (inside `backbuffer`) and presented, one frame per tick,
// and prints the counts, the rate and each part's time per frame. Esc stops
// it early. Returns the exit status.
int RunTimedemo(WalkSession& walk, World& world, GroundRenderer& ground, BITMAP* backbuffer, BITMAP* view,
                ViewerState& viewer);
