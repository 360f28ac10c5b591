// Maps as map makers draw them, held to Tiled's own picture: every visible
// layer of a cell composed (opacity, flips, alpha, transparent colour,
// background colour, empty cells), tile sizes other than 32, a 64 x 64
// window of larger and infinite maps, Tiled's own example maps, and the
// bounds that keep crafted maps cheap.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "test_support.h"
#include "tiled/tiled_map.h"
#include "tiled/tiled_world.h"

namespace {

namespace fs = std::filesystem;

bool TiledInstalled()
{
    return RunCommand("command -v tiled >/dev/null && command -v tmxrasterizer >/dev/null").status == 0;
}

#define REQUIRE_TILED()                                                                              \
    do {                                                                                             \
        if (!TiledInstalled())                                                                       \
            GTEST_SKIP() << "Debian's tiled is not installed (tools/install-deps.sh test installs it)"; \
    } while (0)

void WriteText(const std::string& path, const std::string& text)
{
    if (fs::path(path).has_parent_path())
        fs::create_directories(fs::path(path).parent_path());
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

// tmxrasterizer's pictures of `maps`, side by side, each into MAP.png.
void Rasterize(const std::vector<std::string>& maps)
{
    std::string line = "failed=0; jobs=; ";
    for (const std::string& map : maps)
        line += "QT_QPA_PLATFORM=offscreen tmxrasterizer --no-smoothing " + map + " " + map +
                ".png >/dev/null 2>&1 & jobs=\"$jobs $!\"; ";
    line += "for job in $jobs; do wait $job || failed=1; done; exit $failed";
    ASSERT_EQ(RunCommand(line).status, 0) << line;
}

// Board pixels that differ from Tiled's picture of the map (`tile` pixels
// a cell, `cellsX` x `cellsY` cells from the map's cell (`fromX`, `fromY`))
// by more than 16-bit rounding: each texel of a cell against the mean of
// the picture's pixels it covers, as the import averages them. Counts the
// texels of the board cells that show the picture's cells. tmxrasterizer
// leaves transparent what Tiled shows over the map's background colour
// `background` (0xRRGGBB).
int DrawnDifferently(const std::string& picture, const std::string& board, int tile, int cellsX, int cellsY,
                     int background = 0, int fromX = 0, int fromY = 0)
{
    const int under[3] = {background >> 16, background >> 8 & 255, background & 255};
    Image raster;
    Error error;
    EXPECT_TRUE(DecodeImageFile(picture.c_str(), AllegroReaders(), raster, error)) << error;
    World world;
    EXPECT_EQ(world.LoadMap(board.c_str()), 0) << world.LastError().Message();
    if (raster.Rgba.empty() || world.TileCount == 0)
        return -1;
    int differences = 0;
    for (int cy = 0; cy < std::min(cellsY - fromY, MapSize); cy++) {
        for (int cx = 0; cx < std::min(cellsX - fromX, MapSize); cx++) {
            const MapCell& cell = world.Cells[cx][cy];
            BITMAP* image = world.Tiles[std::min<int>(cell.Tile, world.TileCount - 1)].get();
            for (int v = 0; v < CellSize; v++) {
                for (int u = 0; u < CellSize; u++) {
                    // In 32nds of a picture pixel, as the import resamples.
                    double sums[3] = {0, 0, 0};
                    const int x0 = (fromX + cx) * tile, y0 = (fromY + cy) * tile;
                    for (int sy = v * tile / CellSize; sy * CellSize < (v + 1) * tile; sy++) {
                        const int wy = std::min((sy + 1) * CellSize, (v + 1) * tile) - std::max(sy * CellSize, v * tile);
                        for (int sx = u * tile / CellSize; sx * CellSize < (u + 1) * tile; sx++) {
                            const int wx = std::min((sx + 1) * CellSize, (u + 1) * tile) - std::max(sx * CellSize, u * tile);
                            const uint8_t* p = &raster.Rgba[(size_t(y0 + sy) * size_t(raster.Width) + size_t(x0 + sx)) * 4];
                            for (int c = 0; c < 3; c++)
                                sums[c] += double(wx) * wy * (p[c] * p[3] + under[c] * (255 - p[3])) / 255.0;
                        }
                    }
                    const int texel = getpixel(image, CellSize * cell.Frame + u, v);
                    const int got[3] = {getr16(texel), getg16(texel), getb16(texel)};
                    bool same = true;
                    for (int c = 0; c < 3; c++) {
                        const double want = sums[c] / (double(tile) * tile);
                        // One step of the 16-bit channel, 5 or 6 bits wide.
                        same = same && std::abs(want - got[c]) <= (c == 1 ? 4.5 : 8.5);
                    }
                    differences += !same;
                }
            }
        }
    }
    return differences;
}

// An atlas of four `t`-pixel tiles: opaque, graded alpha with holes, one
// with the transparent colour, opaque again; each pixel its own colour.
void MakeAtlas(const std::string& path, int t)
{
    Image atlas{4 * t, t, std::vector<uint8_t>(size_t(4 * t * t * 4), 255), true};
    for (int y = 0; y < t; y++) {
        for (int x = 0; x < 4 * t; x++) {
            uint8_t* p = &atlas.Rgba[(size_t(y) * size_t(4 * t) + size_t(x)) * 4];
            const int i = x / t, u = x % t;
            p[0] = uint8_t(u * 255 / t), p[1] = uint8_t(y * 255 / t), p[2] = uint8_t(60 * i + 20);
            if (i == 1)
                p[3] = (u + y) % 5 == 0 ? 0 : uint8_t(40 + u * 200 / t);
            if (i == 2 && (u - y) % 3 == 0)
                p[0] = 255, p[1] = 0, p[2] = 255;
        }
    }
    WriteBytes(path, EncodePng(atlas));
}

// A map of `w` x `h` cells of `t` pixels in three layers over a background
// colour: ground with some cells left empty, a group at half opacity
// holding a flipped, partly transparent layer at 62 %, a layer at 31 %, and
// a hidden layer.
std::string LayeredMap(int t, int w, int h, const std::string& extra = "")
{
    std::string ground, top, faint, hidden;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const char* comma = x + y ? "," : "";
            ground += comma + std::to_string((x * 7 + y * 3) % 11 == 0 ? 0 : (x + y) % 2 ? 1 : 4);
            top += comma + std::to_string((x + 2 * y) % 3 == 0 ? 0 : (uint32_t((x + y) % 3 + 2) | uint32_t(x % 8) << 29));
            faint += comma + std::to_string((x * y) % 4 == 1 ? 3 : 0);
            hidden += comma + std::string("4");
        }
    }
    const std::string size = "width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) + "\"";
    const std::string ts = std::to_string(t);
    return "<?xml version=\"1.0\"?>\n<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" " + size +
           " tilewidth=\"" + ts + "\" tileheight=\"" + ts + "\" infinite=\"0\" backgroundcolor=\"#336699\">" + extra +
           "<tileset firstgid=\"1\" name=\"parts\" tilewidth=\"" + ts + "\" tileheight=\"" + ts +
           "\" tilecount=\"4\" columns=\"4\"><image source=\"atlas" + ts + ".png\" trans=\"ff00ff\" width=\"" +
           std::to_string(4 * t) + "\" height=\"" + ts + "\"/></tileset>"
           "<layer id=\"1\" name=\"ground\" " + size + "><data encoding=\"csv\">" + ground + "</data></layer>"
           "<group id=\"2\" name=\"decor\" opacity=\"0.5\"><layer id=\"3\" name=\"top\" " + size +
           " opacity=\"0.62\"><data encoding=\"csv\">" + top + "</data></layer></group>"
           "<layer id=\"4\" name=\"faint\" " + size + " opacity=\"0.31\"><data encoding=\"csv\">" + faint +
           "</data></layer><layer id=\"5\" name=\"hidden\" " + size + " visible=\"0\"><data encoding=\"csv\">" +
           hidden + "</data></layer></map>\n";
}

