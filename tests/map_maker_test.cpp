// What the viewer offers a map maker, below the window: the keys that move
// backward, change the eye height and go home; the one opener of boards and
// Tiled maps that the viewer and boardtool share; the list of files that
// --watch follows; and the map from above in average colours.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "control.h"
#include "render/map_view.h"
#include "test_support.h"
#include "tiled/open_map.h"

namespace {

bool Lists(const std::vector<std::string>& files, const std::string& name)
{
    return std::find(files.begin(), files.end(), name) != files.end();
}

// A Tiled map as a map maker keeps one: map.tmx with its tiles in the
// external tileset ground.tsx, one image a tile (red.bmp, blue.bmp), the sky
// named by the map's "sky" property; cell (1, 0) on blue, all others red.
void MakeTiledMap()
{
    SaveImage("red.bmp", MakeSolidBitmap(32, 32, 0xF800).get());
    SaveImage("blue.bmp", MakeSolidBitmap(32, 32, 0x001F).get());
    SaveImage("sky.bmp", MakeSolidBitmap(2880, 101, 0x7BEF).get());
    const std::string tileset =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<tileset version=\"1.8\" name=\"ground\" tilewidth=\"32\" tileheight=\"32\" tilecount=\"2\" columns=\"0\">\n"
        " <tile id=\"0\"><image width=\"32\" height=\"32\" source=\"red.bmp\"/></tile>\n"
        " <tile id=\"1\"><image width=\"32\" height=\"32\" source=\"blue.bmp\"/></tile>\n"
        "</tileset>\n";
    WriteBytes("ground.tsx", Bytes(tileset.begin(), tileset.end()));
    std::string cells;
    for (int i = 0; i < MapSize * MapSize; i++)
        cells += std::string(i == 1 ? "2" : "1") + (i + 1 < MapSize * MapSize ? "," : "");
    const std::string map =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"64\" height=\"64\" "
        "tilewidth=\"32\" tileheight=\"32\" infinite=\"0\">\n"
        " <properties><property name=\"sky\" type=\"file\" value=\"sky.bmp\"/></properties>\n"
        " <tileset firstgid=\"1\" source=\"ground.tsx\"/>\n"
        " <layer id=\"1\" name=\"ground\" width=\"64\" height=\"64\"><data encoding=\"csv\">" +
        cells + "</data></layer>\n</map>\n";
    WriteBytes("map.tmx", Bytes(map.begin(), map.end()));
}

}  // namespace

TEST(MapMakerKeys, DownStepsBackHeightKeysClampHomeGoesToTheStart)
{
    ViewerState viewer;
    TickKeys down;
    down.down = true;
    StepViewer(viewer, down);
    EXPECT_EQ(viewer.x, 473.0f);
    EXPECT_EQ(viewer.y, 480.0f);

    // Heading 720 looks along -y: backward is +y.
    viewer = ViewerState{};
    viewer.angle = 720;
    StepViewer(viewer, down);
    EXPECT_NEAR(viewer.x, 480.0f, 1e-4f);
    EXPECT_EQ(viewer.y, 487.0f);

    TickKeys higher, lower;
    higher.higher = true;
    lower.lower = true;
    viewer = ViewerState{};
    for (int i = 0; i < 100; i++)
        StepViewer(viewer, higher);
    EXPECT_EQ(viewer.height, 99);
    for (int i = 0; i < 120; i++)
        StepViewer(viewer, lower);
    EXPECT_EQ(viewer.height, 0);

    // Home first, then the other keys of the same tick.
    ViewerState start;
    start.x = 1000.5f;
    start.y = -20.0f;
    start.angle = 2000;
    TickKeys home;
    home.home = true;
    home.left = true;
    StepViewer(viewer, home, start);
    EXPECT_EQ(viewer.x, 1000.5f);
    EXPECT_EQ(viewer.y, -20.0f);
    EXPECT_EQ(viewer.angle, 2018);
    EXPECT_EQ(viewer.height, ViewHeightIndex);
}

TEST(OpenMap, ReadsATiledMapAndListsEveryFileItIsMadeOf)
{
    ScratchDir dir;
    MakeTiledMap();
    World world;
    Error error;
    ASSERT_TRUE(OpenMap(world, "map.tmx", error)) << error;
    ASSERT_EQ(world.TileCount, 2);
    EXPECT_EQ(world.Cells[1][0].Tile, world.Cells[0][0].Tile == 0 ? 1 : 0);
    EXPECT_EQ(std::string(world.SkyName), "sky.bmp");

    const std::vector<std::string> files = MapSourceFiles("map.tmx", &world);
    for (const char* name : {"map.tmx", "ground.tsx", "red.bmp", "blue.bmp", "sky.bmp"})
        EXPECT_TRUE(Lists(files, name)) << name;

    // A broken tileset: the map and the tileset are still listed, so that
    // mending either is noticed; the World keeps the last good map.
    WriteBytes("ground.tsx", Bytes{'<', 't'});
    const std::vector<std::string> broken = MapSourceFiles("map.tmx", nullptr);
    EXPECT_TRUE(Lists(broken, "map.tmx"));
    EXPECT_TRUE(Lists(broken, "ground.tsx"));
    EXPECT_FALSE(OpenMap(world, "map.tmx", error));
    EXPECT_NE(error.Message().find("ground.tsx"), std::string::npos) << error;
    EXPECT_EQ(world.TileCount, 2);
}

