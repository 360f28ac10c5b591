// The Tiled map readers (TMX and JSON) on arbitrary bytes, through the
// path the viewer takes: LoadTiledMap, which reads the map, its
// tilesets and images and composes the tile strips in memory. The first
// byte chooses the format. A refused map must leave the World untouched
// and say which file; an accepted one must hold a board that draws.
#include <cstdio>

#include "render/frame.h"
#include "fuzz_support.h"
#include "tiled/tiled_map.h"
#include "tiled/tiled_world.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char* name = data[0] % 2 ? "fuzz.tmj" : "fuzz.tmx";
    FILE* file = std::fopen(name, "wb");
    Require(file != nullptr, "cannot write the map file");
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    World world;
    MarkWorld(world);
    const WorldCopy before(world);
    Error error;
    if (!LoadTiledMap(world, name, error)) {
        Require(before.Same(world), "a refused map changed the World");
        Require(error.Message().rfind(std::string(name) + ": ", 0) == 0 || error.Message().find(".ts") != std::string::npos ||
                    error.Message().find(".bmp") != std::string::npos,
                "the message names no file: " + error);
        return 0;
    }
    Require(world.TileCount >= 1 && world.TileCount <= MaxTiles, "tile count " + std::to_string(world.TileCount));
    Require(world.Tiles.size() == size_t(world.TileCount), "Tiles and TileCount differ");
    for (int tick = 0; tick < 3; tick++)
        world.AnimateTiles();
    DrawAndCompare(world, 1000.5f, 1100.25f, ViewHeightIndex, static_cast<int>(size % AngleSteps), 100);
    return 0;
}
