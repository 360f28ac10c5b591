// boardtool export: a board file as a Tiled map that Tiled draws as the board
// looks from above and that imports back to the same board.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "command.h"
#include "outputs.h"
#include "core/world.h"
#include "files/files.h"
#include "image/image_file.h"
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
    // Tiled gets each tile at least one frame wide and high: one that would
    // then hold more pixels than any image read back is refused before
    // anything is composed.
    std::vector<std::string> inputs = {HostPath(options.board.c_str()), HostPath(world.SkyName)};
    for (int k = 0; k < world.TileCount && size_t(k) < world.Tiles.size(); k++) {
        inputs.push_back(HostPath(world.TileNames[k]));
        const int64_t width = std::max(world.Tiles[size_t(k)]->w, CellSize);
        const int64_t height = std::max(world.Tiles[size_t(k)]->h, CellSize);
        if (width * height > MaxImagePixels)
            return Refuse(Error{inputs.back(), "tile " + std::to_string(k) + " would go to Tiled as " +
                          std::to_string(width) + " x " + std::to_string(height) + " pixels, more than the " +
                          std::to_string(MaxImagePixels) + " an image may have (nothing was written)"});
    }
    TiledExport exported;
    Error error;
    if (!ExportTiledMap(world, options.out, exported, error))
        return Refuse(error);
    std::vector<FileToWrite> outputs;
    for (TiledExport::File& image : exported.Images) {
        // The encoder gives no bytes when it fails; a 0-byte PNG is no image.
        if (image.Bytes.empty())
            return Refuse(image.Path + ": cannot encode the tile image as PNG (nothing was written)");
        outputs.push_back({image.Path, std::move(image.Bytes)});
    }
    outputs.push_back({options.out, std::vector<uint8_t>(exported.Text.begin(), exported.Text.end())});
    if (!WriteOutputs(outputs, inputs, options.force, error))
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
