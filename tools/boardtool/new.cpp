// boardtool new: a new board file made from a tile list, every cell on tile
// 1 and still, the global animation off, with the name of a sky image if one
// is given.
#include <cstring>
#include <memory>

#include "command.h"
#include "world.h"

namespace {

struct NewOptions {
    std::string list;
    std::string out;
    std::string sky;
};

int RunNew(const NewOptions& options)
{
    if (options.sky.size() > static_cast<size_t>(NameSlotSize - 1))
        return Refuse("--sky: a sky name has at most " + std::to_string(NameSlotSize - 1) +
                      " characters, this one " + std::to_string(options.sky.size()));

    // A fresh World holds zeros wherever NewMap leaves a field alone, so the
    // file holds no stray values.
    World world;
    if (world.NewMap(options.list.c_str()) != 0)
        return Refuse(world.LastError());
    // Only the name goes into the file: the sky image is the viewer's to load.
    std::memset(world.SkyName, 0, NameSlotSize);
    std::memcpy(world.SkyName, options.sky.data(), options.sky.size());
    if (world.CreateMap(options.out.c_str()) != 0)
        return Refuse(world.LastError());

    std::printf("%s: new map of %d tile%s, every cell on tile 1, sky %s\n", options.out.c_str(),
                world.TileCount, world.TileCount == 1 ? "" : "s",
                options.sky.empty() ? "not named" : options.sky.c_str());
    return 0;
}

CommandRun SetupNew(CLI::App& app)
{
    auto options = std::make_shared<NewOptions>();
    CLI::App* command = app.add_subcommand(
        "new", "Make the board file OUT.brd from a tile list (a count, then that many image\n"
               "names), every cell on tile 1. Writes nothing if the list is refused or OUT.brd exists.");
    command->add_option("TILELIST", options->list, "the tile list")->required();
    command->add_option("OUT.brd", options->out, "the board file to create")->required();
    command->add_option("--sky", options->sky, "sky image name to store (not loaded)")->option_text("NAME");
    return [options] { return RunNew(*options); };
}

}  // namespace

static const bool registered = RegisterCommand(50, SetupNew);
