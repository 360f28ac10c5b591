// boardtool info and check, run as the built program on real files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "test_support.h"
#include "core/world.h"

#include <loadpng.h>  // Required for: save_png(); needs allegro.h first

namespace {

// A map in `dir`: tile 0 two frames wide, tile 1 one frame, a proper sky;
// every cell on tile 0 but for a few, and some animated.
void MakeGoodMap(const std::string& dir)
{
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    SaveImage(dir + "/two.bmp", MakeSolidBitmap(64, 32, 0x07E0).get());
    SaveImage(dir + "/one.bmp", MakeSolidBitmap(32, 40, 0x001F).get());
    SaveImage(dir + "/sky.bmp", MakeSolidBitmap(2880, 101, 0x7BEF).get());
    World world;
    NameImages(world, {"two.bmp", "one.bmp"}, "sky.bmp");
    world.AnimDelay = 4;
    world.AnimLastFrame = 1;
    world.ExtraFloat = 0.5f;
    world.Cells[3][0].Tile = 1;
    world.Cells[4][0].Tile = 1;
    world.Cells[5][5].Flags = CellAnimated;
    world.Cells[5][5].LastFrame = 1;
    world.Cells[6][6].Flags = CellAnimated | 0x01;
    world.Cells[6][6].Tile = 1;
    world.Cells[7][7].LastFrame = 9;  // not animated: stays at frame 0
    ASSERT_EQ(world.CreateMap((dir + "/map.brd").c_str()), 0) << world.LastError().Message();
}

}  // namespace

