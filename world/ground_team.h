// A second thread for the fast ground renderer. A draw is cut into chunks of
// rows that the drawing thread and one helper thread claim one at a time,
// so that neither waits for the other to start: when the helper is slow to
// wake, the drawing thread simply claims every chunk itself.
//
// The helper is started on first use. While draws come back to back (less
// than 50 µs apart) it keeps looking for the next one for that long after
// each, then sleeps. A sleeping helper is woken only while drawing keeps the
// calling thread busy (the gap since the last draw shorter than that draw):
// draws further apart (frames shown on a screen) are drawn by the calling
// thread alone, as waking the helper for each costs more than it gives.
#pragma once

#include <cstdint>

// How many threads draw the ground: 1 or 2. It starts as 2 on a machine
// with more than one hardware thread, 1 otherwise, or as the number the
// environment variable GROUNDVIEW_GROUND_THREADS names (1 or 2).
int GroundThreadsInUse();
// Makes the ground use `threads` threads; refused (false, nothing changed)
// for anything but 1 or 2.
bool SetGroundThreads(int threads);

// How many chunks the helper has drawn since the program started.
uint64_t GroundHelperChunks();

// Runs chunk(context, i) once for each i in [0, chunks), on the calling
// thread and, when two threads are in use, the helper; returns when every
// chunk is done. Chunks must not depend on one another's results. Calls
// from several threads at once are taken one at a time.
using GroundChunk = void (*)(void* context, int chunk);
void RunGroundChunks(GroundChunk chunk, void* context, int chunks);
