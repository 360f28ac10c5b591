#include "bench_world.h"

#include <unistd.h>  // Required for: chdir(), access()

#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

constexpr int MadeTiles = 12;
constexpr int MadeFrames = 4;

std::string MadeDirectory;

// A tile image of `frames` frames side by side, with a pattern that differs
// from texel to texel, frame to frame and tile to tile.
BitmapPtr PatternTile(int tile, int frames)
{
    BitmapPtr image(create_bitmap(CellSize * frames, CellSize));
    for (int y = 0; y < image->h; ++y)
        for (int x = 0; x < image->w; ++x)
            putpixel(image.get(), x, y, makecol((x * 8 + tile * 20) & 255, (y * 8 + x / CellSize * 60) & 255, tile * 20));
    return image;
}

BitmapPtr GradientSky()
{
    BitmapPtr image(create_bitmap(SkyPlaceholderWidth, SkyPlaceholderHeight));
    for (int y = 0; y < image->h; ++y)
        for (int x = 0; x < image->w; ++x)
            putpixel(image.get(), x, y, makecol(x % 256, 100 + y, 255 - y));
    return image;
}

// Twelve tiles of four frames, a 2880 x 101 sky, random tiles on every
// cell, a quarter of the cells animated, the ground outside animated too.
}  // namespace

bool MakeBenchBoard(const std::string& directory, Error& error)
{
    if (chdir(directory.c_str()) != 0) {
        error = Error{directory, "cannot change to it"};
        return false;
    }
    World world;
    PALETTE palette;
    get_palette(palette);
    for (int tile = 0; tile < MadeTiles; ++tile) {
        const std::string name = "tile" + std::to_string(tile) + ".bmp";
        save_bmp(name.c_str(), PatternTile(tile, MadeFrames).get(), palette);
        snprintf(world.TileNames[tile], NameSlotSize, "%s", name.c_str());
    }
    save_bmp("sky.bmp", GradientSky().get(), palette);
    snprintf(world.SkyName, NameSlotSize, "sky.bmp");
    world.TileCount = MadeTiles;
    world.AnimLastFrame = MadeFrames - 1;
    world.AnimDelay = 3;

    std::mt19937 random(12345);
    for (auto& column : world.Cells) {
        for (MapCell& cell : column) {
            cell.Tile = static_cast<uint8_t>(random() % MadeTiles);
            cell.LastFrame = MadeFrames - 1;
            cell.Frame = static_cast<uint8_t>(random() % MadeFrames);
            cell.Delay = static_cast<int8_t>(random() % 6);
            cell.Flags = random() % 4 == 0 ? CellAnimated : 0;
        }
    }
    // The images are only named here; CreateMap writes names, not pictures.
    if (world.CreateMap("bench.brd") != 0) {
        error = world.LastError();
        return false;
    }
    return true;
}

std::string PrepareBenchBoard(std::string& description, Error& error)
{
    const std::string data = std::string(GROUNDVIEW_SOURCE_DIR) + "/data";
    if (access((data + "/test.brd").c_str(), R_OK | W_OK) == 0 && chdir(GROUNDVIEW_SOURCE_DIR) == 0) {
        description = "data/test.brd";
        return std::string(GROUNDVIEW_SOURCE_DIR) + "/data/test.brd";
    }
    char directory[] = "/tmp/groundview-bench-XXXXXX";
    if (!mkdtemp(directory)) {
        error = Error{"/tmp", "cannot make a directory under it"};
        return "";
    }
    MadeDirectory = directory;
    if (!MakeBenchBoard(directory, error))
        return "";
    description = "a made map of " + std::to_string(MadeTiles) + " tiles x " + std::to_string(MadeFrames) +
                  " frames (no data/test.brd in the source tree)";
    return MadeDirectory + "/bench.brd";
}

void RemoveBenchBoard()
{
    if (MadeDirectory.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(MadeDirectory, ignored);
    MadeDirectory.clear();
}
