// The tick counter under ThreadSanitizer: a thread raises gcounter as fast as
// it can, as the timer does, while this thread consumes ticks the way the main
// loop does. Every tick raised must be consumed exactly once.
#include <atomic>
#include <cstdio>
#include <thread>

#include "shell.h"

int main()
{
    const int raised = 2000000;
    std::atomic<bool> finished{false};
    std::thread timer([&finished] {
        for (int i = 0; i < raised; i++)
            gtimer();
        finished = true;
    });

    long consumed = 0;
    for (;;) {
        // Read before the burst: once the timer has finished, one more burst
        // empties the counter for good.
        const bool last = finished;
        // The loop's tick burst: while a tick is pending, run it and take it off.
        while (gcounter != 0) {
            consumed++;
            gcounter -= 1;
        }
        if (last)
            break;
        std::this_thread::yield();
    }
    timer.join();

    if (consumed != raised || gcounter != 0) {
        std::fprintf(stderr, "raised %d ticks, consumed %ld, %d left\n", raised, consumed, gcounter.load());
        return 1;
    }
    std::printf("raised %d ticks, consumed %ld\n", raised, consumed);
    return 0;
}
