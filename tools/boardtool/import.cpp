// boardtool import: a board file made from a Tiled map, with the tile
// images the map's appearances need written as PNG strips.
#include <algorithm>
#include <charconv>
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
    std::string region;
    bool mergeSimilar = false;
    bool force = false;
};

int RunImport(const ImportOptions& options)
{
    // By default the images go into a folder beside OUT named after it.
    const std::string images = options.images.empty()
                                   ? std::filesystem::path(options.out).replace_extension().generic_string()
                                   : options.images;
    TiledOptions tiled;
    tiled.MergeSimilar = options.mergeSimilar;
    if (!options.region.empty()) {
        // Two whole numbers, each within int64_t, and nothing else.
        const std::string& text = options.region;
        const size_t comma = text.find(',');
        int64_t x = 0, y = 0;
        const auto number = [&](size_t from, size_t to, int64_t& value) {
            const auto [end, fault] = std::from_chars(text.data() + from, text.data() + to, value);
            return fault == std::errc() && end == text.data() + to && from < to;
        };
        if (comma == std::string::npos || !number(0, comma, x) || !number(comma + 1, text.size(), y))
            return Refuse("--region " + Clipped(text) + ": give the top left cell as X,Y (nothing was written)");
        tiled.HasRegion = true;
        tiled.RegionX = x, tiled.RegionY = y;
    }
    TiledImport imported;
    Error error;
    if (!ImportTiledMap(options.map, images, imported, error, tiled))
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
    std::printf("%s: cells (%lld, %lld) to (%lld, %lld)\n", options.map.c_str(), (long long)imported.WindowX,
                (long long)imported.WindowY, (long long)imported.WindowX + MapSize - 1,
                (long long)imported.WindowY + MapSize - 1);
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
    command->add_option("--region", args->region, "the map's cells X..X+63, Y..Y+63 (default: the top left of its painted cells)")
        ->option_text("X,Y");
    command->add_flag("--merge-similar", args->mergeSimilar,
                      "merge the most alike tile appearances until a board holds them");
    AddForceFlag(command, args->force);
    return Runs(RunImport, args);
}
