// Tile animation: the global frame counter that the ground outside the map
// shows, and one frame counter per animated cell, stepped once per tick.
#include <cstdint>

#include "core/world.h"

namespace {

// Adds 1 the way the counters' own types do, wrapping instead of overflowing:
// the global counters are 32-bit, a cell's Tick and Frame 8-bit (127 + 1 is
// -128, 255 + 1 is 0).
int32_t Next(int32_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value) + 1u);
}

int8_t Next(int8_t value)
{
    return static_cast<int8_t>(static_cast<uint8_t>(value) + 1u);
}

uint8_t Next(uint8_t value)
{
    return static_cast<uint8_t>(value + 1u);
}

}  // namespace

void World::AnimateTiles()
{
    // The global animation; a last frame of 0 switches it off and holds both
    // counters at 0. Comparisons are signed: a negative last frame sends
    // every advance back to frame 0.
    if (AnimLastFrame == 0) {
        AnimFrame = 0;
        AnimTick = 0;
    } else {
        AnimTick = Next(AnimTick);
        if (AnimTick > AnimDelay) {
            AnimFrame = Next(AnimFrame);
            if (AnimFrame > AnimLastFrame)
                AnimFrame = 0;
            AnimTick = 0;
        }
    }

    // Every cell is visited and its flag tested; there is no list of the
    // animated ones. Tick and Delay compare as signed bytes (so Delay 127
    // never lets a frame advance, and a negative Delay advances every tick),
    // Frame and LastFrame as unsigned ones.
    for (auto& column : Cells) {
        for (MapCell& cell : column) {
            if (!(cell.Flags & CellAnimated))
                continue;
            cell.Tick = Next(cell.Tick);
            if (cell.Tick > cell.Delay) {
                cell.Frame = Next(cell.Frame);
                if (cell.Frame > cell.LastFrame)
                    cell.Frame = 0;
                cell.Tick = 0;
            }
        }
    }
}

void World::ZeroFrames()
{
    // Every animation back to its first frame and a fresh tick count, animated
    // cells or not; delays, last frames and flags stay.
    AnimFrame = 0;
    AnimTick = 0;
    for (auto& column : Cells) {
        for (MapCell& cell : column) {
            cell.Frame = 0;
            cell.Tick = 0;
        }
    }
}
