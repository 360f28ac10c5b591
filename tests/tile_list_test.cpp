// Tile lists and World::NewMap: the parser against the C library's fscanf,
// the fresh map NewMap builds, and the lists it refuses.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "test_support.h"
#include "render/frame.h"
#include "board/tile_list.h"
#include "core/world.h"
#include "world_state.h"

namespace {

// What fscanf makes of a tile list file: the count read with "%i", then as
// many names as that count asks for, read with "%s".
struct ScanfResult {
    bool countRead = false;
    int count = 0;
    std::vector<std::string> names;  // with any NUL bytes they hold
    long end = 0;                    // file position after the last read
};

ScanfResult ScanWithFscanf(const std::string& path)
{
    ScanfResult result;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw std::runtime_error("cannot open " + path);
    result.countRead = std::fscanf(file, "%i", &result.count) == 1;
    result.end = std::ftell(file);
    // The inputs here are short; the width only guards the buffer.
    static char name[4096];
    for (int k = 0; result.countRead && k < result.count; k++) {
        int start = 0, stop = 0;
        if (std::fscanf(file, " %n%4095s%n", &start, name, &stop) != 1)
            break;
        result.names.emplace_back(name, static_cast<size_t>(stop - start));
        result.end = std::ftell(file);
    }
    std::fclose(file);
    return result;
}

std::string Names(int count, const std::string& separator = " ")
{
    std::string text;
    for (int k = 0; k < count; k++)
        text += separator + "n" + std::to_string(k);
    return text;
}

}  // namespace

// Every list here means the same to fscanf and to the parser: where fscanf
// reads a count from 0 to 100 and that many names of at most 127 characters
// without a NUL, the parser gives the same count, names and end; otherwise it
// refuses.
TEST(TileListParser, AgreesWithFscanf)
{
    const std::string longest(127, 'L');
    const std::vector<std::string> inputs = {
        "3 a b c",
        " \t\r\n\v\f3\r\na\r\nb\r\nc\r\n",
        "3 a\tb\vc\fd",
        "010" + Names(16),
        "0x10" + Names(16),
        "0X1f" + Names(31, "\n"),
        "10" + Names(16),
        "12abc b c d e f g h i j k l",
        "08 a b",
        "0x1g h",
        "0x1G",
        "007 a b c d e f g h",
        "+2 a b",
        "-0 a",
        "-0x0",
        "0",
        "00",
        "000\n",
        "2 a",
        "2 a\n\n\n",
        "2 a  b  c",
        "2 a\xA0" "b \xC3\xA9t\xC3\xA9.bmp",
        "2 dir\\a.bmp ../b.bmp",
        std::string("1\na\0b", 5),
        "1 " + longest,
        "1 " + longest + "M",
        "2 " + longest + " " + longest,
        "100" + Names(100),
        "0x64" + Names(100),
        "0144" + Names(100),
        "101" + Names(101),
        "0x65" + Names(101),
        "-1 a",
        "-0x10 a",
        "+-5 a",
        "- 5 a",
        "+",
        "-",
        "",
        "   \n\t",
        "abc",
        "x5 a",
        "9z",
        "3",
    };
    ScratchDir dir;
    for (size_t i = 0; i < inputs.size(); i++) {
        const std::string& input = inputs[i];
        SCOPED_TRACE("input " + std::to_string(i) + ": " + input.substr(0, 60));
        WriteBytes("list.txt", Bytes(input.begin(), input.end()));
        const ScanfResult expected = ScanWithFscanf("list.txt");

        bool fits = expected.countRead && expected.count >= 0 && expected.count <= MaxTiles &&
                    static_cast<int>(expected.names.size()) == expected.count;
        for (const std::string& name : expected.names)
            fits = fits && name.size() <= 127 && name.find('\0') == std::string::npos;

        TileList parsed;
        Error error;
        const bool ok = ParseTileList(input.data(), input.size(), "list.txt", parsed, error);
        ASSERT_EQ(ok, fits) << error;
        if (ok) {
            EXPECT_EQ(parsed.Count, expected.count);
            EXPECT_EQ(parsed.Names, expected.names);
            EXPECT_EQ(parsed.End, static_cast<size_t>(expected.end));
        } else {
            EXPECT_EQ(error.Message().rfind("list.txt: ", 0), 0u) << error;
        }
    }
}

