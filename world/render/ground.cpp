// The perspective ground: one ray per view column, one ground point per view
// row below the horizon, one texel copied for each. This is the plain
// statement of the arithmetic; any faster renderer must match it bit for bit.
#include "render/ground.h"

#include <algorithm>
#include <cassert>
#include <cmath>  // Required for: std::fabs()

namespace {

// What an unusable tile image shows: colour 0, read from a block of zeros of
// the size of one frame.
const uint16_t BlankTexels[CellSize * CellSize] = {};
constexpr TexelSource BlankSource{BlankTexels, CellSize};

bool TwoBytesPerPixel(BITMAP* image)
{
    const int depth = bitmap_color_depth(image);
    return depth == 15 || depth == 16;
}

// Rows `rowBytes` apart, checked at the second and at the last row: memory
// bitmaps have a constant row distance, so a sub-bitmap narrower than its
// parent shows itself here.
bool RowsEvenlyApart(BITMAP* image, long rowBytes)
{
    if (image->h < 2)
        return true;
    const long second = image->line[1] - image->line[0];
    const long last = image->line[image->h - 1] - image->line[0];
    return second == rowBytes && last == rowBytes * (image->h - 1);
}

TileImage Inspect(const BitmapPtr& tile)
{
    TileImage image;
    BITMAP* bitmap = tile.get();
    if (!UsableTileImage(bitmap))
        return image;
    image.Texels = reinterpret_cast<const uint16_t*>(bitmap->line[0]);
    image.Pitch = bitmap->w;
    image.Frames = bitmap->w / CellSize;
    return image;
}

}  // namespace

bool UsableTileImage(BITMAP* image)
{
    return image && is_memory_bitmap(image) && TwoBytesPerPixel(image) && image->w >= CellSize &&
           image->h >= CellSize && RowsEvenlyApart(image, 2L * image->w);
}

TexelSource TileImage::Frame(int frame) const
{
    if (!Texels)
        return BlankSource;
    // A frame the image does not hold shows one it does hold; frames it
    // holds are read exactly where they are (and found without the
    // division, which would cost more than the rest of the table).
    const int held = frame < Frames ? frame : frame % Frames;
    return TexelSource{Texels + CellSize * held, Pitch};
}

bool TileImages::operator==(const TileImages& other) const
{
    if (Count != other.Count)
        return false;
    for (int tile = 0; tile < Count; ++tile)
        if (Images[tile].Texels != other.Images[tile].Texels || Images[tile].Pitch != other.Images[tile].Pitch ||
            Images[tile].Frames != other.Images[tile].Frames)
            return false;
    return true;
}

void InspectTiles(const World& world, TileImages& images)
{
    // Only tiles that are really held count, whatever TileCount claims.
    const int held = static_cast<int>(std::min<size_t>(world.Tiles.size(), TileNumbers));
    images.Count = std::clamp<int32_t>(world.TileCount, 0, held);
    for (int tile = 0; tile < images.Count; ++tile)
        images.Images[tile] = Inspect(world.Tiles[tile]);
}

void BuildTexelSources(const World& world, TexelSources& sources)
{
    TileImages images;
    InspectTiles(world, images);
    BuildTexelSources(world, images, sources);
}

void BuildTexelSources(const World& world, const TileImages& tiles, TexelSources& sources)
{
    const int count = tiles.Count;
    if (count == 0) {
        // No tile 0 for the ground outside the map, no tile to clamp to.
        sources.fill(BlankSource);
        return;
    }

    const std::array<TileImage, TileNumbers>& images = tiles.Images;

    for (int tx = 0; tx < MapSize; ++tx) {
        for (int ty = 0; ty < MapSize; ++ty) {
            const MapCell& cell = world.Cells[tx][ty];
            // A tile number beyond the loaded images shows the last of them.
            const int tile = std::min<int>(cell.Tile, count - 1);
            sources[CellSource(tx, ty)] = images[tile].Frame(cell.Frame);
        }
    }
    // The ground outside the map repeats tile 0 at the global frame, of which
    // only the low 8 bits count.
    sources[OffMapSource] = images[0].Frame(world.AnimFrame & 0xFF);
}

