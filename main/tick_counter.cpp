// The logic tick counter shared by the timer thread and the main loop.
#include "shell.h"

std::atomic<int32_t> gcounter{0};

// Runs on Allegro's timer thread, 33 times a second: nothing but one atomic
// increment, so it returns at once and no tick is lost.
void gtimer()
{
    gcounter.fetch_add(1);
}