// Where the parser parts from glibc's fscanf on purpose.
TEST(TileListParser, RefusesWhatFscanfWouldMisread)
{
    struct Case {
        std::string input;
        std::string message;
    };
    const std::vector<Case> cases = {
        // glibc reads a bare 0x as the count 0, other C libraries refuse it.
        {"0x a b", "list.txt: the tile count \"0x\" has no hexadecimal digit after its 0x"},
        {"0Xg", "list.txt: the tile count \"0X\" has no hexadecimal digit after its 0x"},
        {"-0x", "list.txt: the tile count \"-0x\" has no hexadecimal digit after its 0x"},
        // fscanf cuts an overflowing count to the bits of an int: 4294967297 is 1.
        {"4294967297 a", "list.txt: the tile count 4294967297 is above 100, the most a map holds"},
        {"-4294967295 a", "list.txt: the tile count -4294967295 is below 0"},
        {"0x100000001 a", "list.txt: the tile count 0x100000001 is above 100, the most a map holds"},
        {"99999999999999999999999999 a",
         "list.txt: the tile count 99999999999999999999999999 is above 100, the most a map holds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        TileList parsed;
        Error error;
        EXPECT_FALSE(ParseTileList(c.input.data(), c.input.size(), "list.txt", parsed, error));
        EXPECT_EQ(error.Message(), c.message);
    }
}

TEST(TileListParser, RefusalsNameTheFaultWithItsNumbers)
{
    struct Case {
        std::string input;
        std::string message;
    };
    const std::string tooLong(130, 'q');
    const std::vector<Case> cases = {
        {"", "t.lst: no tile count at the start, found an empty file"},
        {" \r\n", "t.lst: no tile count at the start, found only white space"},
        {"  tiles: 3\n", "t.lst: no tile count at the start, found \"tiles:\""},
        {"+-5", "t.lst: no tile count at the start, found \"+-5\""},
        {"a\\b\"c 2", "t.lst: no tile count at the start, found \"a\\b\\x22c\""},
        {"-3 a b c", "t.lst: the tile count -3 is below 0"},
        {"-0x10", "t.lst: the tile count -0x10 (-16) is below 0"},
        {"101", "t.lst: the tile count 101 is above 100, the most a map holds"},
        {"0145", "t.lst: the tile count 0145 (101) is above 100, the most a map holds"},
        {"0x200", "t.lst: the tile count 0x200 (512) is above 100, the most a map holds"},
        {"3", "t.lst: the tile count is 3 but no name follows"},
        {"3 a", "t.lst: the tile count is 3 but only 1 name follows"},
        {"0x10 a b c d e f g h i j k l m n o",
         "t.lst: the tile count is 16 but only 15 names follow"},
        {"3 a " + tooLong + " c",
         "t.lst: the name of tile 1, \"" + std::string(40, 'q') +
             "\"..., has 130 characters; a name holds at most 127"},
        {std::string("2 a b\0c", 7), "t.lst: the name of tile 1, \"b\\x00c\", holds a NUL byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 40));
        TileList parsed;
        parsed.Count = 7;
        parsed.Names = {"kept"};
        Error error;
        EXPECT_FALSE(ParseTileList(c.input.data(), c.input.size(), "t.lst", parsed, error));
        EXPECT_EQ(error.Message(), c.message);
        EXPECT_EQ(parsed.Count, 7);
        EXPECT_EQ(parsed.Names, std::vector<std::string>{"kept"});
    }
}

TEST(TileListParser, NeverLooksPastTheLastCountedName)
{
    // Whatever follows, even bytes that would be refused in a name, is ignored.
    const std::string input = std::string("2 a b ") + std::string(300, 'z') + std::string("\0\0", 2);
    TileList parsed;
    Error error;
    ASSERT_TRUE(ParseTileList(input.data(), input.size(), "l", parsed, error)) << error;
    EXPECT_EQ(parsed.Names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(parsed.End, 5u);
    // A count of 0 reads no name at all.
    ASSERT_TRUE(ParseTileList("0 \0\0\0", 5, "l", parsed, error)) << error;
    EXPECT_EQ(parsed.Count, 0);
    EXPECT_TRUE(parsed.Names.empty());
}

namespace {

// Writes tile images t0.bmp .. t<count-1>.bmp, tile k a solid 32 x 32 of
// colour TileColor(k), so that a loaded image tells which file it came from.
int TileColor(int k)
{
    return 0x0100 + k;
}

void WriteTileImages(int count)
{
    for (int k = 0; k < count; k++) {
        BitmapPtr image = MakeSolidBitmap(CellSize, CellSize, TileColor(k));
        SaveImage("t" + std::to_string(k) + ".bmp", image.get());
    }
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

// " t0.bmp t1.bmp ..." with the given separator before each name.
std::string TileNamesText(int count, const std::string& separator)
{
    std::string text;
    for (int k = 0; k < count; k++)
        text += separator + "t" + std::to_string(k) + ".bmp";
    return text;
}

// Fills a World with a map unlike a new one: every cell field set, every
// global set, two tiles, a marked sky and stale bytes in every name slot.
void FillWithOldMap(World& world)
{
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++) {
            MapCell& cell = world.Cells[tx][ty];
            cell.ExtraA = tx * 1000 + ty;
            cell.ExtraB = -(tx * 64 + ty);
            cell.ExtraC = static_cast<uint8_t>(tx + 1);
            cell.Delay = static_cast<int8_t>(ty - 5);
            cell.ExtraD = 0xEE;
            cell.Tick = 3;
            cell.Flags = 0xFF;
            cell.Frame = 2;
            cell.LastFrame = static_cast<uint8_t>(ty + 1);
            cell.Tile = 7;
        }
    for (int k = 0; k < MaxTiles; k++)
        std::memset(world.TileNames[k], 'a' + k % 26, NameSlotSize);
    std::strcpy(world.SkyName, "old-sky.bmp");
    world.Tiles.clear();
    world.Tiles.push_back(MakeSolidBitmap(CellSize, CellSize, 0x7777));
    world.Tiles.push_back(MakeSolidBitmap(CellSize, CellSize, 0x7778));
    world.TileCount = 2;
    world.Sky = MakeSkyPlaceholder();
    world.ColumnBase = 160;
    world.AnimFrame = 1;
    world.AnimLastFrame = 3;
    world.AnimDelay = 2;
    world.AnimTick = 1;
    world.ExtraFloat = 3.25f;
}

}  // namespace

TEST(NewMap, ReadsTheCountInEveryBase)
{
    ScratchDir dir;
    WriteTileImages(16);
    struct Case {
        std::string count;
        int tiles;
    };
    for (const Case& c : {Case{"010", 8}, Case{"0x10", 16}, Case{"10", 10}}) {
        SCOPED_TRACE(c.count);
        WriteText("tiles.txt", c.count + TileNamesText(16, "\n") + "\n");
        World world;
        ASSERT_EQ(world.NewMap("tiles.txt"), 0) << world.LastError().Message();
        ASSERT_EQ(world.TileCount, c.tiles);
        ASSERT_EQ(world.Tiles.size(), static_cast<size_t>(c.tiles));
        for (int k = 0; k < c.tiles; k++) {
            EXPECT_EQ(std::string(world.TileNames[k]), "t" + std::to_string(k) + ".bmp");
            EXPECT_EQ(PixelAt(world.Tiles[k].get(), 31, 31), TileColor(k));
        }
        // The slots past the count are not written.
        EXPECT_EQ(world.TileNames[c.tiles][0], '\0');
    }
}

TEST(NewMap, LineLayoutDoesNotMatter)
{
    ScratchDir dir;
    WriteTileImages(5);
    WriteText("lf.txt", "5" + TileNamesText(5, "\n") + "\n");
    WriteText("crlf.txt", "5" + TileNamesText(5, "\r\n") + "\r\n");
    WriteText("rows.txt", "  5 t0.bmp\tt1.bmp\n\n t2.bmp t3.bmp  \f t4.bmp");

    World reference;
    ASSERT_EQ(reference.NewMap("lf.txt"), 0) << reference.LastError().Message();
    for (const char* list : {"crlf.txt", "rows.txt"}) {
        SCOPED_TRACE(list);
        World world;
        ASSERT_EQ(world.NewMap(list), 0) << world.LastError().Message();
        ASSERT_EQ(world.TileCount, 5);
        EXPECT_EQ(0, std::memcmp(world.TileNames, reference.TileNames, sizeof world.TileNames));
        for (int k = 0; k < 5; k++)
            EXPECT_EQ(PixelAt(world.Tiles[k].get(), 0, 0), TileColor(k));
    }
}

TEST(NewMap, ReadsOnlyTheCountedNames)
{
    ScratchDir dir;
    WriteTileImages(3);
    WriteText("tiles.txt", "2 t0.bmp t1.bmp t2.bmp");
    World world;
    FillWithOldMap(world);
    ASSERT_EQ(world.NewMap("tiles.txt"), 0) << world.LastError().Message();
    ASSERT_EQ(world.TileCount, 2);
    ASSERT_EQ(world.Tiles.size(), 2u);
    EXPECT_EQ(PixelAt(world.Tiles[1].get(), 0, 0), TileColor(1));
    // Each used slot holds its name and zeros after it; the others keep
    // what the old map left there.
    char expected[NameSlotSize] = "t1.bmp";
    EXPECT_EQ(0, std::memcmp(world.TileNames[1], expected, NameSlotSize));
    for (int k = 2; k < MaxTiles; k++)
        for (int i = 0; i < NameSlotSize; i++)
            ASSERT_EQ(world.TileNames[k][i], 'a' + k % 26) << k;
}

TEST(NewMap, ACountOfZeroGivesNoTiles)
{
    ScratchDir dir;
    WriteText("tiles.txt", "0 t0.bmp");
    World world;
    FillWithOldMap(world);
    ASSERT_EQ(world.NewMap("tiles.txt"), 0) << world.LastError().Message();
    EXPECT_EQ(world.TileCount, 0);
    EXPECT_TRUE(world.Tiles.empty());
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++)
            ASSERT_EQ(world.Cells[tx][ty].Tile, 1);
}

TEST(NewMap, ASingleNameLeavesEveryCellOnTheMissingTileOne)
{
    ScratchDir dir;
    WriteTileImages(1);
    WriteText("tiles.txt", "1\nt0.bmp\n");
    World world;
    ASSERT_EQ(world.NewMap("tiles.txt"), 0) << world.LastError().Message();
    ASSERT_EQ(world.TileCount, 1);
    EXPECT_EQ(PixelAt(world.Tiles[0].get(), 0, 0), TileColor(0));
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++)
            ASSERT_EQ(world.Cells[tx][ty].Tile, 1);

    // The ground renderer draws the missing tile 1 as tile 0: from the middle
    // of the map every ground pixel has tile 0's colour.
    OffscreenFrame frame = MakeOffscreenFrame();
    ASSERT_NE(frame.View, nullptr);
    world.DrawGround(frame.View.get(), 1024.0f, 1024.0f, ViewHeightIndex, 300, Horizon);
    for (int y = Horizon + 1; y < ViewRows - 1; y++)
        for (int x = 0; x < ViewWidth; x++)
            ASSERT_EQ(PixelAt(frame.View.get(), x, y), TileColor(0)) << x << "," << y;
}

TEST(NewMap, AMissingImageGetsAPlaceholderAndKeepsItsName)
{
    ScratchDir dir;
    WriteTileImages(2);
    ASSERT_EQ(mkdir("art", 0755), 0);
    BitmapPtr inDir = MakeSolidBitmap(64, 32, 0x0ABC);
    SaveImage("art/grass.bmp", inDir.get());
    // Names are relative to the working directory, wherever the list lies.
    WriteText("art/tiles.txt", "4 t0.bmp gone.bmp art\\grass.bmp t1.bmp");
    World world;
    ASSERT_EQ(world.NewMap("art\\tiles.txt"), 0) << world.LastError().Message();
    ASSERT_EQ(world.TileCount, 4);
    EXPECT_STREQ(world.TileNames[1], "gone.bmp");
    ASSERT_NE(world.Tiles[1], nullptr);
    EXPECT_EQ(world.Tiles[1]->w, 32);
    EXPECT_EQ(world.Tiles[1]->h, 32);
    EXPECT_EQ(PixelAt(world.Tiles[1].get(), 0, 0), 0);
    bool marked = false;
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++)
            marked = marked || PixelAt(world.Tiles[1].get(), x, y) == makecol(255, 30, 30);
    EXPECT_TRUE(marked);
    // A backslash in a name is a directory separator, and the name stays as written.
    EXPECT_STREQ(world.TileNames[2], "art\\grass.bmp");
    EXPECT_EQ(world.Tiles[2]->w, 64);
    EXPECT_EQ(PixelAt(world.Tiles[2].get(), 63, 0), 0x0ABC);
    EXPECT_EQ(PixelAt(world.Tiles[3].get(), 0, 0), TileColor(1));
}

