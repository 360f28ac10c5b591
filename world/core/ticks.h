// Time in the world: everything that moves (the viewer, every animation)
// advances in whole logic ticks at this fixed rate.
#pragma once

constexpr int TicksPerSecond = 33;
