// The World record: construction, destruction, the sky image and placeholders.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "test_support.h"
#include "core/world.h"

// True when some pixel of the image has the placeholder's red.
static bool HasRedMark(BITMAP* image)
{
    const int red = makecol(255, 30, 30);
    for (int y = 0; y < image->h; y++)
        for (int x = 0; x < image->w; x++)
            if (PixelAt(image, x, y) == red)
                return true;
    return false;
}

TEST(World, ConstructionLeavesAnEmptyStillMap)
{
    World world;
    EXPECT_TRUE(world.Tiles.empty());
    EXPECT_EQ(world.Sky, nullptr);
    EXPECT_EQ(world.TileCount, 0);
    EXPECT_EQ(world.ColumnBase, 160);
    EXPECT_EQ(world.AnimFrame, 0);
    EXPECT_EQ(world.AnimLastFrame, 0);
    EXPECT_EQ(world.AnimTick, 0);
    EXPECT_EQ(world.AnimDelay, 0);
    EXPECT_EQ(world.ExtraFloat, 0.0f);
    // Fields that a save writes start zeroed too, so nothing stale is ever written.
    static const MapCell zeroCell{};
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++)
            ASSERT_EQ(0, std::memcmp(&world.Cells[tx][ty], &zeroCell, sizeof zeroCell));
    static const char zeroNames[MaxTiles][NameSlotSize] = {};
    EXPECT_EQ(0, std::memcmp(world.TileNames, zeroNames, sizeof zeroNames));
    static const char zeroSlot[NameSlotSize] = {};
    EXPECT_EQ(0, std::memcmp(world.SkyName, zeroSlot, sizeof zeroSlot));
}

TEST(World, MapCellFieldsLieInDeclarationOrder)
{
    EXPECT_EQ(offsetof(MapCell, ExtraA), 0u);
    EXPECT_EQ(offsetof(MapCell, ExtraB), 4u);
    EXPECT_EQ(offsetof(MapCell, ExtraC), 8u);
    EXPECT_EQ(offsetof(MapCell, Delay), 9u);
    EXPECT_EQ(offsetof(MapCell, ExtraD), 10u);
    EXPECT_EQ(offsetof(MapCell, Tick), 11u);
    EXPECT_EQ(offsetof(MapCell, Flags), 12u);
    EXPECT_EQ(offsetof(MapCell, Frame), 13u);
    EXPECT_EQ(offsetof(MapCell, LastFrame), 14u);
    EXPECT_EQ(offsetof(MapCell, Tile), 15u);
}

TEST(World, DestroyingAnUnfilledWorldIsHarmless)
{
    auto world = std::make_unique<World>();
    world.reset();
    SUCCEED();
}

TEST(World, LoadSkyLoadsARealImage)
{
    ScratchDir dir;
    BitmapPtr sky = MakeSolidBitmap(3000, 120, 0x1234);
    SaveImage("sky.bmp", sky.get());

    World world;
    ASSERT_EQ(world.LoadSky("sky.bmp"), 0);
    ASSERT_NE(world.Sky, nullptr);
    EXPECT_EQ(world.Sky->w, 3000);
    EXPECT_EQ(world.Sky->h, 120);
    EXPECT_EQ(bitmap_color_depth(world.Sky.get()), 16);
    EXPECT_EQ(PixelAt(world.Sky.get(), 2999, 119), 0x1234);
    EXPECT_STREQ(world.SkyName, "sky.bmp");
}

TEST(World, LoadSkyReadsABackslashAsADirectorySeparator)
{
    ScratchDir dir;
    ASSERT_EQ(mkdir("art", 0755), 0);
    BitmapPtr sky = MakeSolidBitmap(2880, 101, 0x0F0F);
    SaveImage("art/sky.bmp", sky.get());

    World world;
    ASSERT_EQ(world.LoadSky("art\\sky.bmp"), 0);
    EXPECT_EQ(world.Sky->w, 2880);
    EXPECT_EQ(PixelAt(world.Sky.get(), 0, 0), 0x0F0F);
    // The name stays as it was given.
    EXPECT_STREQ(world.SkyName, "art\\sky.bmp");
}

TEST(World, AMissingSkyGetsAMarkedPlaceholderAndKeepsItsName)
{
    ScratchDir dir;
    World world;
    ASSERT_EQ(world.LoadSky("nowhere.bmp"), 0);
    ASSERT_NE(world.Sky, nullptr);
    EXPECT_EQ(world.Sky->w, 2880);
    EXPECT_EQ(world.Sky->h, 101);
    EXPECT_TRUE(HasRedMark(world.Sky.get()));
    EXPECT_EQ(PixelAt(world.Sky.get(), 2879, 100), 0);
    EXPECT_STREQ(world.SkyName, "nowhere.bmp");
}

TEST(World, TilePlaceholderIsOneMarkedFrame)
{
    BitmapPtr tile = MakeTilePlaceholder();
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->w, 32);
    EXPECT_EQ(tile->h, 32);
    EXPECT_TRUE(HasRedMark(tile.get()));
    // The text's top is at row 16: the rows above it stay clear.
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 32; x++)
            ASSERT_EQ(PixelAt(tile.get(), x, y), 0);
}

TEST(World, SkyNamesMustFitTheirSlot)
{
    ScratchDir dir;
    World world;
    const std::string longest(127, 'a');
    ASSERT_EQ(world.LoadSky(longest.c_str()), 0);
    EXPECT_EQ(std::string(world.SkyName), longest);
    BITMAP* before = world.Sky.get();

    const std::string tooLong(128, 'b');
    EXPECT_NE(world.LoadSky(tooLong.c_str()), 0);
    EXPECT_NE(world.LastError().Message().find("127"), std::string::npos) << world.LastError().Message();
    EXPECT_EQ(std::string(world.SkyName), longest);
    EXPECT_EQ(world.Sky.get(), before);
}

TEST(World, SkyNameKeepsTheBytesAfterItsTerminator)
{
    ScratchDir dir;
    World world;
    ASSERT_EQ(world.LoadSky("a-long-sky-name.bmp"), 0);
    ASSERT_EQ(world.LoadSky("b.bmp"), 0);
    EXPECT_STREQ(world.SkyName, "b.bmp");
    EXPECT_STREQ(world.SkyName + 6, "-sky-name.bmp");
}