TEST(NewMap, ResetsTheCellsAndKeepsTheGlobals)
{
    ScratchDir dir;
    WriteTileImages(2);
    WriteText("tiles.txt", "2 t0.bmp t1.bmp");
    World world;
    FillWithOldMap(world);
    world.ColumnBase = 161;  // not a value NewMap could make up
    const WorldState before = Snapshot(world);
    ASSERT_EQ(world.NewMap("tiles.txt"), 0) << world.LastError().Message();

    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++) {
            const MapCell& cell = world.Cells[tx][ty];
            SCOPED_TRACE(std::to_string(tx) + "," + std::to_string(ty));
            ASSERT_EQ(cell.Tile, 1);
            ASSERT_EQ(cell.Flags, 0);  // no cell animated
            ASSERT_EQ(cell.ExtraC, 0);
            ASSERT_EQ(cell.Delay, 0);
            ASSERT_EQ(cell.ExtraD, 0);
            ASSERT_EQ(cell.Tick, 0);
            ASSERT_EQ(cell.Frame, 0);
            ASSERT_EQ(cell.ExtraA, tx * 1000 + ty);
            ASSERT_EQ(cell.ExtraB, -(tx * 64 + ty));
            ASSERT_EQ(cell.LastFrame, ty + 1);
        }
    // The global animation goes on with the settings and counters it had.
    EXPECT_EQ(world.AnimDelay, before.animDelay);
    EXPECT_EQ(world.AnimLastFrame, before.animLastFrame);
    EXPECT_EQ(world.AnimFrame, before.animFrame);
    EXPECT_EQ(world.AnimTick, before.animTick);
    EXPECT_EQ(world.ColumnBase, 161);
    EXPECT_EQ(world.ExtraFloat, 0.5f);
    // A blank sky of the placeholder's size, with the old sky's name.
    EXPECT_STREQ(world.SkyName, "old-sky.bmp");
    EXPECT_EQ(0, std::memcmp(world.SkyName, before.skyName.data(), NameSlotSize));
    ASSERT_NE(world.Sky, nullptr);
    EXPECT_NE(world.Sky.get(), before.sky.pointer);
    EXPECT_EQ(world.Sky->w, 2880);
    EXPECT_EQ(world.Sky->h, 101);
    for (int y = 0; y < world.Sky->h; y++)
        for (int x = 0; x < world.Sky->w; x++)
            ASSERT_EQ(PixelAt(world.Sky.get(), x, y), 0) << x << "," << y;
}