bool PrepareGround(const World& world, BITMAP* view, float x, float y, int height, int angle,
                   int horizon, GroundRows& rows)
{
    // The view: written through line[0] with a fixed row length of 1280
    // bytes, one column per ray from ColumnBase to 639.
    const bool viewUsable = view && is_memory_bitmap(view) && TwoBytesPerPixel(view) &&
                            world.ColumnBase >= 0 && world.ColumnBase < GroundRowPixels &&
                            view->w + world.ColumnBase == GroundRowPixels &&
                            RowsEvenlyApart(view, GroundRowBytes);
    assert(viewUsable && "the view must be a 2-byte sub-bitmap of a 640-wide bitmap, width + ColumnBase = 640");
    const bool angleUsable = angle >= 0 && angle < AngleSteps;
    assert(angleUsable && "the heading must lie within 0..2879");
    const bool heightUsable = height >= 0 && height < HeightSteps;
    assert(heightUsable && "the height index must lie within 0..99");
    // Written as "not greater" so that NaN fails too.
    const bool positionUsable = std::fabs(x) <= GroundPositionLimit && std::fabs(y) <= GroundPositionLimit;
    assert(positionUsable && "the position must lie within 2^30 of the origin");
    if (!viewUsable || !angleUsable || !heightUsable || !positionUsable)
        return false;

    // Row k lies in view row horizon + k; rows down to view height - 2 are
    // the ground's (the last row belongs to neither renderer), and rows
    // above the view are skipped rather than written. Kept in 64 bits so no
    // horizon can overflow the bounds.
    rows.FirstRow = std::max<int64_t>(1, -static_cast<int64_t>(horizon));
    rows.EndRow = static_cast<int64_t>(view->h) - horizon - 1;
    return true;
}

void World::DrawGround(BITMAP* view, float x, float y, int height, int angle, int horizon) const
{
    GroundRows rows;
    if (!PrepareGround(*this, view, x, y, height, angle, horizon, rows))
        return;
    if (rows.FirstRow >= rows.EndRow)
        return;  // the view is too short for any ground row

    TexelSources sources;
    BuildTexelSources(*this, sources);

    const double viewerX = x;
    const double viewerY = y;
    const double scale = ViewHeight[height];
    uint16_t* const firstRow = reinterpret_cast<uint16_t*>(view->line[0]) +
                               (horizon + rows.FirstRow) * GroundRowPixels;

    // a: the ray's absolute angle, r: its angle relative to the heading,
    // s: the column counter, which puts the ray into view column 639 - s.
    int a = angle - GroundFanOffset;
    int r = -GroundFanOffset;
    for (int s = ColumnBase; s < view->w + ColumnBase; ++s, ++a, ++r) {
        // The counters never stray more than a turn.
        a = WrapAngle(a);
        r = WrapAngle(r);
        const float dc = GroundReachX(scale, r, a);
        const float ds = GroundReachY(scale, r, a);

        uint16_t* dest = firstRow + (GroundRowPixels - 1 - s);
        for (int64_t k = rows.FirstRow; k < rows.EndRow; ++k) {
            // The quotient stays in double: rounding it to float first moves
            // ground points across texel borders. Truncation toward zero
            // (not flooring) makes -1 < x < 1 all texel column 0.
            const int32_t gx = static_cast<int32_t>(viewerX + static_cast<double>(dc) / static_cast<double>(k));
            const int32_t gy = static_cast<int32_t>(viewerY - static_cast<double>(ds) / static_cast<double>(k));
            // Arithmetic shifts floor, so gx = -1 lies in cell -1, off the map.
            const int32_t tx = gx >> 5;
            const int32_t ty = gy >> 5;
            const bool onMap = static_cast<uint32_t>(tx) < MapSize && static_cast<uint32_t>(ty) < MapSize;
            const TexelSource& source = sources[onMap ? CellSource(tx, ty) : OffMapSource];
            // The masks run texels on modulo 32 across the map's edges too.
            *dest = source.Texels[(gy & 31) * source.Pitch + (gx & 31)];
            dest += GroundRowPixels;
        }
    }
}
