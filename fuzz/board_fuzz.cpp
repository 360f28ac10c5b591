// The board file reader on arbitrary bytes, through the path LoadMap takes
// once the file is read: the decoder, the images named in the file (a few
// real ones and missing ones), then the commit into the World. A refused
// file must leave the World untouched; an accepted one must hold exactly
// the body's bytes and draw without touching anything outside the view.
#include <cstddef>
#include <cstring>

#include "board/board_file.h"
#include "render/frame.h"
#include "fuzz_support.h"

namespace {

constexpr char FileName[] = "fuzz.brd";

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Whether the format's limits refuse `data`, worked out on its own from the
// layout: header, body offset, cells, count, name slots each with a NUL.
bool FormatRefuses(const uint8_t* data, size_t size)
{
    const int64_t length = static_cast<int64_t>(size);
    if (length < 5)
        return true;
    const int64_t body = static_cast<int32_t>(Get32(data + 1));
    if (body < 5 || body > length || length < body + 4096 * 15 + 4)
        return true;
    const int64_t count = static_cast<int32_t>(Get32(data + body + 4096 * 15));
    if (count < 0 || count > 100)
        return true;
    const int64_t names = body + 4096 * 15 + 4;
    const int64_t sky = names + 128 * count + 12;
    if (length < sky + 128)
        return true;
    for (int64_t k = 0; k < count; k++)
        if (!std::memchr(data + names + 128 * k, 0, 128))
            return true;
    return !std::memchr(data + sky, 0, 128);
}

// The size an image of this name must have once loaded: the scratch
// directory's own images, and the tile placeholder for any other plain name.
// Names with a directory in them are not predicted.
bool ExpectedTileSize(const char* name, int& w, int& h)
{
    static const struct { const char* name; int w, h; } known[] = {
        {"a.bmp", 64, 32}, {"b.bmp", 1, 1}, {"s.bmp", 300, 40}};
    for (const auto& image : known) {
        if (std::strcmp(name, image.name) == 0) {
            w = image.w;
            h = image.h;
            return true;
        }
    }
    if (std::strpbrk(name, "/\\"))
        return false;
    w = CellSize;
    h = CellSize;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    World world;
    MarkWorld(world);
    const WorldCopy before(world);

    const bool refused = world.LoadMapFromMemory(data, size, FileName) != 0;
    Require(refused == FormatRefuses(data, size),
            refused ? "a sound board file was refused: " + world.LastError().Message() : "a malformed board file was loaded");
    if (refused) {
        Require(before.Same(world), "a refused board file changed the World");
        Require(world.LastError().Message().rfind(std::string(FileName) + ": ", 0) == 0,
                "the message does not start with the file name: " + world.LastError().Message());
        return 0;
    }

    // The map encodes back to the very bytes of the body, except the sky
    // slot's bytes after its NUL, which keep what the World held.
    const int64_t body = static_cast<int32_t>(Get32(data + 1));
    std::vector<uint8_t> encoded;
    AppendBody(world, encoded);
    Require(body + static_cast<int64_t>(encoded.size()) <= static_cast<int64_t>(size),
            "the loaded body is longer than the file");
    std::vector<uint8_t> expected(data + body, data + body + encoded.size());
    uint8_t* skySlot = expected.data() + expected.size() - NameSlotSize;
    const size_t skyLength = strnlen(reinterpret_cast<const char*>(skySlot), NameSlotSize);
    std::memcpy(skySlot + skyLength + 1, before.bytes.data() + sizeof world.Cells + sizeof world.TileNames +
                                             skyLength + 1, NameSlotSize - skyLength - 1);
    Require(encoded == expected, "the loaded map does not encode back to the file's body");

    // Frames are run-time state: the load keeps them.
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++)
            Require(world.Cells[tx][ty].Frame ==
                        before.bytes[(static_cast<size_t>(tx) * MapSize + ty) * sizeof(MapCell) +
                                     offsetof(MapCell, Frame)],
                    "a load changed a cell's Frame");

    Require(world.Tiles.size() == static_cast<size_t>(world.TileCount), "Tiles and TileCount differ");
    for (int k = 0; k < world.TileCount; k++) {
        BITMAP* tile = world.Tiles[k].get();
        Require(tile != nullptr, "tile " + std::to_string(k) + " has no image");
        int w, h;
        if (ExpectedTileSize(world.TileNames[k], w, h))
            Require(tile->w == w && tile->h == h,
                    "tile " + std::to_string(k) + " (" + world.TileNames[k] + ") is " + std::to_string(tile->w) +
                        " x " + std::to_string(tile->h));
    }
    Require(world.Sky != nullptr, "no sky after a load");

    // The map as loaded draws inside the view only, after a few ticks.
    for (int tick = 0; tick < 3; tick++)
        world.AnimateTiles();
    DrawAndCompare(world, 1000.5f, 1100.25f, ViewHeightIndex, static_cast<int>(size % AngleSteps), 100);
    return 0;
}
