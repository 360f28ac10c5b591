// boardtool export: a board file as a Tiled map that Tiled draws as the board
// looks from above and that imports back to the same board.
#include <cstdio>
#include <memory>

#include "command.h"
#include "outputs.h"
#include "core/world.h"
#include "tiled/tiled_map.h"

namespace {

struct ExportOptions {
    std::string board;
    std::string out;
    bool force = false;
};

int RunExport(const ExportOptions& options)
{
    World world;
    if (world.LoadMap(options.board.c_str()) != 0)
        return Refuse(world.LastError());
    TiledExport exported;
    Error error;
    if (!ExportTiledMap(world, options.out, exported, error))
        return Refuse(error);
    std::vector<FileToWrite> outputs;
    for (TiledExport::File& image : exported.Images)
        outputs.push_back({image.Path, std::move(image.Bytes)});
    outputs.push_back({options.out, std::vector<uint8_t>(exported.Text.begin(), exported.Text.end())});
    if (!WriteOutputs(outputs, options.force, error))
        return Refuse(error);
    std::printf("%s: %d tile image%s, %zu PNG written beside it\n", options.out.c_str(), world.TileCount,
                world.TileCount == 1 ? "" : "s", outputs.size() - 1);
    return 0;
}

}  // namespace

CommandRun SetupExport(CLI::App* command)
{
    const auto args = BoardOptions<ExportOptions>(command);
    command->add_option("OUT.tmx", args->out, "the Tiled map to write")->required();
    AddForceFlag(command, args->force);
    return Runs(RunExport, args);
}
