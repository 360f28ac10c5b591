// Tiled maps against the real Tiled: exported boards drawn by tmxrasterizer
// as the board looks from above and brought back byte for byte, directly and
// through Tiled's own TMX and JSON writers; maps as map makers draw them
// (flips, scaled tiles, animations, layers, compressions) imported and
// compared with Tiled's picture; malformed maps refused with nothing written.
#include <gtest/gtest.h>

#include <zlib.h>
#include <zstd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "board_file.h"
#include "test_support.h"
#include "tiled_map.h"

namespace {

bool TiledInstalled()
{
    return RunCommand("command -v tiled >/dev/null && command -v tmxrasterizer >/dev/null").status == 0;
}

#define REQUIRE_TILED()                                                                              \
    do {                                                                                             \
        if (!TiledInstalled())                                                                       \
            GTEST_SKIP() << "Debian's tiled is not installed (tools/install-deps.sh test installs it)"; \
    } while (0)

CommandResult Tiled(const std::string& args)
{
    return RunCommand("QT_QPA_PLATFORM=offscreen " + args + " 2>&1");
}

CommandResult Tool(const std::string& args)
{
    return RunCommand(ProgramPath("boardtool") + " " + args);
}

Bytes Body(const std::string& board)
{
    const Bytes bytes = ReadBytes(board);
    const uint32_t offset = bytes[1] | bytes[2] << 8 | bytes[3] << 16 | uint32_t(bytes[4]) << 24;
    return Bytes(bytes.begin() + offset, bytes.end());
}

// Pixels of Tiled's picture of `map` (`cell` pixels a cell) that differ
// from the board seen from above after `ticks` animation ticks: cell (tx, ty)
// at (cell tx, cell ty), each texel of its tile image at its current frame.
int DrawnDifferently(const std::string& map, const std::string& board, int cell, int ticks, int advanceMs = -1)
{
    const std::string picture = map + ".png";
    const std::string advance = advanceMs < 0 ? "" : " --advance-animations " + std::to_string(advanceMs);
    EXPECT_EQ(Tiled("tmxrasterizer --no-smoothing" + advance + " " + map + " " + picture).status, 0);
    Image raster;
    std::string error;
    EXPECT_TRUE(DecodeImageFile(picture.c_str(), raster, error)) << error;
    World world;
    EXPECT_EQ(world.LoadMap(board.c_str()), 0) << world.LastError();
    for (int t = 0; t < ticks; t++)
        world.AnimateTiles();
    int differences = 0;
    const int scale = CellSize / cell;
    for (int y = 0; y < raster.Height; y++) {
        for (int x = 0; x < raster.Width; x++) {
            const MapCell& c = world.Cells[x / cell][y / cell];
            BITMAP* tile = world.Tiles[std::min<int>(c.Tile, world.TileCount - 1)].get();
            const uint8_t* p = raster.Rgba.data() + (size_t(y) * raster.Width + x) * 4;
            const int texel = getpixel(tile, x % cell * scale + CellSize * c.Frame, y % cell * scale);
            differences += p[3] != 255 || makecol16(p[0], p[1], p[2]) != texel;
        }
    }
    return differences;
}

// A board that uses every field: all kinds of images (two-frame BMP, PNG with
// alpha, PCX that Tiled cannot read, a missing one), names with backslashes
// and bytes after their NUL, tiles beyond the count, every animation case.
void MakeOddBoard(const std::string& name)
{
    std::filesystem::create_directory("img");
    BitmapPtr strip(create_bitmap_ex(16, 64, 32));
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 64; x++)
            putpixel(strip.get(), x, y, makecol16(x * 4, y * 8, x < 32 ? 40 : 220));
    SaveImage("img/strip.bmp", strip.get());
    save_bitmap("img/old.pcx", strip.get(), nullptr);
    Image alpha{32, 32, std::vector<uint8_t>(32 * 32 * 4), true};
    for (size_t i = 0; i < alpha.Rgba.size(); i++)
        alpha.Rgba[i] = uint8_t(i * 7);
    WriteBytes("img/alpha.png", EncodePng(alpha));

