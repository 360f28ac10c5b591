// The Tiled map readers (TMX and JSON) on arbitrary bytes, through the
// path the viewer takes: LoadTiledMap, which reads the map, its
// tilesets and images and composes the tile strips in memory. The first
// byte chooses the format. A refused map must leave the World untouched
// and say which file; an accepted one must hold a board that draws.
// Then the parser alone, from memory: the bytes up to the first NUL are the
// map, and what follows is every external tileset it names. Bits of the
// first byte also ask for a region and for merging similar appearances.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "render/frame.h"
#include "fuzz_support.h"
#include "tiled/tiled_map.h"
#include "tiled/tiled_world.h"

static void ParseFromMemory(const uint8_t* data, size_t size, const char* name, const TiledOptions& options)
{
    const uint8_t* end = std::find(data, data + size, uint8_t(0));
    const std::vector<uint8_t> tileset(end == data + size ? end : end + 1, data + size);
    std::vector<std::string> asked;
    const TilesetLoader load = [&](const std::string& path, std::vector<uint8_t>& bytes, Error&) {
        asked.push_back(path);
        bytes = tileset;
        return true;
    };
    TiledDocument doc;
    doc.Width = -7;
    Error error;
    if (!ParseTiledMap(data, size_t(end - data), name, load, doc, error, options)) {
        Require(doc.Width == -7 && doc.Tilesets.empty(), "a refused map changed the document");
        Require(error.Message().rfind(std::string(name) + ": ", 0) == 0 ||
                    std::any_of(asked.begin(), asked.end(),
                                [&](const std::string& path) { return error.Message().rfind(path + ": ", 0) == 0; }),
                "the message names no file: " + error.Message());
        return;
    }
    for (size_t i = 1; i < doc.Tilesets.size(); i++)
        Require(doc.Tilesets[i].FirstGid > doc.Tilesets[i - 1].FirstGid, "first gids do not rise");
    for (const TiledLayer& layer : doc.Layers)
        Require(layer.Gids.size() == size_t(MapSize * MapSize), "a layer is not 64 x 64 cells");
    Require(!options.HasRegion || (doc.WindowX == options.RegionX && doc.WindowY == options.RegionY),
            "the window is not the region asked for");
}

// The import with a region and merging as the first byte asks: what it
// makes fits a board.
static void ImportWithOptions(const char* name, const TiledOptions& options)
{
    TiledImport imported;
    Error error;
    if (!ImportTiledMap(name, "fuzz-images", imported, error, options)) {
        Require(!error.Message().empty(), "a refusal without a message");
        return;
    }
    Require(imported.Map->TileCount >= 1 && imported.Map->TileCount <= MaxTiles,
            "tile count " + std::to_string(imported.Map->TileCount));
    for (const TiledImport::NewImage& image : imported.Images)
        Require(image.Name.size() < size_t(NameSlotSize) &&
                    image.Pixels.Rgba.size() == size_t(image.Pixels.Width) * size_t(image.Pixels.Height) * 4,
                "a made image is not whole");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char* name = data[0] % 2 ? "fuzz.tmj" : "fuzz.tmx";
    TiledOptions options;
    options.MergeSimilar = data[0] & 2;
    options.HasRegion = data[0] & 4;
    options.RegionX = int8_t(data[0]) >> 3;
    options.RegionY = -options.RegionX;
    ParseFromMemory(data + 1, size - 1, name, options);
    FILE* file = std::fopen(name, "wb");
    Require(file != nullptr, "cannot write the map file");
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    if (options.MergeSimilar || options.HasRegion)
        ImportWithOptions(name, options);

    World world;
    MarkWorld(world);
    const WorldCopy before(world);
    Error error;
    if (!LoadTiledMap(world, name, error)) {
        Require(before.Same(world), "a refused map changed the World");
        Require(error.Message().rfind(std::string(name) + ": ", 0) == 0 || error.Message().find(".ts") != std::string::npos ||
                    error.Message().find(".bmp") != std::string::npos,
                "the message names no file: " + error.Message());
        return 0;
    }
    Require(world.TileCount >= 1 && world.TileCount <= MaxTiles, "tile count " + std::to_string(world.TileCount));
    Require(world.Tiles.size() == size_t(world.TileCount), "Tiles and TileCount differ");
    for (int tick = 0; tick < 3; tick++)
        world.AnimateTiles();
    DrawAndCompare(world, 1000.5f, 1100.25f, ViewHeightIndex, static_cast<int>(size % AngleSteps), 100);
    return 0;
}
