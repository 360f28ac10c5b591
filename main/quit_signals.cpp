// Quitting on SIGTERM, SIGINT and SIGHUP as on Esc.
//
// Allegro's X driver catches these signals itself and shuts Allegro down
// inside the handler, taking locks the interrupted thread may hold: the
// viewer then hangs or aborts instead of ending. Here the handler only sets
// a flag, and the loop ends at its next look, as it does after Esc.
#include <csignal>

#include "shell.h"

volatile std::sig_atomic_t gquit = 0;

static void OnQuitSignal(int)
{
    gquit = 1;
}

void CatchQuitSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}
