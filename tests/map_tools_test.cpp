// The map maker's commands run as the built program: map (the map from
// above, held against the ground renderer itself), set (fields changed in
// place, nothing else in the file), and the naming of an unknown command.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "render/frame.h"
#include "render/map_view.h"
#include "test_support.h"
#include "core/world.h"

namespace {

// A tile whose every texel differs, in every frame: frame f, texel (u, v).
BitmapPtr NumberedTile(int frames, int seed)
{
    BitmapPtr tile(create_bitmap_ex(16, CellSize * frames, CellSize));
    for (int y = 0; y < CellSize; y++)
        for (int x = 0; x < CellSize * frames; x++)
            putpixel(tile.get(), x, y, (seed * 4099 + x * 37 + y * 1031) & 0xFFFF);
    return tile;
}

// A map with three tiles of 1, 4 and 3 frames, cells animated at different
// speeds, and an animated ground outside the map.
void MakeAnimatedMap()
{
    SaveImage("a.bmp", NumberedTile(1, 1).get());
    SaveImage("b.bmp", NumberedTile(4, 2).get());
    SaveImage("c.bmp", NumberedTile(3, 3).get());
    SaveImage("sky.bmp", MakeSolidBitmap(2880, 101, 0x1234).get());
    World world;
    NameImages(world, {"b.bmp", "a.bmp", "c.bmp"}, "sky.bmp");
    world.AnimDelay = 2;
    world.AnimLastFrame = 3;
    world.ExtraFloat = 0.5f;
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++) {
            MapCell& cell = world.Cells[tx][ty];
            cell.Tile = static_cast<uint8_t>((tx * 7 + ty * 3) % 3);
            if ((tx + ty) % 2 == 0) {
                cell.Flags = CellAnimated;
                cell.LastFrame = static_cast<uint8_t>(cell.Tile == 2 ? 2 : 3);
                cell.Delay = static_cast<int8_t>(tx % 4);
            }
        }
    ASSERT_EQ(world.CreateMap("anim.brd"), 0) << world.LastError().Message();
}

// The first `n` bytes of a file: its format's signature.
Bytes Head(const std::string& path, size_t n)
{
    Bytes bytes = ReadBytes(path);
    bytes.resize(std::min(n, bytes.size()));
    return bytes;
}

uint16_t Texel(BITMAP* image, int x, int y)
{
    return reinterpret_cast<const uint16_t*>(image->line[y])[x];
}

}  // namespace

// At height index 0 the ground renderer shows, in every ground pixel, the
// texel right under the viewer. Standing on sample points all over the map
// after some ticks, that texel must be the one boardtool map drew there.
TEST(BoardtoolMap, ShowsWhatTheGroundRendererShowsUnderTheViewer)
{
    ScratchDir dir;
    MakeAnimatedMap();
    for (int ticks : {0, 7}) {
        SCOPED_TRACE("ticks " + std::to_string(ticks));
        const CommandResult result =
            RunCommand(Boardtool("map anim.brd top.bmp --ticks " + std::to_string(ticks)));
        ASSERT_EQ(result.status, 0) << result.err;
        Error error;
        BitmapPtr top = LoadImage("top.bmp", error);
        ASSERT_TRUE(top) << error;
        ASSERT_EQ(top->w, 2048);
        ASSERT_EQ(top->h, 2048);

        World world;
        ASSERT_EQ(world.LoadMap("anim.brd"), 0) << world.LastError().Message();
        for (int tick = 0; tick < ticks; tick++)
            world.AnimateTiles();
        OffscreenFrame frame = MakeOffscreenFrame();
        int checked = 0;
        for (int y = 0; y < 2048; y += 61)
            for (int x = 0; x < 2048; x += 67) {
                const float vx = x + 0.5f, vy = y + 0.5f;
                world.DrawGround(frame.View.get(), vx, vy, 0, 900, Horizon);
                // Any ground pixel will do: all show the texel underfoot.
                ASSERT_EQ(Texel(frame.View.get(), 123, Horizon + 20), Texel(top.get(), x, y))
                    << "at (" << x << ", " << y << ")";
                checked++;
            }
        EXPECT_GT(checked, 900);
    }
}

