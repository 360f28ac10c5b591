// boardtool import: a board file made from a Tiled map, with the tile
// images the map's appearances need written as PNG strips.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "board/board_file.h"
#include "files/files.h"
#include "command.h"
#include "outputs.h"
#include "tiled/tiled_map.h"

namespace {

struct ImportOptions {
    std::string map;
    std::string out;
    std::string images;
    bool force = false;
};

int RunImport(const ImportOptions& options)
{
    // By default the images go into a folder beside OUT named after it.
    const std::string images = options.images.empty()
                                   ? std::filesystem::path(options.out).replace_extension().generic_string()
                                   : options.images;
    TiledImport imported;
    Error error;
    if (!ImportTiledMap(options.map, images, imported, error))
        return Refuse(error.Message() + " (nothing was written)");
    for (const std::string& warning : imported.Warnings)
        std::fprintf(stderr, "boardtool: warning: %s\n", warning.c_str());

    std::vector<FileToWrite> outputs;
    for (const TiledImport::NewImage& image : imported.Images) {
        FileToWrite png{HostPath(image.Name.c_str()), EncodePng(image.Pixels)};
        // The encoder gives no bytes when it fails; a 0-byte PNG is no image.
        if (png.Bytes.empty())
            return Refuse(png.Path + ": cannot encode the " + std::to_string(image.Pixels.Width) + " x " +
                          std::to_string(image.Pixels.Height) + " image as PNG (nothing was written)");
        outputs.push_back(std::move(png));
    }
    FileToWrite board{options.out, {0, uint8_t(BoardHeaderSize), 0, 0, 0}};  // header byte 0, body at offset 5
    AppendBody(*imported.Map, board.Bytes);
    outputs.push_back(std::move(board));
    // What the command reads: the map, and the images the board names that
    // it does not write.
    std::vector<std::string> inputs = {HostPath(options.map.c_str()), HostPath(imported.Map->SkyName)};
    for (int k = 0; k < imported.Map->TileCount; k++)
        inputs.push_back(HostPath(imported.Map->TileNames[k]));
    inputs.erase(std::remove_if(inputs.begin(), inputs.end(), [&](const std::string& input) {
        return std::any_of(imported.Images.begin(), imported.Images.end(), [&](const TiledImport::NewImage& image) {
            return HostPath(image.Name.c_str()) == input;
        });
    }), inputs.end());
    if (!WriteOutputs(outputs, inputs, options.force, error))
        return Refuse(error);
    std::printf("%s: %d tile image%s (%zu written), sky %s\n", options.out.c_str(), imported.Map->TileCount,
                imported.Map->TileCount == 1 ? "" : "s", outputs.size() - 1, imported.Map->SkyName);
    return 0;
}

}  // namespace

CommandRun SetupImport(CLI::App* command)
{
    const auto args = std::make_shared<ImportOptions>();
    command->add_option("MAP", args->map, "the Tiled map")->required();
    command->add_option("OUT.brd", args->out, "the board file to write")->required();
    command->add_option("--images", args->images, "directory for the tile images")->option_text("DIR");
    AddForceFlag(command, args->force);
    return Runs(RunImport, args);
}
