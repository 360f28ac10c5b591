// The viewer's pose and what one logic tick does to it: turning with Left and
// Right, moving forward with Up, and the wrap of a position that runs far
// beyond the map back to the other side. A viewer given a map also moves
// backward with Down, changes its eye height with PageUp and PageDown, and
// goes back to where it started with Home.
#pragma once

#include "core/tables.h"         // Required for: HeightSteps
#include "core/view_geometry.h"  // Required for: StartX, StartY, StartAngle, ViewHeightIndex

constexpr int TurnStep = 18;              // angle steps per tick: 2.25 degrees
constexpr float ForwardStep = 7.0f;       // world units per tick
constexpr float PositionBound = 3045.0f;  // a step past it jumps to the other side
constexpr int MaxHeightIndex = HeightSteps - 1;

// Where the viewer stands, which way it looks (angle steps, 0..2879) and
// how high its eye is (an index into ViewHeight, 0..99).
struct ViewerState {
    float x = StartX;
    float y = StartY;
    int angle = StartAngle;
    int height = ViewHeightIndex;

    bool operator==(const ViewerState& other) const
    {
        return x == other.x && y == other.y && angle == other.angle && height == other.height;
    }
    bool operator!=(const ViewerState& other) const { return !(*this == other); }
};

// The keys that steer, as held down when a tick is run. The first three are
// the viewer's own; the others only count for a viewer given a map.
struct TickKeys {
    bool right = false;
    bool left = false;
    bool up = false;
    bool down = false;    // one step backward
    bool higher = false;  // PageUp: height index + 1
    bool lower = false;   // PageDown: height index - 1
    bool home = false;    // back to `start`, before any other key
};

// Runs one tick of viewer control: Home, then Right, Left, Up, Down, and
// the height keys. `start` is where Home leads.
void StepViewer(ViewerState& viewer, const TickKeys& keys, const ViewerState& start = ViewerState{});