TEST(BoardtoolMap, ScalesDownByWholeFactorsAndWritesPngOrBmp)
{
    ScratchDir dir;
    MakeAnimatedMap();
    ASSERT_EQ(RunCommand(Boardtool("map anim.brd full.bmp --ticks 5")).status, 0);
    ASSERT_EQ(RunCommand(Boardtool("map anim.brd small.PNG --ticks 5 --scale 16")).status, 0);
    EXPECT_EQ(Head("small.PNG", 4), (Bytes{0x89, 'P', 'N', 'G'}));
    EXPECT_EQ(Head("full.bmp", 2), (Bytes{'B', 'M'}));
    Error fullError, smallError;
    BitmapPtr full = LoadImage("full.bmp", fullError);
    BitmapPtr small = LoadImage("small.PNG", smallError);
    ASSERT_TRUE(full && small) << fullError << smallError;
    ASSERT_EQ(small->w, 128);
    ASSERT_EQ(small->h, 128);
    // Each pixel is the middle of its 16 x 16 square.
    for (int j = 0; j < 128; j++)
        for (int i = 0; i < 128; i++)
            ASSERT_EQ(Texel(small.get(), i, j), Texel(full.get(), 16 * i + 8, 16 * j + 8)) << i << ", " << j;

    // render chooses its format the same way.
    ASSERT_EQ(RunCommand(Boardtool("render anim.brd view.png")).status, 0);
    EXPECT_EQ(Head("view.png", 4), (Bytes{0x89, 'P', 'N', 'G'}));

    // Refusals write nothing.
    for (const char* bad : {"map anim.brd x.jpg", "map anim.brd x.png --scale 3", "map anim.brd x.png --scale 0",
                            "map anim.brd x.png --ticks -1", "render anim.brd x.gif", "map none.brd x.png"}) {
        const CommandResult result = RunCommand(Boardtool(bad));
        EXPECT_EQ(result.status, 1) << bad;
        EXPECT_EQ(result.err.rfind("boardtool: ", 0), 0u) << bad << ": " << result.err;
    }
    EXPECT_EQ(RunCommand("ls -A").out, "a.bmp\nanim.brd\nb.bmp\nc.bmp\nfull.bmp\nsky.bmp\nsmall.PNG\nview.png\n");
}

// Bytes that differ between two files of the same length, as offsets.
std::vector<size_t> Differences(const Bytes& a, const Bytes& b)
{
    std::vector<size_t> at;
    for (size_t i = 0; i < std::min(a.size(), b.size()); i++)
        if (a[i] != b[i])
            at.push_back(i);
    return at;
}