TEST(OpenMap, ATiledMapUnderAnotherNameIsNamedNotMisreadAsABoard)
{
    ScratchDir dir;
    MakeTiledMap();
    WriteBytes("map.dat", ReadBytes("map.tmx"));
    World world;
    Error error;
    EXPECT_FALSE(OpenMap(world, "map.dat", error));
    EXPECT_EQ(error.Message(), "map.dat: holds XML text, like a Tiled map, not a board file; a Tiled map is read by "
                               "its name: .tmx for XML, .tmj or .json for JSON");
    // A FIFO is refused as before, without waiting for a writer.
    ASSERT_EQ(mkfifo("fifo.brd", 0644), 0);
    EXPECT_FALSE(OpenMap(world, "fifo.brd", error));
    EXPECT_EQ(error.Message(), "fifo.brd: is a FIFO, not a regular file");
}

TEST(OpenMap, BoardtoolReadsATiledMapWhereverItReadsABoard)
{
    ScratchDir dir;
    MakeTiledMap();
    ASSERT_EQ(RunCommand(Boardtool("import map.tmx map.brd")).status, 0);

    const CommandResult info = RunCommand(Boardtool("info map.tmx"));
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out.rfind("Tiled map, read as boardtool import reads it (nothing written)\ntiles: 2\n", 0), 0u)
        << info.out;
    const CommandResult check = RunCommand(Boardtool("check map.tmx"));
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("map.tmx: no problems"), std::string::npos) << check.out;
    EXPECT_EQ(RunCommand(Boardtool("bench map.tmx --frames 3")).status, 0);

    // The same pictures as of the board that import makes of it.
    ASSERT_EQ(RunCommand(Boardtool("render map.tmx tmx.bmp --x 40 --y 20 --heading 1440")).status, 0);
    ASSERT_EQ(RunCommand(Boardtool("render map.brd brd.bmp --x 40 --y 20 --heading 1440")).status, 0);
    EXPECT_EQ(ReadBytes("tmx.bmp"), ReadBytes("brd.bmp"));
    ASSERT_EQ(RunCommand(Boardtool("map map.tmx tmx-map.bmp --scale 16")).status, 0);
    ASSERT_EQ(RunCommand(Boardtool("map map.brd brd-map.bmp --scale 16")).status, 0);
    EXPECT_EQ(ReadBytes("tmx-map.bmp"), ReadBytes("brd-map.bmp"));

    // Never a picture over a file the map is made of, tileset images included.
    const Bytes red = ReadBytes("red.bmp");
    const CommandResult over = RunCommand(Boardtool("render map.tmx red.bmp"));
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.err, "boardtool: red.bmp: not written: it is red.bmp, which this command reads\n");
    EXPECT_EQ(ReadBytes("red.bmp"), red);
}

TEST(MapAverages, EachCellShowsTheAverageOfItsTile)
{
    ScratchDir dir;
    // A tile of alternate black and white columns: one texel says black or
    // white, the average grey.
    BitmapPtr stripes = MakeSolidBitmap(32, 32, 0);
    for (int y = 0; y < 32; y++)
        for (int x = 1; x < 32; x += 2)
            putpixel(stripes.get(), x, y, makecol16(255, 255, 255));
    SaveImage("stripes.bmp", stripes.get());
    SaveImage("sky.bmp", MakeSolidBitmap(2880, 101, 0).get());
    World world;
    NameImages(world, {"stripes.bmp"}, "sky.bmp");
    ASSERT_EQ(world.CreateMap("map.brd"), 0);
    World loaded;
    ASSERT_EQ(loaded.LoadMap("map.brd"), 0);

    BitmapPtr box(create_bitmap_ex(16, 128, 128));
    MapAverages averages;
    ASSERT_TRUE(averages.Draw(loaded, box.get(), 16));
    for (int y : {0, 77, 127})
        for (int x : {0, 1, 64, 127}) {
            const int pixel = PixelAt(box.get(), x, y);
            EXPECT_NEAR(getr16(pixel), 128, 8) << x << "," << y;
            EXPECT_NEAR(getg16(pixel), 128, 8) << x << "," << y;
            EXPECT_NEAR(getb16(pixel), 128, 8) << x << "," << y;
        }
    EXPECT_FALSE(averages.Draw(loaded, box.get(), 3));
}