TEST(NewMap, NoCellAnimatesWhileTheGlobalAnimationRunsOn)
{
    ScratchDir dir;
    WriteTileImages(2);
    WriteText("tiles.txt", "2 t0.bmp t1.bmp");
    World world;
    FillWithOldMap(world);  // every cell animated, the global animation at frame 1 of 0..3
    ASSERT_EQ(world.NewMap("tiles.txt"), 0) << world.LastError().Message();
    // Each global frame lasts AnimDelay + 1 = 3 ticks; one tick of frame 1
    // has already passed.
    const int expected[] = {1, 2, 2, 2, 3, 3, 3, 0, 0, 0, 1};
    for (int call = 0; call < 11; call++) {
        world.AnimateTiles();
        ASSERT_EQ(world.AnimFrame, expected[call]) << "call " << call;
        for (int tx = 0; tx < MapSize; tx++)
            for (int ty = 0; ty < MapSize; ty++) {
                ASSERT_EQ(world.Cells[tx][ty].Frame, 0);
                ASSERT_EQ(world.Cells[tx][ty].Tick, 0);
            }
    }
}

TEST(NewMap, SaveMapWritesTheNewMapWithTheOldSkyName)
{
    ScratchDir dir;
    WriteTileImages(2);
    WriteText("tiles.txt", "2 t0.bmp t1.bmp");
    {
        World empty;
        ASSERT_EQ(empty.CreateMap("map.brd"), 0) << empty.LastError().Message();
    }
    World world;
    FillWithOldMap(world);
    ASSERT_EQ(world.NewMap("tiles.txt"), 0) << world.LastError().Message();
    ASSERT_EQ(world.SaveMap("map.brd"), 0) << world.LastError().Message();

    const Bytes file = ReadBytes("map.brd");
    ASSERT_EQ(file.size(), 61589u + 2 * 128);
    char skySlot[NameSlotSize] = {};
    std::memcpy(skySlot, file.data() + file.size() - NameSlotSize, NameSlotSize);
    EXPECT_STREQ(skySlot, "old-sky.bmp");

    World loaded;
    ASSERT_EQ(loaded.LoadMap("map.brd"), 0) << loaded.LastError().Message();
    EXPECT_EQ(loaded.TileCount, 2);
    EXPECT_STREQ(loaded.TileNames[1], "t1.bmp");
    EXPECT_STREQ(loaded.SkyName, "old-sky.bmp");
    EXPECT_EQ(loaded.ExtraFloat, 0.5f);
    EXPECT_EQ(loaded.AnimDelay, 2);
    EXPECT_EQ(loaded.AnimLastFrame, 3);
    const MapCell& cell = loaded.Cells[5][9];
    EXPECT_EQ(cell.Tile, 1);
    EXPECT_EQ(cell.Flags, 0);
    EXPECT_EQ(cell.ExtraA, 5009);
    EXPECT_EQ(cell.ExtraB, -(5 * 64 + 9));
    EXPECT_EQ(cell.LastFrame, 10);
}

