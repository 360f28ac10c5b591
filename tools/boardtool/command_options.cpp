// Options that several subcommands take, declared and checked in one place.
#include "command.h"

// Only the low 8 bits of the global frame reach the ground outside the map.
constexpr int32_t MaxOutsideLastFrame = 255;

void AddForceFlag(CLI::App* command, bool& force)
{
    command->add_flag("--force", force, "replace existing files (atomically)");
}

void AddOutsideOptions(CLI::App* command, OutsideOptions& outside)
{
    command->add_option("--outside-delay", outside.delay,
                        "ticks each frame of the ground outside the map lasts, less one")
        ->option_text("D");
    command->add_option("--outside-last", outside.last,
                        "last frame of the ground outside the map, 0..255 (0: still)")
        ->option_text("L");
}

int RefuseOutside(const OutsideOptions& outside)
{
    if (outside.delay && *outside.delay < 0)
        return Refuse("--outside-delay " + std::to_string(*outside.delay) +
                      " is negative: a frame lasts delay + 1 ticks");
    if (outside.last && (*outside.last < 0 || *outside.last > MaxOutsideLastFrame))
        return Refuse("--outside-last " + std::to_string(*outside.last) + " is outside 0.." +
                      std::to_string(MaxOutsideLastFrame));
    return 0;
}
