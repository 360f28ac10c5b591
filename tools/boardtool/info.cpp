// boardtool info: everything a board file holds, with the images it names
// and how the map uses its tiles.
#include <cstdio>
#include <map>
#include <memory>

#include "command.h"
#include "inspect_map.h"

static std::string ImageInfo(BITMAP* image, const std::string& error, bool tile)
{
    if (!image)
        return "cannot be loaded: " + Printable(error.c_str());
    std::string text = std::to_string(image->w) + "x" + std::to_string(image->h) + " pixels";
    if (tile) {
        const int frames = WholeFrames(image);
        text += ", " + std::to_string(frames) + (frames == 1 ? " frame" : " frames");
    }
    return text;
}

static int RunInfo(const BoardArgument& args)
{
    const std::string& name = args.board;
    InspectedBoard inspected;
    MapKind kind;
    Error error;
    if (!InspectMap(name, inspected, kind, error))
        return Refuse(error);
    const BoardFile& board = *inspected.board;

    if (kind == MapKind::Tiled) {
        // What follows is the board that `boardtool import` would write.
        std::printf("Tiled map, read as boardtool import reads it (nothing written)\n");
    } else {
        std::printf("header byte: 0x%02X\n", board.HeaderByte);
        std::printf("body offset: %d\n", board.BodyOffset);
        std::printf("file size: %llu bytes (body %lld, %lld after it)\n",
                    static_cast<unsigned long long>(board.FileSize),
                    static_cast<long long>(BoardBodySize(board.TileCount)),
                    static_cast<long long>(board.FileSize) - static_cast<long long>(board.BodyEnd()));
    }
    std::printf("tiles: %d\n", board.TileCount);
    for (int k = 0; k < board.TileCount; k++)
        std::printf("tile %d: %s: %s\n", k, Printable(board.TileNames[k]).c_str(), ImageInfo(inspected.tiles[k].get(), inspected.tileErrors[k], true).c_str());
    std::printf("global animation: delay %d, last frame %d\n", board.AnimDelay, board.AnimLastFrame);
    std::printf("extra float: %.9g\n", static_cast<double>(board.ExtraFloat));
    std::printf("sky: %s: %s\n", Printable(board.SkyName).c_str(), ImageInfo(inspected.sky.get(), inspected.skyError, false).c_str());

    // Every loaded tile is listed, used or not; tile numbers beyond the tile
    // count only when some cell names them.
    struct Use {
        int cells = 0;
        int animated = 0;
    };
    std::map<int, Use> uses;
    for (int k = 0; k < board.TileCount; k++)
        uses[k];
    int animated = 0;
    for (int tx = 0; tx < MapSize; tx++) {
        for (int ty = 0; ty < MapSize; ty++) {
            const MapCell& cell = board.Cells[tx][ty];
            Use& use = uses[cell.Tile];
            use.cells++;
            if (cell.Flags & CellAnimated) {
                use.animated++;
                animated++;
            }
        }
    }
    std::printf("animated cells: %d of %d\n", animated, MapSize * MapSize);
    for (const auto& [tile, use] : uses)
        std::printf("tile %d%s: %d cells, %d animated\n", tile, tile < board.TileCount ? "" : " (no such tile)",
                    use.cells, use.animated);
    // Quoted for the shell when it holds more than letters, digits and ./_-
    // (a board named as the viewer names it holds a backslash).
    const bool plain = name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./_-") ==
                       std::string::npos;
    std::printf("to see the whole map from above: boardtool map %s map.png\n",
                (plain ? name : "'" + name + "'").c_str());
    return 0;
}

CommandRun SetupInfo(CLI::App* command)
{
    return Runs(RunInfo, BoardOptions<BoardArgument>(command));
}