TEST(BoardtoolSet, ChangesOnlyTheFieldsAskedForAndKeepsTheRestOfTheFile)
{
    ScratchDir dir;
    MakeAnimatedMap();
    // A header byte, a gap before the body and bytes after it, all kept.
    Bytes bytes = ReadBytes("anim.brd");
    bytes[0] = 0x5A;
    bytes[1] = 9;
    bytes.insert(bytes.begin() + 5, {0xDE, 0xAD, 0xBE, 0xEF});
    bytes.insert(bytes.end(), {'t', 'a', 'i', 'l'});
    // Junk after a name's NUL is kept too.
    const size_t body = 9;
    const size_t tile1 = body + 61444 + 128;
    std::memset(bytes.data() + tile1 + 6, 'J', 10);
    WriteBytes("anim.brd", bytes);
    chmod("anim.brd", 0640);

    SaveImage("night.bmp", MakeSolidBitmap(2880, 101, 0x0842).get());
    SaveImage("d.bmp", NumberedTile(2, 4).get());
    CommandResult result = RunCommand(Boardtool("set anim.brd --dry-run --sky night.bmp"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "sky: 'sky.bmp' -> 'night.bmp'\nanim.brd: not changed (--dry-run)\n");
    EXPECT_TRUE(ReadBytes("anim.brd") == bytes);

    result = RunCommand(Boardtool("set anim.brd --tile 1=d.bmp --outside-delay 6 --outside-last 2 --float 2"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "tile 1: 'a.bmp' -> 'd.bmp'\n"
              "outside delay: 2 -> 6\n"
              "outside last frame: 3 -> 2\n"
              "extra float: 0.5 -> 2\n"
              "anim.brd: saved\n");
    const Bytes after = ReadBytes("anim.brd");
    ASSERT_EQ(after.size(), bytes.size());
    // Only the name's letters ("a" -> "d") and the three numbers changed.
    const size_t numbers = body + 61444 + 3 * 128;
    std::vector<size_t> expected = {tile1};
    for (size_t i = numbers; i < numbers + 12; i++)
        if (bytes[i] != after[i])
            expected.push_back(i);
    EXPECT_EQ(Differences(bytes, after), expected);
    World world;
    ASSERT_EQ(world.LoadMap("anim.brd"), 0);
    EXPECT_STREQ(world.TileNames[1], "d.bmp");
    EXPECT_EQ(world.AnimDelay, 6);
    EXPECT_EQ(world.AnimLastFrame, 2);
    EXPECT_EQ(world.ExtraFloat, 2.0f);
    struct stat info;
    ASSERT_EQ(stat("anim.brd", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(BoardtoolSet, RefusesValuesBeyondTheFormatAndLeavesTheFile)
{
    ScratchDir dir;
    MakeAnimatedMap();
    const Bytes before = ReadBytes("anim.brd");
    struct Case {
        std::string options;
        std::string error;
    };
    const Case cases[] = {
        {"--sky " + std::string(128, 's'), "boardtool: --sky: a name has at most 127 characters, this one 128\n"},
        {"--tile 3=x.bmp", "boardtool: --tile 3=x.bmp: the map has tiles 0..2\n"},
        {"--tile -1=x.bmp", "boardtool: --tile -1=x.bmp: the map has tiles 0..2\n"},
        {"--tile x.bmp", "boardtool: --tile x.bmp: give the tile number and its image name as K=NAME\n"},
        {"--tile 1=", "boardtool: --tile 1=: the name is empty\n"},
        {"--outside-last 256", "boardtool: --outside-last 256 is outside 0..255\n"},
        {"--outside-delay -1", "boardtool: --outside-delay -1 is negative: a frame lasts delay + 1 ticks\n"},
        {"--float inf", "boardtool: --float must be a finite number\n"},
    };
    for (const Case& c : cases) {
        // A good value beside the bad one is not written either.
        const CommandResult result = RunCommand(Boardtool("set anim.brd --tile 0=ok.bmp " + c.options));
        EXPECT_EQ(result.status, 1) << c.options;
        EXPECT_EQ(result.err, c.error) << c.options;
        EXPECT_EQ(result.out, "") << c.options;
        EXPECT_TRUE(ReadBytes("anim.brd") == before) << c.options;
    }
    EXPECT_EQ(RunCommand(Boardtool("set anim.brd")).err,
              "boardtool: nothing to change: give --sky, --tile, --outside-delay, --outside-last or --float\n");

    EXPECT_EQ(RunCommand(Boardtool("set none.brd --sky ok.bmp")).status, 1);
}

TEST(BoardtoolSet, RefusesAnImageItCannotLoadUnlessForced)
{
    ScratchDir dir;
    MakeAnimatedMap();
    WriteBytes("notes.bmp", Bytes{'n', 'o', 't', 'e', 's'});
    ASSERT_EQ(mkdir("folder.bmp", 0755), 0);
    const Bytes before = ReadBytes("anim.brd");
    struct Case {
        std::string options;
        std::string error;
    };
    const Case cases[] = {
        {"--sky sunset.bmp", "boardtool: --sky: sunset.bmp: cannot open: No such file or directory"},
        {"--tile 2=notes.bmp", "boardtool: --tile 2: notes.bmp: not an image in a format we read"},
        {"--tile 1=a.bmp --tile 0=folder.bmp", "boardtool: --tile 0: folder.bmp: is a directory"},
        {"--sky sunset.bmp --dry-run", "boardtool: --sky: sunset.bmp: cannot open"},
    };
    for (const Case& c : cases) {
        const CommandResult result = RunCommand(Boardtool("set anim.brd " + c.options));
        EXPECT_EQ(result.status, 1) << c.options;
        EXPECT_EQ(result.err.rfind(c.error, 0), 0u) << c.options << ": " << result.err;
        EXPECT_NE(result.err.find("nothing was changed (--force stores the name anyway)"), std::string::npos)
            << result.err;
        EXPECT_EQ(result.out, "") << c.options;
        EXPECT_TRUE(ReadBytes("anim.brd") == before) << c.options;
    }

    // With --force the name is stored, and the reason still said.
    const CommandResult forced = RunCommand(Boardtool("set anim.brd --sky sunset.bmp --tile 1=c.bmp --force"));
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(forced.err, "boardtool: warning: --sky: sunset.bmp: cannot open: No such file or directory; "
                          "stored anyway (--force)\n");
    World world;
    ASSERT_EQ(world.LoadMap("anim.brd"), 0);
    EXPECT_STREQ(world.SkyName, "sunset.bmp");
    EXPECT_STREQ(world.TileNames[1], "c.bmp");
}

TEST(Boardtool, NamesAnUnknownCommandAndListsTheCommands)
{
    ScratchDir dir;
    const CommandResult result = RunCommand(Boardtool("-C . convert x.tmx y.brd"));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err.rfind("boardtool: unknown command 'convert'; the commands are info, check, map, render, new, ", 0),
              0u)
        << result.err;
    EXPECT_NE(result.err.find("set"), std::string::npos) << result.err;
    EXPECT_FALSE(FileExists("y.brd"));
}