TEST(BoardtoolInfo, ShowsEverythingTheFileHolds)
{
    ScratchDir dir;
    MakeGoodMap("maps");
    const CommandResult result = RunCommand(Boardtool("-C maps info map.brd"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "header byte: 0x00\n"
              "body offset: 5\n"
              "file size: 61845 bytes (body 61840, 0 after it)\n"
              "tiles: 2\n"
              "tile 0: two.bmp: 64x32 pixels, 2 frames\n"
              "tile 1: one.bmp: 32x40 pixels, 1 frame\n"
              "global animation: delay 4, last frame 1\n"
              "extra float: 0.5\n"
              "sky: sky.bmp: 2880x101 pixels\n"
              "animated cells: 2 of 4096\n"
              "tile 0: 4093 cells, 1 animated\n"
              "tile 1: 3 cells, 1 animated\n"
              "to see the whole map from above: boardtool map map.brd map.png\n");

    // Without -C the images are looked for in the working directory.
    const CommandResult elsewhere = RunCommand(Boardtool("info maps/map.brd"));
    EXPECT_EQ(elsewhere.status, 0);
    EXPECT_NE(elsewhere.out.find("tile 0: two.bmp: cannot be loaded: two.bmp: cannot open: No such file or directory\n"), std::string::npos) << elsewhere.out;
    EXPECT_NE(elsewhere.out.find("sky: sky.bmp: cannot be loaded: sky.bmp: cannot open: No such file or directory\n"), std::string::npos) << elsewhere.out;
}

TEST(BoardtoolInfo, ShowsOddHeadersTrailingBytesAndUnknownTiles)
{
    ScratchDir dir;
    World world;
    world.TileCount = 1;
    std::strcpy(world.TileNames[0], "a\nb.bmp");
    world.Cells[0][0].Tile = 200;
    world.Cells[0][0].Flags = CellAnimated;
    world.ExtraFloat = -1.0e-3f;
    ASSERT_EQ(world.CreateMap("x.brd"), 0);
    Bytes bytes = ReadBytes("x.brd");
    bytes[0] = 0xAB;
    bytes.insert(bytes.end(), {1, 2, 3, 4});
    WriteBytes("x.brd", bytes);
    const CommandResult result = RunCommand(Boardtool("info x.brd"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "header byte: 0xAB\n"
              "body offset: 5\n"
              "file size: 61721 bytes (body 61712, 4 after it)\n"
              "tiles: 1\n"
              "tile 0: a\\x0Ab.bmp: cannot be loaded: a\\x0Ab.bmp: cannot open: No such file or directory\n"
              "global animation: delay 0, last frame 0\n"
              "extra float: -0.00100000005\n"
              "sky: : cannot be loaded: cannot open: No such file or directory\n"
              "animated cells: 1 of 4096\n"
              "tile 0: 4095 cells, 0 animated\n"
              "tile 200 (no such tile): 1 cells, 1 animated\n"
              "to see the whole map from above: boardtool map x.brd map.png\n");
}

TEST(BoardtoolCheck, AGoodMapHasNoProblems)
{
    ScratchDir dir;
    MakeGoodMap("maps");
    const CommandResult result = RunCommand(Boardtool("-C maps check map.brd"));
    // Rows below a tile's 32 are never shown: a warning, not a problem.
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out,
              "warning: tile 1 (one.bmp): 40 rows high: rows 32..39 are never shown\n"
              "map.brd: no problems, 1 warning\n");
    EXPECT_EQ(result.err, "");
}

TEST(BoardtoolCheck, ListsEveryProblemWithItsSlotOrCell)
{
    ScratchDir dir;
    SaveImage("wide.bmp", MakeSolidBitmap(96, 32, 0).get());   // 3 frames
    SaveImage("low.bmp", MakeSolidBitmap(64, 31, 0).get());    // 31 rows
    SaveImage("thin.bmp", MakeSolidBitmap(31, 32, 0).get());   // no whole frame
    SaveImage("sky.bmp", MakeSolidBitmap(2879, 100, 0).get());
    World world;
    NameImages(world, {"wide.bmp", "low.bmp", "thin.bmp", "gone.bmp", "wide.bmp"}, "sky.bmp");
    world.AnimLastFrame = 3;  // tile 0 has frames 0..2 only
    // Animated cells needing more frames than their tile has.
    world.Cells[10][20].Tile = 4;
    world.Cells[10][20].Flags = CellAnimated;
    world.Cells[10][20].LastFrame = 3;
    world.Cells[11][20].Flags = CellAnimated;
    world.Cells[11][20].LastFrame = 2;  // exactly fits
    // Cells on broken images are not reported again one by one.
    world.Cells[1][1].Tile = 3;
    world.Cells[1][1].Flags = CellAnimated;
    world.Cells[1][1].LastFrame = 7;
    // Twelve cells name a tile that does not exist: said once, with the count.
    for (int tx = 0; tx < 12; tx++)
        world.Cells[tx][63].Tile = 5;
    ASSERT_EQ(world.CreateMap("bad.brd"), 0);

    const CommandResult result = RunCommand(Boardtool("check bad.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    std::string expected =
        "tile 1 (low.bmp): 31 rows high, a tile needs 32\n"
        "tile 2 (thin.bmp): 31 pixels wide, less than one 32-pixel frame\n"
        "tile 3 (gone.bmp): the image cannot be loaded: gone.bmp: cannot open: No such file or directory\n"
        "tile 0 (wide.bmp): 3 frames, the global animation runs to frame 3 and needs 4\n"
        "cell (10, 20): tile 4 (wide.bmp) has 3 frames, the cell animates to frame 3 and needs 4\n";
    expected +=
        "12 cells, the first (0, 63): tile 5 is not below the tile count 5\n"
        "sky (sky.bmp): 2879 pixels wide, the sky needs 2880\n"
        "sky (sky.bmp): 100 rows high, the sky needs 101\n"
        "warning: tile 1 (low.bmp): no cell shows it\n"
        "warning: tile 2 (thin.bmp): no cell shows it\n";
    EXPECT_EQ(result.out, expected);
}

TEST(BoardtoolCheck, WarnsOfPixelsNeverShown)
{
    ScratchDir dir;
    SaveImage("strip.bmp", MakeSolidBitmap(100, 32, 0x07E0).get());  // 4 columns past 3 frames
    SaveImage("tall.bmp", MakeSolidBitmap(32, 64, 0x001F).get());    // lower half never shown
    SaveImage("spare.bmp", MakeSolidBitmap(32, 32, 0xF800).get());   // no cell on it
    SaveImage("sky.bmp", MakeSolidBitmap(2880, 120, 0x7BEF).get());  // 19 rows below the horizon
    // A PNG whose pixels are half transparent.
    {
        BitmapPtr clear(create_bitmap_ex(32, 32, 32));
        clear_to_color(clear.get(), makeacol32(200, 100, 50, 128));
        ASSERT_EQ(save_png("clear.png", clear.get(), nullptr), 0);
    }
    World world;
    NameImages(world, {"strip.bmp", "tall.bmp", "spare.bmp", "clear.png"}, "sky.bmp");
    world.Cells[0][0].Tile = 1;
    world.Cells[1][0].Tile = 3;
    ASSERT_EQ(world.CreateMap("w.brd"), 0);
    CommandResult result = RunCommand(Boardtool("check w.brd"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "warning: tile 0 (strip.bmp): 100 pixels wide, not a whole number of 32-pixel frames: "
              "the last 4 columns are never shown\n"
              "warning: tile 1 (tall.bmp): 64 rows high: rows 32..63 are never shown\n"
              "warning: tile 2 (spare.bmp): no cell shows it\n"
              "warning: tile 3 (clear.png): has pixels that are not fully opaque; the ground draws every texel opaque\n"
              "warning: sky (sky.bmp): 120 rows high: rows 101..119 are never shown\n"
              "w.brd: no problems, 5 warnings\n");

    // A map made from a list of one name would put every cell on a tile it
    // lacks: new refuses it rather than leave 4096 problems for check.
    WriteBytes("one.txt", Bytes{'1', ' ', 'a', '.', 'b', 'm', 'p'});
    result = RunCommand(Boardtool("new one.txt one.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "boardtool: one.txt: 1 tile; a new map shows tile 1 in every cell and tile 0 around it, so it "
              "needs at least 2\n");
    EXPECT_FALSE(FileExists("one.brd"));
    EXPECT_FALSE(FileExists("one-sky.bmp"));
}

TEST(BoardtoolCheck, AMapWithoutTilesOrSkyIsAProblem)
{
    ScratchDir dir;
    World world;
    std::strcpy(world.SkyName, "nosky.bmp");
    ASSERT_EQ(world.CreateMap("empty.brd"), 0);
    const CommandResult result = RunCommand(Boardtool("check empty.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "no tiles: the ground needs at least tile 0\n"
              "sky (nosky.bmp): the image cannot be loaded: nosky.bmp: cannot open: No such file or directory\n");
}

TEST(Boardtool, RefusesUnreadableBoardsAndBadUsage)
{
    ScratchDir dir;
    WriteBytes("short.brd", Bytes{0, 5, 0, 0, 0, 1});
    for (const char* command : {"info", "check"}) {
        SCOPED_TRACE(command);
        CommandResult result = RunCommand(Boardtool(std::string(command) + " short.brd"));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err,
                  "boardtool: short.brd: 6 bytes, the cells and tile count of a body at offset 5 need 61449\n");

        result = RunCommand(Boardtool(std::string(command) + " missing.brd"));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "boardtool: missing.brd: cannot open: No such file or directory\n");

        result = RunCommand(Boardtool(command));
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("boardtool: ", 0), 0u) << result.err;

        result = RunCommand(Boardtool(std::string(command) + " --help"));
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find("BOARD"), std::string::npos) << result.out;
    }
    const CommandResult result = RunCommand(Boardtool("-C nowhere info x.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "boardtool: cannot change to nowhere: No such file or directory\n");
}
