// The main loop: logic ticks at a fixed rate, frames as fast as possible.
#include "shell.h"

void GameLoop()
{
}
