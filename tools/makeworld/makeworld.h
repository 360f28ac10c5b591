// The pieces of the default world, each drawn from code: the tile images,
// the sky panorama, the map and the frame picture around the view.
#pragma once

#include <string>
#include <vector>

#include "pattern.h"
#include "core/world.h"

// The tiles of the default map, by their index in the board file.
enum TileKind {
    TileWater,   // the sea beyond the map's edge, and pools and lakes in it
    TileGrass,
    TileSand,
    TileRoad,
    TileBrick,
    TileFlowers,
    TilePlaza,
    TileLava,
    TileLights,  // road kerb with lamps that chase along +x
    TileDirt,
    TileKindCount
};

// How a tile animates: frames side by side, each shown Delay + 1 ticks.
// Every cycle divides 24 ticks, so the whole map repeats every 24 ticks.
struct TileInfo {
    const char* file;   // image file name inside data/
    int frames;
    int delay;
};
extern const TileInfo TileKinds[TileKindCount];

// Draws every frame of one tile kind side by side, 32 pixels apart.
BitmapPtr DrawTile(TileKind kind);

// The sky panorama: one column per angle step, joining seamlessly where the
// last column meets the first, and the view's rows down to the horizon.
constexpr int SkyWidth = AngleSteps;
constexpr int SkyHeight = Horizon + 1;
BitmapPtr DrawSky();

// Fills the cells of the map: an island of grass with roads, a plaza, a
// lake, a lava pit and houses, ringed by a sand beach; the sea lies beyond.
void LayOutMap(World& world);

// The 640 x 480 frame picture: a bezel around the view, the program's name,
// the keys, and a small map of the island built from the tiles' colours; or,
// when not `island`, the same frame for any map, with an empty map box and
// nothing that speaks of the island.
BitmapPtr DrawFrame(const World& world, const std::vector<BitmapPtr>& tiles, bool island);
