// A deep snapshot of a World and a readable difference between two of them.
#include "world_state.h"

#include <cstring>
#include <sstream>

static BitmapState Capture(const BITMAP* image)
{
    BitmapState state;
    state.pointer = image;
    if (!image)
        return state;
    state.w = image->w;
    state.h = image->h;
    state.depth = bitmap_color_depth(const_cast<BITMAP*>(image));
    const size_t rowBytes = static_cast<size_t>(image->w) * static_cast<size_t>((state.depth + 7) / 8);
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (int y = 0; y < image->h; y++) {
        const uint8_t* row = static_cast<const uint8_t*>(image->line[y]);
        for (size_t i = 0; i < rowBytes; i++)
            hash = (hash ^ row[i]) * 1099511628211ull;
    }
    state.pixelHash = hash;
    return state;
}

bool BitmapState::operator==(const BitmapState& other) const
{
    return pointer == other.pointer && w == other.w && h == other.h && depth == other.depth &&
           pixelHash == other.pixelHash;
}

WorldState Snapshot(const World& world)
{
    WorldState state;
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++)
            state.cells.push_back(world.Cells[tx][ty]);
    state.tileNames.assign(&world.TileNames[0][0], &world.TileNames[0][0] + sizeof world.TileNames);
    state.skyName.assign(world.SkyName, world.SkyName + sizeof world.SkyName);
    state.tileCount = world.TileCount;
    state.columnBase = world.ColumnBase;
    state.animFrame = world.AnimFrame;
    state.animLastFrame = world.AnimLastFrame;
    state.animDelay = world.AnimDelay;
    state.animTick = world.AnimTick;
    std::memcpy(&state.extraFloatBits, &world.ExtraFloat, sizeof state.extraFloatBits);
    for (const BitmapPtr& tile : world.Tiles)
        state.tiles.push_back(Capture(tile.get()));
    state.sky = Capture(world.Sky.get());
    return state;
}

static std::string Describe(const BitmapState& b)
{
    std::ostringstream out;
    out << b.pointer;
    if (b.pointer)
        out << " " << b.w << "x" << b.h << "x" << b.depth << " pixels#" << std::hex << b.pixelHash;
    return out.str();
}

static std::string DescribeCell(const MapCell& c)
{
    std::ostringstream out;
    out << "ExtraA " << c.ExtraA << " ExtraB " << c.ExtraB << " ExtraC " << int(c.ExtraC) << " Delay "
        << int(c.Delay) << " ExtraD " << int(c.ExtraD) << " Tick " << int(c.Tick) << " Flags " << int(c.Flags)
        << " Frame " << int(c.Frame) << " LastFrame " << int(c.LastFrame) << " Tile " << int(c.Tile);
    return out.str();
}

std::string Difference(const WorldState& a, const WorldState& b)
{
    std::ostringstream out;
    const int shown = 5;
    int cellDiffs = 0;
    for (size_t i = 0; i < a.cells.size() && i < b.cells.size(); i++) {
        if (std::memcmp(&a.cells[i], &b.cells[i], sizeof(MapCell)) == 0)
            continue;
        if (cellDiffs++ < shown)
            out << "cell (" << i / MapSize << ", " << i % MapSize << "): " << DescribeCell(a.cells[i])
                << " -> " << DescribeCell(b.cells[i]) << "\n";
    }
    if (cellDiffs > shown)
        out << "... " << cellDiffs - shown << " more cells differ\n";
    for (size_t slot = 0; slot < MaxTiles; slot++) {
        const char* x = a.tileNames.data() + slot * NameSlotSize;
        const char* y = b.tileNames.data() + slot * NameSlotSize;
        if (std::memcmp(x, y, NameSlotSize) != 0)
            out << "TileNames[" << slot << "]: \"" << std::string(x, strnlen(x, NameSlotSize)) << "\" -> \""
                << std::string(y, strnlen(y, NameSlotSize)) << "\" (or bytes after the NUL)\n";
    }
    if (a.skyName != b.skyName)
        out << "SkyName: \"" << std::string(a.skyName.data(), strnlen(a.skyName.data(), NameSlotSize))
            << "\" -> \"" << std::string(b.skyName.data(), strnlen(b.skyName.data(), NameSlotSize))
            << "\" (or bytes after the NUL)\n";
    auto field = [&](const char* name, int64_t x, int64_t y) {
        if (x != y)
            out << name << ": " << x << " -> " << y << "\n";
    };
    field("TileCount", a.tileCount, b.tileCount);
    field("ColumnBase", a.columnBase, b.columnBase);
    field("AnimFrame", a.animFrame, b.animFrame);
    field("AnimLastFrame", a.animLastFrame, b.animLastFrame);
    field("AnimDelay", a.animDelay, b.animDelay);
    field("AnimTick", a.animTick, b.animTick);
    if (a.extraFloatBits != b.extraFloatBits)
        out << "ExtraFloat bits: " << std::hex << a.extraFloatBits << " -> " << b.extraFloatBits << std::dec
            << "\n";
    if (a.tiles.size() != b.tiles.size())
        out << "Tiles: " << a.tiles.size() << " images -> " << b.tiles.size() << "\n";
    for (size_t k = 0; k < a.tiles.size() && k < b.tiles.size(); k++)
        if (!(a.tiles[k] == b.tiles[k]))
            out << "Tiles[" << k << "]: " << Describe(a.tiles[k]) << " -> " << Describe(b.tiles[k]) << "\n";
    if (!(a.sky == b.sky))
        out << "Sky: " << Describe(a.sky) << " -> " << Describe(b.sky) << "\n";
    return out.str();
}

testing::AssertionResult Unchanged(const WorldState& before, const World& world)
{
    const std::string difference = Difference(before, Snapshot(world));
    if (difference.empty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the World changed:\n" << difference;
}