CommandResult Import(const std::string& arguments)
{
    return RunCommand(Boardtool("import " + arguments));
}

}  // namespace

TEST(TiledCompose, LayersOfEveryTileSizeLookAsTiledDrawsThem)
{
    REQUIRE_TILED();
    ScratchDir dir;
    const int sizes[] = {16, 32, 64, 128, 24};
    std::vector<std::string> maps;
    for (int t : sizes) {
        MakeAtlas("atlas" + std::to_string(t) + ".png", t);
        maps.push_back("layers" + std::to_string(t) + ".tmx");
        WriteText(maps.back(), LayeredMap(t, 9, 7));
    }
    Rasterize(maps);
    for (size_t i = 0; i < maps.size(); i++) {
        const CommandResult imported = Import(maps[i] + " layers.brd --force");
        ASSERT_EQ(imported.status, 0) << imported.err;
        EXPECT_EQ(DrawnDifferently(maps[i] + ".png", "layers.brd", sizes[i], 9, 7, 0x336699), 0) << maps[i];
        // Only 24 is resampled, and says so.
        EXPECT_EQ(imported.err.find("tiles of 24 x 24 pixels are resampled") != std::string::npos, sizes[i] == 24)
            << imported.err;
        // Empty cells inside the map show the background colour; cells
        // beyond it the outside tile.
        World world;
        ASSERT_EQ(world.LoadMap("layers.brd"), 0);
        const int empty = world.Cells[0][0].Tile;  // no layer has a tile at (0, 0)
        EXPECT_NE(empty, 0);
        EXPECT_EQ(getpixel(world.Tiles[empty].get(), 5, 5), makecol16(0x33, 0x66, 0x99));
        EXPECT_EQ(world.Cells[9][0].Tile, 0);
        EXPECT_EQ(world.Cells[0][7].Tile, 0);
    }
}