    World world;
    const char* names[] = {"img\\strip.bmp", "img\\alpha.png", "img\\old.pcx", "img\\gone.bmp"};
    world.TileCount = 4;
    for (int k = 0; k < 4; k++)
        std::strcpy(world.TileNames[k], names[k]);
    std::strcpy(world.TileNames[1] + 20, "bytes after the NUL");
    std::strcpy(world.SkyName, "img\\sky.bmp");
    world.AnimDelay = 3;
    world.AnimLastFrame = 1;
    world.ExtraFloat = 1.2345678f;
    std::mt19937 random(16);
    const int8_t delays[] = {-1, 0, 2, 127, 5};
    const uint8_t lasts[] = {0, 1, 1, 3};
    for (int tx = 0; tx < MapSize; tx++) {
        for (int ty = 0; ty < MapSize; ty++) {
            MapCell& c = world.Cells[tx][ty];
            c.ExtraA = int32_t(random());
            c.ExtraB = int32_t(random());
            c.ExtraC = uint8_t(random());
            c.ExtraD = uint8_t(random());
            c.Tick = int8_t(random());
            c.Flags = uint8_t(random());
            c.Delay = delays[random() % 5];
            c.LastFrame = lasts[random() % 4];
            c.Tile = uint8_t(random() % 6);  // 4 and 5 lie beyond the count
        }
    }
    ASSERT_EQ(world.CreateMap(name.c_str()), 0) << world.LastError();
}

TEST(TiledExport, DrawsAsTheBoardAndComesBackThroughTiled)
{
    REQUIRE_TILED();
    ScratchDir dir;
    MakeOddBoard("odd.brd");
    std::filesystem::create_directories("data");
    for (const char* file : {"test.brd", "water.bmp", "grass.bmp", "sand.bmp", "road.bmp", "brick.bmp", "flowers.bmp",
                             "plaza.bmp", "lava.bmp", "lights.bmp", "dirt.bmp", "sky.bmp"})
        WriteBytes(std::string("data/") + file, ReadBytes(std::string(GROUNDVIEW_SOURCE_DIR "/data/") + file));

    // Each board in both formats, each format rewritten by Tiled in the other
    // (Tiled is given absolute paths: it resolves a JSON map's relative
    // paths against its own working directory).
    const std::string here = dir.Path() + "/";
    for (const std::string board : {"odd.brd", "data/test.brd"}) {
        SCOPED_TRACE(board);
        const std::string stem = std::filesystem::path(board).stem();
        for (const std::string format : {"tmx", "tmj"}) {
            const std::string map = "maps/" + stem + "." + format;
            ASSERT_EQ(Tool("export --force " + board + " " + map).status, 0);
            if (board == "odd.brd" || format == "tmx") {
                EXPECT_EQ(DrawnDifferently(map, board, CellSize, 0), 0) << map;
            }
            // Frame 2 of frames lasting 6 ticks (182 ms): 400 ms is tick 13.
            if (board == "data/test.brd" && format == "tmx") {
                EXPECT_EQ(DrawnDifferently(map, board, CellSize, 13, 400), 0) << map << " animated";
            }

            ASSERT_EQ(Tool("import " + map + " back.brd --force").status, 0);
            EXPECT_EQ(Body("back.brd"), Body(board)) << map << " imported directly";
            const std::string again = (format == "tmx") == (board == "odd.brd") ? "json" : "tmx";
            const std::string rewritten = "tiled/" + stem + "-" + format + "." + again;
            std::filesystem::create_directories("tiled");
            ASSERT_EQ(Tiled("tiled --export-map " + again + " " + here + map + " " + here + rewritten).status, 0);
            ASSERT_EQ(Tool("import " + rewritten + " back.brd --force").status, 0);
            EXPECT_EQ(Body("back.brd"), Body(board)) << rewritten << " imported after Tiled wrote it";
        }
    }
}

}  // namespace
