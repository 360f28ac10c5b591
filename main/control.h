// The viewer's pose and what one logic tick does to it: turning with Left and
// Right, moving forward with Up, and the wrap of a position that runs far
// beyond the map back to the other side.
#pragma once

#include "core/view_geometry.h"  // Required for: StartX, StartY, StartAngle

constexpr int TurnStep = 18;              // angle steps per tick: 2.25 degrees
constexpr float ForwardStep = 7.0f;       // world units per tick
constexpr float PositionBound = 3045.0f;  // a step past it jumps to the other side

// Where the viewer stands and which way it looks (angle steps, 0..2879).
struct ViewerState {
    float x = StartX;
    float y = StartY;
    int angle = StartAngle;
};

// The keys that steer, as held down when a tick is run.
struct TickKeys {
    bool right = false;
    bool left = false;
    bool up = false;
};

// Runs one tick of viewer control: Right, then Left, then Up.
void StepViewer(ViewerState& viewer, const TickKeys& keys);
