// boardtool set: changes the sky, tile image names and the animation of the
// ground outside the map in an existing board file, through SaveMap, which
// keeps the header, the gap before the body and whatever follows it, and
// replaces the file whole or not at all. An image name that cannot be loaded
// from the working directory is refused unless --force: the viewer would
// show a placeholder in its place.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "inspect.h"  // Required for: Printable()
#include "core/bitmap.h"  // Required for: LoadImage(), as the viewer loads images
#include "core/world.h"
#include "files/files.h"

namespace {

struct SetArguments {
    std::string board;
    std::optional<std::string> sky;
    std::vector<std::string> tiles;  // K=NAME
    OutsideOptions outside;
    std::optional<float> extraFloat;
    bool dryRun = false;
    bool force = false;
};

// A name fits a 128-byte slot with its NUL.
bool NameFits(const std::string& name, const std::string& what, std::string& error)
{
    if (name.empty())
        error = what + ": the name is empty";
    else if (name.size() > static_cast<size_t>(NameSlotSize - 1))
        error = what + ": a name has at most " + std::to_string(NameSlotSize - 1) + " characters, this one " +
                std::to_string(name.size());
    else if (name.find('\0') != std::string::npos)
        error = what + ": the name holds a NUL";
    return error.empty();
}

// Writes the name and its NUL; the bytes after the NUL keep what they held,
// so that nothing else in the file changes.
void PutName(char (&slot)[NameSlotSize], const std::string& name)
{
    std::memcpy(slot, name.c_str(), name.size() + 1);
}

std::string Quoted(const char* name)
{
    return "'" + Printable(name) + "'";
}

// Each new image name as the viewer would load it. Unloadable ones are
// refused (1), or with --force only said on stderr (0).
int RefuseUnloadable(const std::vector<std::pair<std::string, std::string>>& images, bool force)
{
    for (const auto& [what, name] : images) {
        Error error;
        if (LoadImage(name.c_str(), error))
            continue;
        const std::string message = what + ": " + error.Message();
        if (!force)
            return Refuse(message + "; nothing was changed (--force stores the name anyway)");
        std::fprintf(stderr, "boardtool: warning: %s; stored anyway (--force)\n", message.c_str());
    }
    return 0;
}

int RunSet(const SetArguments& args)
{
    World world;
    if (world.LoadMap(args.board.c_str()) != 0)
        return Refuse(world.LastError());

    std::vector<std::string> changes;
    std::vector<std::pair<std::string, std::string>> images;  // what, name
    std::string error;
    if (args.sky) {
        if (!NameFits(*args.sky, "--sky", error))
            return Refuse(error);
        changes.push_back("sky: " + Quoted(world.SkyName) + " -> " + Quoted(args.sky->c_str()));
        PutName(world.SkyName, *args.sky);
        images.emplace_back("--sky", *args.sky);
    }
    for (const std::string& tile : args.tiles) {
        const size_t equals = tile.find('=');
        const std::string what = "--tile " + tile;
        char* end = nullptr;
        const long number = equals == std::string::npos ? -1 : std::strtol(tile.c_str(), &end, 10);
        if (equals == std::string::npos || equals == 0 || end != tile.c_str() + equals)
            return Refuse(what + ": give the tile number and its image name as K=NAME");
        if (number < 0 || number >= world.TileCount)
            return Refuse(what + ": the map has tiles 0.." + std::to_string(world.TileCount - 1));
        const int k = static_cast<int>(number);
        const std::string name = tile.substr(equals + 1);
        if (!NameFits(name, what, error))
            return Refuse(error);
        changes.push_back("tile " + std::to_string(k) + ": " + Quoted(world.TileNames[k]) + " -> " +
                          Quoted(name.c_str()));
        PutName(world.TileNames[k], name);
        images.emplace_back("--tile " + std::to_string(k), name);
    }
    if (const int refused = RefuseOutside(args.outside))
        return refused;
    if (args.outside.delay) {
        changes.push_back("outside delay: " + std::to_string(world.AnimDelay) + " -> " +
                          std::to_string(*args.outside.delay));
        world.AnimDelay = *args.outside.delay;
    }
    if (args.outside.last) {
        changes.push_back("outside last frame: " + std::to_string(world.AnimLastFrame) + " -> " +
                          std::to_string(*args.outside.last));
        world.AnimLastFrame = *args.outside.last;
    }
    if (args.extraFloat) {
        if (!std::isfinite(*args.extraFloat))
            return Refuse("--float must be a finite number");
        char before[32], after[32];
        std::snprintf(before, sizeof before, "%.9g", static_cast<double>(world.ExtraFloat));
        std::snprintf(after, sizeof after, "%.9g", static_cast<double>(*args.extraFloat));
        changes.push_back(std::string("extra float: ") + before + " -> " + after);
        world.ExtraFloat = *args.extraFloat;
    }
    if (changes.empty())
        return Refuse("nothing to change: give --sky, --tile, --outside-delay, --outside-last or --float");

    if (const int refused = RefuseUnloadable(images, args.force))
        return refused;
    for (const std::string& change : changes)
        std::printf("%s\n", change.c_str());
    if (args.dryRun) {
        std::printf("%s: not changed (--dry-run)\n", args.board.c_str());
        return 0;
    }
    if (world.SaveMap(args.board.c_str()) != 0)
        return Refuse(world.LastError());
    std::printf("%s: saved\n", args.board.c_str());
    return 0;
}

}  // namespace

CommandRun SetupSet(CLI::App* command)
{
    const auto args = BoardOptions<SetArguments>(command);
    command->add_option("--sky", args->sky, "the sky image's name")->option_text("NAME");
    command->add_option("--tile", args->tiles, "the image name of tile K (repeatable)")->option_text("K=NAME");
    AddOutsideOptions(command, args->outside);
    command->add_option("--float", args->extraFloat, "the float the file carries along")->option_text("F");
    command->add_flag("--dry-run", args->dryRun, "show what would change and write nothing");
    command->add_flag("--force", args->force, "store image names that cannot be loaded");
    return Runs(RunSet, args);
}
