// What every ground renderer shares: the checks made once per draw before any
// pixel is touched, and the table that says where each cell's texels are.
// Both the plain renderer and any faster one build on these, so that they
// read and write exactly the same memory.
#pragma once

#include <array>
#include <cstdint>

#include "core/world.h"

// The ground renderer addresses the view through a fixed row length: the
// view lies in a 640-pixel-wide back buffer of 2 bytes per pixel.
constexpr int GroundRowPixels = FrameWidth;
constexpr int GroundRowBytes = 2 * GroundRowPixels;
// The rays fan out over the view's width, starting this many steps to the
// right of the heading.
constexpr int GroundFanOffset = 240;

// The reach factors of the ray at angle step `a`, `r` steps off the heading,
// for the height scale `scale`: how far along x and y the ray's ground point
// lies in row k, times k. Each product of three is formed in double and
// rounded to float once: rounding in between, or not at all, moves ground
// points across texel borders.
inline float GroundReachX(double scale, int r, int a)
{
    return static_cast<float>(scale * RCosTable[r] * CosTable[a]);
}
inline float GroundReachY(double scale, int r, int a)
{
    return static_cast<float>(scale * RCosTable[r] * SinTable[a]);
}

// The viewer's position is truncated to a 32-bit integer after the reach of
// a ray (at most about 41800 units, even on a 640-wide view at height 99) is
// added: positions up to 2^30 in size keep that sum far inside int32, where
// the truncation is defined. Farther positions (or NaN) draw no ground.
constexpr float GroundPositionLimit = 1073741824.0f;

// Where the texels of one cell come from: the top-left texel of the frame the
// cell shows, and the distance from one texel row to the next, in pixels. The
// texel for ground point (gx, gy) is Texels[(gy & 31) * Pitch + (gx & 31)].
struct TexelSource {
    const uint16_t* Texels;
    int32_t Pitch;
};

// One entry per cell, cell (tx, ty) at tx * MapSize + ty, and one last entry
// for the ground outside the map.
constexpr int OffMapSource = MapSize * MapSize;
using TexelSources = std::array<TexelSource, MapSize * MapSize + 1>;

inline int CellSource(int tx, int ty)
{
    return tx * MapSize + ty;
}

// Reachable tile numbers: a cell's Tile is 8 bits.
constexpr int TileNumbers = 256;

// Whether the ground renderer reads a tile image: a memory bitmap of 2 bytes
// per pixel, at least 32 x 32, whose rows follow each other without a gap.
// Any other image (and a missing one) shows colour 0.
bool UsableTileImage(BITMAP* image);

// The first texel of each frame of one tile image, or nothing when the image
// cannot be read safely.
struct TileImage {
    const uint16_t* Texels = nullptr;  // top-left texel of frame 0
    int32_t Pitch = 0;                 // pixels per row
    int32_t Frames = 0;                // whole 32-pixel frames side by side

    // Where frame `frame` of the image is read from (see below).
    TexelSource Frame(int frame) const;
};

// The tile images a draw can use: the first Count of the World's tiles, as
// the texel table sees them.
struct TileImages {
    int32_t Count = 0;
    std::array<TileImage, TileNumbers> Images;

    // Same images, read in the same places.
    bool operator==(const TileImages& other) const;
};

// Looks at the World's tile images, as BuildTexelSources does.
void InspectTiles(const World& world, TileImages& images);

// Fills `sources` for the World as it is now: each cell shows its Tile
// (clamped to TileCount - 1) at its Frame, the ground outside the map tile 0
// at the low 8 bits of AnimFrame. No entry can lead a read outside an image:
//  - a tile image is used only when it is a memory bitmap of 2 bytes per
//    pixel, at least 32 x 32, whose rows follow each other without a gap;
//    any other image, a missing one, and every tile of a map without tiles
//    show colour 0;
//  - a frame beyond the whole 32-pixel frames an image holds shows frame
//    modulo that number, so a one-frame placeholder shows itself at every
//    frame.
// Images of the size their frames need are read exactly where the plain
// arithmetic says.
void BuildTexelSources(const World& world, TexelSources& sources);
// The same from tile images already inspected: the cells, the tile images'
// places and the global frame say everything about the table.
void BuildTexelSources(const World& world, const TileImages& images, TexelSources& sources);

// The rows a draw may write, as the range of the row counter k: view row
// horizon + k for FirstRow <= k < EndRow. Empty when FirstRow >= EndRow.
struct GroundRows {
    int64_t FirstRow;
    int64_t EndRow;
};

// Checks everything a draw depends on and returns false when the ground must
// not be drawn at all; debug builds stop at an assertion instead. The view
// must be a memory bitmap of 2 bytes per pixel whose rows lie 1280 bytes
// apart, with width + ColumnBase = 640; the heading within 0..2879, the
// height index within 0..99, the position within GroundPositionLimit. On
// success `rows` holds the rows to draw: horizon + 1 to view height - 2,
// never a row above the view.
bool PrepareGround(const World& world, BITMAP* view, float x, float y, int height, int angle,
                   int horizon, GroundRows& rows);
