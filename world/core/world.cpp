// The World record: construction, destruction, the error channel every
// operation shares, and the sky image.
#include "core/world.h"

#include <cstring>

World::World()
{
    // Every field starts defined, so no later save can write stale memory.
    std::memset(Cells, 0, sizeof Cells);
    std::memset(TileNames, 0, sizeof TileNames);
    std::memset(SkyName, 0, sizeof SkyName);
    TileCount = 0;
    ColumnBase = FrameWidth - ViewWidth;
    AnimFrame = 0;
    AnimLastFrame = 0;
    AnimDelay = 0;
    AnimTick = 0;
    ExtraFloat = 0.0f;
}

World::~World()
{
    // The sky first, then the tiles in increasing order.
    Sky.reset();
    for (BitmapPtr& tile : Tiles)
        tile.reset();
}

int World::Fail(Error error)
{
    Failure = std::move(error);
    return 1;
}

int World::LoadSky(const char* name)
{
    const size_t length = strnlen(name, NameSlotSize);
    if (length >= NameSlotSize)
        return Fail(Error{name, "a sky name has at most " +
                    std::to_string(NameSlotSize - 1) + " characters, this one " +
                    std::to_string(std::strlen(name))});
    BitmapPtr sky = LoadSkyImage(name);
    if (!sky)
        return Fail(Error{name, "cannot make a bitmap for the sky placeholder"});
    ReplaceSky(name, std::move(sky));
    return 0;
}

void World::ReplaceSky(const char* name, BitmapPtr image)
{
    // Only the name and its NUL are copied: the bytes after the terminator
    // keep what SkyName held, and a save writes them as they are.
    const size_t length = strnlen(name, NameSlotSize - 1);
    std::memcpy(SkyName, name, length);
    SkyName[length] = '\0';
    Sky = std::move(image);
}

BitmapPtr LoadSkyImage(const char* name)
{
    Error reason;
    BitmapPtr sky = LoadImage(name, reason);
    return sky ? std::move(sky) : MakeSkyPlaceholder();
}
