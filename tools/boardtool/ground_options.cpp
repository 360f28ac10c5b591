// The ground renderer's options, shared by the commands that draw.
#include "command.h"
#include "ground_fast.h"
#include "world.h"

void AddGroundOptions(CLI::App* command, GroundOptions& options)
{
    command->add_option("--level", options.level,
                        "the ground renderer's instruction level: plain, sse2, avx2 or avx512\n"
                        "(default: the best this CPU runs)")
        ->option_text("LEVEL");
    command->add_option("--threads", options.threads, "threads that draw the ground: 1 (the default)")
        ->option_text("N");
}

int ApplyGroundOptions(const GroundOptions& options, World& world)
{
    if (options.threads != 1)
        return Refuse("--threads " + std::to_string(options.threads) + ": the ground is drawn by 1 thread");
    if (options.level.empty())
        return 0;
    const int level = GroundLevelFromName(options.level.c_str());
    if (level < 0)
        return Refuse("--level " + options.level + ": give plain, sse2, avx2 or avx512");
    if (!world.SetGroundLevel(level))
        return Refuse("--level " + options.level + ": this CPU cannot run it");
    return 0;
}