TEST(NewMap, RefusedListsLeaveTheWorldAsItWas)
{
    ScratchDir dir;
    WriteTileImages(2);
    ASSERT_EQ(mkdir("adir", 0755), 0);
    struct Case {
        std::string list;
        std::string content;  // not written for the lists that cannot be read
        std::string message;
    };
    const std::vector<Case> cases = {
        {"absent.txt", "", "absent.txt: cannot open: No such file or directory"},
        {"adir", "", "adir: is a directory, not a regular file"},
        {"empty.txt", "", "empty.txt: no tile count at the start, found an empty file"},
        {"words.txt", "tiles t0.bmp", "words.txt: no tile count at the start, found \"tiles\""},
        {"neg.txt", "-1 t0.bmp", "neg.txt: the tile count -1 is below 0"},
        {"big.txt", "0x65" + TileNamesText(101, " "),
         "big.txt: the tile count 0x65 (101) is above 100, the most a map holds"},
        {"huge.txt", "4294967298 t0.bmp t1.bmp",
         "huge.txt: the tile count 4294967298 is above 100, the most a map holds"},
        {"bare.txt", "0x\nt0.bmp", "bare.txt: the tile count \"0x\" has no hexadecimal digit after its 0x"},
        {"short.txt", "3 t0.bmp t1.bmp\n", "short.txt: the tile count is 3 but only 2 names follow"},
        {"long.txt", "2 t0.bmp " + std::string(128, 'n'),
         "long.txt: the name of tile 1, \"" + std::string(40, 'n') +
             "\"..., has 128 characters; a name holds at most 127"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        if (c.list != "absent.txt" && c.list != "adir")
            WriteText(c.list, c.content);
        World world;
        FillWithOldMap(world);
        const WorldState before = Snapshot(world);
        EXPECT_NE(world.NewMap(c.list.c_str()), 0);
        EXPECT_EQ(world.LastError().Message(), c.message);
        EXPECT_TRUE(Unchanged(before, world));
    }
}

TEST(NewMap, AnOverlongFileCountsOnlyIfItsNamesEndEarly)
{
    ScratchDir dir;
    WriteTileImages(2);
    // Notes after the names do not matter, however long the file.
    WriteText("notes.txt", "2 t0.bmp t1.bmp\n" + std::string(1100000, '#'));
    World world;
    ASSERT_EQ(world.NewMap("notes.txt"), 0) << world.LastError().Message();
    EXPECT_EQ(world.TileCount, 2);

    // A list whose names lie beyond the first megabyte is not read on.
    WriteText("far.txt", "2" + std::string(1100000, ' ') + "t0.bmp t1.bmp");
    FillWithOldMap(world);
    const WorldState before = Snapshot(world);
    EXPECT_NE(world.NewMap("far.txt"), 0);
    EXPECT_EQ(world.LastError().Message(), "far.txt: the tile count and names do not end within the first 1048576 bytes");
    EXPECT_TRUE(Unchanged(before, world));

    // Nor one whose last name runs across that limit: "t0." alone is no name.
    WriteText("across.txt", "1" + std::string(1048576 - 4, ' ') + "t0.bmp\n");
    EXPECT_NE(world.NewMap("across.txt"), 0);
    EXPECT_EQ(world.LastError().Message(), "across.txt: the tile count and names do not end within the first 1048576 bytes");
    EXPECT_TRUE(Unchanged(before, world));
}

namespace {

void Put32(Bytes& out, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutSlot(Bytes& out, const std::string& name)
{
    Bytes slot(NameSlotSize, 0);
    std::copy(name.begin(), name.end(), slot.begin());
    out.insert(out.end(), slot.begin(), slot.end());
}

// The board file of a new map, written out field by field: header byte 0,
// body at offset 5, every cell record zero but for Tile 1, no global
// animation, ExtraFloat 0.5.
Bytes NewBoardFile(const std::vector<std::string>& names, const std::string& sky)
{
    Bytes file = {0};
    Put32(file, 5);
    for (int record = 0; record < MapSize * MapSize; record++) {
        for (int i = 0; i < 14; i++)
            file.push_back(0);
        file.push_back(1);
    }
    Put32(file, static_cast<uint32_t>(names.size()));
    for (const std::string& name : names)
        PutSlot(file, name);
    Put32(file, 0);  // AnimDelay
    Put32(file, 0);  // AnimLastFrame
    for (uint8_t b : {0x00, 0x00, 0x00, 0x3F})
        file.push_back(b);
    PutSlot(file, sky);
    return file;
}

}  // namespace

TEST(BoardtoolNew, WritesTheBoardFileOfANewMap)
{
    ScratchDir dir;
    WriteTileImages(2);
    WriteText("tiles.txt", "3\r\nt0.bmp\r\ngone.bmp\r\nt1.bmp\r\n");

    CommandResult result = RunCommand(Boardtool("new tiles.txt map.brd --sky sky\\\\day.bmp"));
    ASSERT_EQ(result.status, 0) << result.err;
    const Bytes expected = NewBoardFile({"t0.bmp", "gone.bmp", "t1.bmp"}, "sky\\day.bmp");
    ASSERT_EQ(expected.size(), 61589u + 3 * 128);
    EXPECT_TRUE(ReadBytes("map.brd") == expected);
    EXPECT_EQ(result.out, "map.brd: new map of 3 tiles, every cell on tile 1, sky sky\\day.bmp\n");

    // Without --sky the map gets a plain sky of its own, written beside it:
    // a full-size panorama without the placeholder's mark, which check accepts.
    result = RunCommand(Boardtool("new tiles.txt plain.brd"));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(ReadBytes("plain.brd") == NewBoardFile({"t0.bmp", "gone.bmp", "t1.bmp"}, "plain-sky.bmp"));
    {
        Error error;
        BitmapPtr sky = LoadImage("plain-sky.bmp", error);
        ASSERT_TRUE(sky) << error;
        EXPECT_EQ(sky->w, SkyPlaceholderWidth);
        EXPECT_EQ(sky->h, SkyPlaceholderHeight);
        // Every row is one colour: no mark anywhere, no seam.
        for (int y = 0; y < sky->h; y++)
            for (int x = 1; x < sky->w; x++)
                ASSERT_EQ(PixelAt(sky.get(), x, y), PixelAt(sky.get(), 0, y)) << x << ", " << y;
        EXPECT_NE(PixelAt(sky.get(), 0, 0), PixelAt(sky.get(), 0, sky->h - 1));
    }
    // A second map of the same name finds both files taken and writes neither.
    const Bytes skyBytes = ReadBytes("plain-sky.bmp");
    EXPECT_EQ(RunCommand(Boardtool("new tiles.txt plain.brd")).status, 1);
    EXPECT_TRUE(ReadBytes("plain-sky.bmp") == skyBytes);
    // A plain sky whose name is taken by another file is not overwritten.
    WriteBytes("taken-sky.bmp", {'m', 'i', 'n', 'e'});
    result = RunCommand(Boardtool("new tiles.txt taken.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("taken-sky.bmp"), std::string::npos) << result.err;
    EXPECT_TRUE(ReadBytes("taken-sky.bmp") == (Bytes{'m', 'i', 'n', 'e'}));
    EXPECT_FALSE(FileExists("taken.brd"));

    // The ground outside the map animated from the start.
    result = RunCommand(Boardtool("new tiles.txt sea.brd --sky s.bmp --outside-delay 5 --outside-last 3"));
    ASSERT_EQ(result.status, 0) << result.err;
    {
        World sea;
        ASSERT_EQ(sea.LoadMap("sea.brd"), 0) << sea.LastError().Message();
        EXPECT_EQ(sea.AnimDelay, 5);
        EXPECT_EQ(sea.AnimLastFrame, 3);
    }
    EXPECT_EQ(RunCommand(Boardtool("new tiles.txt bad.brd --outside-last 256")).status, 1);
    EXPECT_EQ(RunCommand(Boardtool("new tiles.txt bad.brd --outside-delay -1")).status, 1);
    EXPECT_FALSE(FileExists("bad.brd"));
    EXPECT_FALSE(FileExists("bad-sky.bmp"));

    // The longest sky name fits.
    const std::string longest(127, 's');
    result = RunCommand(Boardtool("new tiles.txt long.brd --sky " + longest));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(ReadBytes("long.brd") == NewBoardFile({"t0.bmp", "gone.bmp", "t1.bmp"}, longest));

    // The file is one the viewer loads: the tiles found and a placeholder.
    World world;
    ASSERT_EQ(world.LoadMap("map.brd"), 0) << world.LastError().Message();
    ASSERT_EQ(world.TileCount, 3);
    EXPECT_EQ(PixelAt(world.Tiles[2].get(), 0, 0), TileColor(1));
    EXPECT_EQ(world.Tiles[1]->w, 32);
}

TEST(BoardtoolNew, WritesNothingWhenRefused)
{
    ScratchDir dir;
    WriteTileImages(2);
    WriteText("tiles.txt", "2 t0.bmp t1.bmp");
    WriteText("short.txt", "3 t0.bmp t1.bmp");
    const Bytes old = {'o', 'l', 'd'};
    WriteBytes("old.brd", old);

    CommandResult result = RunCommand(Boardtool("new tiles.txt old.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "boardtool: old.brd: not created: already exists; it is not replaced\n");
    EXPECT_TRUE(ReadBytes("old.brd") == old);

    result = RunCommand(Boardtool("new short.txt map.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "boardtool: short.txt: the tile count is 3 but only 2 names follow\n");
    EXPECT_FALSE(FileExists("map.brd"));

    result = RunCommand(Boardtool("new absent.txt map.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "boardtool: absent.txt: cannot open: No such file or directory\n");
    EXPECT_FALSE(FileExists("map.brd"));

    result = RunCommand(Boardtool("new tiles.txt map.brd --sky " + std::string(128, 's')));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "boardtool: --sky: a sky name has at most 127 characters, this one 128\n");
    EXPECT_FALSE(FileExists("map.brd"));

    result = RunCommand(Boardtool("new tiles.txt"));
    EXPECT_EQ(result.status, 2);
    EXPECT_FALSE(FileExists("map.brd"));
    // Nothing was left behind, not even a temporary file.
    EXPECT_EQ(RunCommand("ls -A").out, "old.brd\nshort.txt\nt0.bmp\nt1.bmp\ntiles.txt\n");
}
