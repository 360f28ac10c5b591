// The ground renderer's options, shared by the commands that draw.
#include "command.h"
#include "render/fast/ground_fast.h"

void AddGroundOptions(CLI::App* command, GroundOptions& options)
{
    command->add_option("--level", options.level,
                        "the ground renderer's instruction level: plain, sse2, avx2 or avx512\n"
                        "(default: the best this CPU runs)")
        ->option_text("LEVEL");
}

int ApplyGroundOptions(const GroundOptions& options, GroundRenderer& ground)
{
    if (options.level.empty())
        return 0;
    const int level = GroundLevelFromName(options.level.c_str());
    if (level < 0)
        return Refuse("--level " + options.level + ": give plain, sse2, avx2 or avx512");
    if (!ground.SetLevel(level))
        return Refuse("--level " + options.level + ": this CPU cannot run it");
    return 0;
}
