// The last click of the left mouse button, handed from Allegro's input
// thread to the main loop through one atomic word.
#include <allegro.h>

#include <atomic>
#include <cstdint>

#include "shell.h"

namespace {

// Bit 63: a click not yet taken; bits 0..31 and 32..62: where it was made.
std::atomic<uint64_t> LastClick{0};
constexpr uint64_t Pending = uint64_t(1) << 63;

// Runs on Allegro's input thread for every mouse event: keeps the position
// of a left button press and returns at once.
void OnMouse(int flags)
{
    if (!(flags & MOUSE_FLAG_LEFT_DOWN))
        return;
    const uint64_t x = static_cast<uint32_t>(mouse_x);
    const uint64_t y = static_cast<uint32_t>(mouse_y) & 0x7FFFFFFFu;
    LastClick.store(Pending | (y << 32) | x);
}

}  // namespace

void CatchClicks()
{
    mouse_callback = OnMouse;
}

MouseClick TakeClick()
{
    const uint64_t click = LastClick.exchange(0);
    MouseClick taken;
    if (!(click & Pending))
        return taken;
    taken.clicked = true;
    taken.x = static_cast<int32_t>(static_cast<uint32_t>(click));
    taken.y = static_cast<int32_t>((click >> 32) & 0x7FFFFFFFu);
    return taken;
}
