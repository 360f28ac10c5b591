// The map of the default world. The viewer starts on the main road at cell
// (15, 15) looking along +x: a canal on the left, chasing lights and a lava
// pit on the right, a plaza and houses ahead, a lake farther left, and at the
// far end the beach and the open sea beyond the map's edge.
#include <algorithm>

#include "makeworld.h"

namespace {

void Set(World& world, int tx, int ty, TileKind kind)
{
    if (tx < 0 || tx >= MapSize || ty < 0 || ty >= MapSize)
        return;
    MapCell& cell = world.Cells[tx][ty];
    const TileInfo& info = TileKinds[kind];
    cell.Tile = static_cast<uint8_t>(kind);
    cell.Flags = info.frames > 1 ? CellAnimated : 0;
    cell.Delay = static_cast<int8_t>(info.delay);
    cell.LastFrame = static_cast<uint8_t>(info.frames - 1);
    // Every cell starts its cycle with the others, and water in step with the
    // sea outside the map, so pools and sea ripple alike.
    cell.Tick = 0;
}

void Fill(World& world, int tx0, int ty0, int tx1, int ty1, TileKind kind)
{
    for (int tx = tx0; tx <= tx1; tx++)
        for (int ty = ty0; ty <= ty1; ty++)
            Set(world, tx, ty, kind);
}

// An ellipse of one kind with a rim of another around it.
void Pool(World& world, int cx, int cy, int rx, int ry, TileKind inside, TileKind rim)
{
    for (int tx = cx - rx - 1; tx <= cx + rx + 1; tx++)
        for (int ty = cy - ry - 1; ty <= cy + ry + 1; ty++) {
            const int dx = tx - cx, dy = ty - cy;
            // Inside when (dx/rx)^2 + (dy/ry)^2 <= 1, kept in integers.
            const int in = dx * dx * ry * ry + dy * dy * rx * rx;
            const int limit = rx * rx * ry * ry;
            const int outer = dx * dx * (ry + 1) * (ry + 1) + dy * dy * (rx + 1) * (rx + 1);
            const int outerLimit = (rx + 1) * (rx + 1) * (ry + 1) * (ry + 1);
            if (in <= limit)
                Set(world, tx, ty, inside);
            else if (outer <= outerLimit)
                Set(world, tx, ty, rim);
        }
}

// One stroke of the brush: the cells tx0..tx1 x ty0..ty1 of one kind, or a
// pool of one kind round (x0, y0) with radii x1 and y1 and a rim of another.
struct Stroke {
    bool pool;
    int x0, y0, x1, y1;
    TileKind kind, rim;
};

constexpr Stroke Area(int tx0, int ty0, int tx1, int ty1, TileKind kind)
{
    return Stroke{false, tx0, ty0, tx1, ty1, kind, kind};
}

constexpr Stroke Lake(int cx, int cy, int rx, int ry, TileKind inside, TileKind rim)
{
    return Stroke{true, cx, cy, rx, ry, inside, rim};
}

// The island's sights, painted in this order over the meadows and the beach.
const Stroke Strokes[] = {
    // The main road along +x, from beach to beach, with the viewer on its
    // left edge; a kerb of chasing lights runs along its right side.
    Area(3, 15, 60, 15, TileRoad), Area(4, 16, 59, 16, TileLights),
    // A canal between sand banks on the left of the road.
    Area(5, 12, 27, 14, TileSand), Area(6, 13, 26, 13, TileWater),
    // A plaza where the cross road meets the main road, with two pools.
    Area(33, 3, 34, 60, TileRoad), Area(29, 10, 38, 20, TilePlaza),
    Area(30, 11, 31, 12, TileWater), Area(36, 18, 37, 19, TileWater),
    // A lake on the left, a lava pit walled in brick on the right with a
    // path to it from the road.
    Lake(20, 6, 4, 2, TileWater, TileSand), Lake(24, 21, 2, 2, TileLava, TileBrick),
    Area(24, 17, 24, 17, TileDirt),
    // Houses along the roads: brick floors.
    Area(11, 8, 13, 10, TileBrick), Area(41, 8, 43, 10, TileBrick), Area(47, 8, 49, 10, TileBrick),
    Area(42, 18, 44, 20, TileBrick), Area(52, 19, 54, 21, TileBrick), Area(10, 30, 13, 33, TileBrick),
    // A second lake in the south of the island, and a lava stream.
    Lake(16, 46, 6, 4, TileWater, TileSand),
    Area(40, 44, 52, 44, TileLava), Area(40, 43, 52, 43, TileBrick), Area(40, 45, 52, 45, TileBrick),
};

}  // namespace

void LayOutMap(World& world)
{
    // Meadows of grass with patches of flowers and bare earth.
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++) {
            TileKind kind = TileGrass;
            if (FractalNoise(301, tx * 8, ty * 8, 64, 2, 0, 0) > 160)
                kind = TileFlowers;
            else if (FractalNoise(302, tx * 8, ty * 8, 48, 2, 0, 0) > 172)
                kind = TileDirt;
            Set(world, tx, ty, kind);
        }

    // A sand beach, two or three cells wide, all around the island.
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++) {
            const int edge = std::min(std::min(tx, ty), std::min(MapSize - 1 - tx, MapSize - 1 - ty));
            const int width = 2 + ValueNoise(303, tx * 16, ty * 16, 64, 0, 0) / 128;
            if (edge < width)
                Set(world, tx, ty, TileSand);
        }

    for (const Stroke& stroke : Strokes) {
        if (stroke.pool)
            Pool(world, stroke.x0, stroke.y0, stroke.x1, stroke.y1, stroke.kind, stroke.rim);
        else
            Fill(world, stroke.x0, stroke.y0, stroke.x1, stroke.y1, stroke.kind);
    }
}
