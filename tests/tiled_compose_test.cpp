// Maps as map makers draw them, held to Tiled's own picture: every visible
// layer of a cell composed (opacity, flips, alpha, transparent colour,
// background colour, empty cells), tile sizes other than 32, a 64 x 64
// window of larger and infinite maps, Tiled's own example maps, and the
// bounds that keep crafted maps cheap.
#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "test_support.h"
#include "tiled/tiled_map.h"
#include "tiled/tiled_world.h"

namespace {

namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text)
{
    if (fs::path(path).has_parent_path())
        fs::create_directories(fs::path(path).parent_path());
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

// tmxrasterizer's pictures of `maps`, side by side, each into MAP.png
// (after `advanceMs` of animation: MAP-MS.png), with `options`.
void Rasterize(const std::vector<std::string>& maps, int advanceMs = 0, const std::string& options = "")
{
    std::string line = "failed=0; jobs=; ";
    for (const std::string& map : maps)
        line += "QT_QPA_PLATFORM=offscreen tmxrasterizer --no-smoothing " + options + " --advance-animations " +
                std::to_string(advanceMs) + " " + map + " " + map +
                (advanceMs ? "-" + std::to_string(advanceMs) : "") + ".png >/dev/null 2>&1 & jobs=\"$jobs $!\"; ";
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
                     int background = 0, int fromX = 0, int fromY = 0, int ticks = 0, double* meanDifference = nullptr)
{
    double totalDifference = 0;
    int64_t compared = 0;
    const int under[3] = {background >> 16, background >> 8 & 255, background & 255};
    Image raster;
    Error error;
    EXPECT_TRUE(DecodeImageFile(picture.c_str(), AllegroReaders(), raster, error)) << error;
    World world;
    EXPECT_EQ(world.LoadMap(board.c_str()), 0) << world.LastError().Message();
    if (raster.Rgba.empty() || world.TileCount == 0)
        return -1;
    for (int t = 0; t < ticks; t++)
        world.AnimateTiles();
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
                        totalDifference += std::abs(want - got[c]);
                    }
                    compared += 3;
                    differences += !same;
                }
            }
        }
    }
    if (meanDifference)
        *meanDifference = totalDifference / double(std::max<int64_t>(compared, 1));
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
// colour: ground with some cells left empty, a tinted group at half opacity
// holding a flipped, partly transparent layer at 62 %, a layer at 31 % with
// a tint of its own (its alpha too), and a hidden layer.
std::string LayeredMap(int t, int w, int h, const std::string& extra = "")
{
    std::string ground, top, faint, hidden;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const char* comma = x + y ? "," : "";
            ground += comma + std::to_string((x * 7 + y * 3) % 11 == 0 ? 0 : (x + y) % 2 ? 1 : 4);
            top += comma + std::to_string((x + 2 * y) % 3 == 0 ? 0 : (uint32_t((x + y) % 3 + 2) | uint32_t(x % 8) << 29));
            faint += comma + std::to_string((x * y) % 8 == 1 ? 3 : 0);
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
           "<group id=\"2\" name=\"decor\" opacity=\"0.5\" tintcolor=\"#c0ff80\"><layer id=\"3\" name=\"top\" " + size +
           " opacity=\"0.62\"><data encoding=\"csv\">" + top + "</data></layer></group>"
           "<layer id=\"4\" name=\"faint\" " + size + " opacity=\"0.31\" tintcolor=\"#b0ffd0a0\"><data encoding=\"csv\">" + faint +
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
    // A board of composed tiles exports each as one tile, and comes back.
    ASSERT_EQ(RunCommand(Boardtool("export layers.brd back.tmx")).status, 0);
    ASSERT_EQ(Import("back.tmx again.brd --images layers").status, 0);
    EXPECT_EQ(ReadBytes("again.brd"), ReadBytes("layers.brd"));
}

// A map larger than a board: the window at the top left of its painted
// cells by default, with a warning, or the one --region names; an infinite
// map drawn at negative coordinates, an animated tile under a static layer.
TEST(TiledCompose, AWindowOfALargerOrInfiniteMapAsTiledDrawsIt)
{
    REQUIRE_TILED();
    ScratchDir dir;
    MakeAtlas("atlas16.png", 16);
    std::string map = LayeredMap(16, 100, 80);
    // Nothing painted above row 5 or left of column 10.
    std::string cleared;
    for (int y = 0; y < 80; y++)
        for (int x = 0; x < 100; x++)
            cleared += std::string(x + y ? "," : "") + "0";
    for (size_t at = 0; (at = map.find("<data encoding=\"csv\">", at)) != std::string::npos; at++) {
        const size_t from = at + 21, to = map.find("</data>", from);
        std::string cells = map.substr(from, to - from);
        size_t k = 0, start = 0;
        std::string kept;
        for (size_t i = 0; i <= cells.size(); i++) {
            if (i == cells.size() || cells[i] == ',') {
                const bool blank = int(k % 100) < 10 || int(k / 100) < 5;
                kept += (k ? "," : "") + (blank ? std::string("0") : cells.substr(start, i - start));
                start = i + 1, k++;
            }
        }
        map.replace(from, to - from, kept);
    }
    WriteText("big.tmx", map);

    // Infinite: four chunks around (0, 0); the ground's tile 1 animated,
    // under a layer of half-transparent tiles.
    std::string chunks, over;
    for (int c = 0; c < 4; c++) {
        std::string ground, top;
        for (int k = 0; k < 256; k++) {
            ground += std::string(k ? "," : "") + (k % 3 ? "1" : "4");
            top += std::string(k ? "," : "") + (k % 4 == 1 ? "2" : "0");
        }
        const std::string at = "x=\"" + std::to_string(c % 2 * 16 - 16) + "\" y=\"" + std::to_string(c / 2 * 16 - 32) +
                               "\" width=\"16\" height=\"16\">";
        chunks += "<chunk " + at + ground + "</chunk>";
        over += "<chunk " + at + top + "</chunk>";
    }
    WriteText("endless.tmx",
              "<map version=\"1.8\" orientation=\"orthogonal\" width=\"30\" height=\"20\" tilewidth=\"16\" "
              "tileheight=\"16\" infinite=\"1\"><tileset firstgid=\"1\" name=\"parts\" tilewidth=\"16\" "
              "tileheight=\"16\" tilecount=\"4\" columns=\"4\"><image source=\"atlas16.png\" width=\"64\" height=\"16\"/>"
              "<tile id=\"0\"><animation><frame tileid=\"0\" duration=\"303\"/><frame tileid=\"3\" duration=\"606\"/>"
              "</animation></tile></tileset><layer id=\"1\" name=\"ground\" width=\"30\" height=\"20\">"
              "<data encoding=\"csv\">" + chunks + "</data></layer><layer id=\"2\" name=\"top\" width=\"30\" "
              "height=\"20\"><data encoding=\"csv\">" + over + "</data></layer></map>");
    Rasterize({"big.tmx", "endless.tmx"});
    Rasterize({"endless.tmx"}, 400);

    CommandResult imported = Import("big.tmx big.brd");
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.err.find("warning: big.tmx: the map is 100 x 80 cells, a board 64 x 64: took cells (10, 5) to "
                                "(73, 68); --region X,Y takes another part"), std::string::npos) << imported.err;
    EXPECT_NE(imported.out.find("big.tmx: cells (10, 5) to (73, 68)"), std::string::npos) << imported.out;
    EXPECT_EQ(DrawnDifferently("big.tmx.png", "big.brd", 16, 100, 80, 0x336699, 10, 5), 0);

    imported = Import("big.tmx region.brd --region 40,20");
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.out.find("big.tmx: cells (40, 20) to (103, 83)"), std::string::npos) << imported.out;
    EXPECT_EQ(imported.err.find("warning"), std::string::npos) << imported.err;
    EXPECT_EQ(DrawnDifferently("big.tmx.png", "region.brd", 16, 100, 80, 0x336699, 40, 20), 0);
    World world;
    ASSERT_EQ(world.LoadMap("region.brd"), 0);
    EXPECT_EQ(world.Cells[60][0].Tile, 0);  // beyond the map's cell 99: the outside tile
    EXPECT_EQ(world.Cells[0][60].Tile, 0);
    for (const char* wrong : {"--region 4", "--region 4,x", "--region 1,2,3"})
        EXPECT_NE(Import(std::string("big.tmx bad.brd ") + wrong).err.find("give the top left cell as X,Y"),
                  std::string::npos) << wrong;

    imported = Import("endless.tmx endless.brd");
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.out.find("endless.tmx: cells (-16, -32) to (47, 31)"), std::string::npos) << imported.out;
    EXPECT_EQ(DrawnDifferently("endless.tmx.png", "endless.brd", 16, 32, 32), 0);
    // 400 ms: the ground's frame 2 (10 ticks, then 20): tick 13.
    EXPECT_EQ(DrawnDifferently("endless.tmx-400.png", "endless.brd", 16, 32, 32, 0, 0, 0, 13), 0);
}

// `map` cut to its `w` x `h` cells from (`x`, `y`), its layers as CSV, as
// `out`: the layers as the parser reads them, the rest of the file as is.
void CutMap(const std::string& map, int x, int y, int w, int h, const std::string& out)
{
    const Bytes bytes = ReadBytes(map);
    std::string text(bytes.begin(), bytes.end());
    TiledDocument doc;
    Error error;
    ASSERT_TRUE(ParseTiledMap(bytes.data(), bytes.size(), map, ReadTilesetFile, doc, error)) << error;
    const size_t first = text.find("<layer"), end = text.rfind("</layer>") + 8;
    std::string layers;
    for (const TiledLayer& layer : doc.Layers) {
        std::string csv;
        for (int ty = y; ty < y + h; ty++)
            for (int tx = x; tx < x + w; tx++)
                csv += (csv.empty() ? "" : ",") + std::to_string(layer.Gids[size_t(ty * MapSize + tx)]);
        layers += "<layer name=\"" + layer.Name + "\" width=\"" + std::to_string(w) + "\" height=\"" +
                  std::to_string(h) + "\"><data encoding=\"csv\">" + csv + "</data></layer>";
    }
    text.replace(first, end - first, layers);
    const std::string size = "width=\"" + std::to_string(doc.Width) + "\" height=\"" + std::to_string(doc.Height) + "\"";
    text.replace(text.find(size), size.size(), "width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) + "\"");
    WriteText(out, text);
}

// Tiled's own orthogonal examples as map makers find them: each one a board
// can hold imports (merged where it needs more than 100 images) and looks as
// Tiled draws it: exactly where nothing was merged, within the merging's
// loss where appearances were merged, and exactly again in a part of the
// map that needs no merging.
TEST(TiledCompose, TiledsOwnExampleMapsImport)
{
    REQUIRE_TILED();
    const std::string examples = "/usr/share/doc/tiled/examples";
    if (!fs::exists(examples + "/desert.tmx"))
        GTEST_SKIP() << "Tiled's examples are not installed";
    ScratchDir dir;
    ASSERT_EQ(RunCommand("cp -r " + examples + "/. . && gunzip -f orthogonal-outside.tmx.gz").status, 0);
    const struct {
        std::string map;
        int tile, width, height;
        bool merged;
    } maps[] = {{"desert.tmx", 32, 40, 40, false},
                {"sewers.tmx", 24, 50, 50, false},
                {"rpg/island.tmx", 16, 58, 47, true},
                {"orthogonal-outside.tmx", 16, 45, 31, true}};
    CutMap("rpg/island.tmx", 20, 10, 12, 10, "rpg/island-part.tmx");
    CutMap("orthogonal-outside.tmx", 5, 3, 12, 12, "outside-part.tmx");
    std::vector<std::string> names = {"rpg/island-part.tmx", "outside-part.tmx"};
    for (const auto& m : maps)
        names.push_back(m.map);
    // Their object layers are left out of the board (with a warning).
    Rasterize(names, 0, "--hide-layer Objects");
    for (const std::string part : {"rpg/island-part.tmx", "outside-part.tmx"}) {
        ASSERT_EQ(Import(part + " part.brd --force").status, 0) << part;
        EXPECT_EQ(DrawnDifferently(part + ".png", "part.brd", 16, 12, part[0] == 'r' ? 10 : 12), 0) << part;
    }
    for (const auto& m : maps) {
        const CommandResult imported = Import(m.map + " map.brd --force --merge-similar");
        ASSERT_EQ(imported.status, 0) << imported.err;
        EXPECT_EQ(imported.err.find("merged into others alike") != std::string::npos, m.merged) << imported.err;
        double mean = 0;
        const int differing = DrawnDifferently(m.map + ".png", "map.brd", m.tile, m.width, m.height, 0, 0, 0, 0, &mean);
        const int pixels = std::min(m.width, MapSize) * std::min(m.height, MapSize) * CellSize * CellSize;
        std::printf("%s: %d of %d pixels differ from Tiled's picture (%.2f %%), by %.2f of 255 on average\n",
                    m.map.c_str(), differing, pixels, 100.0 * differing / pixels, mean);
        if (!m.merged) {
            EXPECT_EQ(differing, 0) << m.map;
        } else {
            // Within the loss the warning states for the worst merged pair.
            const size_t at = imported.err.find("the largest mean colour difference merged is ");
            ASSERT_NE(at, std::string::npos) << imported.err;
            EXPECT_LE(mean, std::stod(imported.err.substr(at + 45))) << m.map;
        }
        // The same map gives the same board, byte for byte.
        ASSERT_EQ(Import(m.map + " again.brd --force --merge-similar --images map").status, 0);
        EXPECT_EQ(ReadBytes("again.brd"), ReadBytes("map.brd")) << m.map;
    }
}

namespace {

// Runs boardtool `arguments` and gives its result, the seconds it took and
// the most memory it held (KB).
CommandResult Timed(const std::string& arguments, double& seconds, long& kilobytes)
{
    const auto start = std::chrono::steady_clock::now();
    CommandResult result = RunCommand("/usr/bin/time -f '%M' -o rss.txt " + Boardtool(arguments));
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The last line; a failed command's status comes before it.
    const Bytes rss = ReadBytes("rss.txt");
    const std::string text(rss.begin(), rss.end());
    kilobytes = std::stol(text.substr(text.rfind('\n', text.size() - 2) + 1));
    return result;
}

// One TSX of 256 tiles whose first is a 256-frame animation, named by
// `sets` tilesets; a 64 x 64 layer showing each set's first tile in all 8
// flips.
std::string AnimationBomb(int sets)
{
    Image atlas{512, 512, std::vector<uint8_t>(512 * 512 * 4, 255), false};
    for (size_t i = 0; i < atlas.Rgba.size(); i++)
        atlas.Rgba[i] = uint8_t(i * 31 / 7);
    WriteBytes("atlas.png", EncodePng(atlas));
    std::string frames;
    for (int f = 0; f < 256; f++)
        frames += "<frame tileid=\"" + std::to_string(f) + "\" duration=\"100\"/>";
    WriteText("bomb.tsx", "<tileset name=\"b\" tilewidth=\"32\" tileheight=\"32\" tilecount=\"256\" columns=\"16\">"
                          "<image source=\"atlas.png\" width=\"512\" height=\"512\"/><tile id=\"0\"><animation>" +
                              frames + "</animation></tile></tileset>");
    std::string map = "<map orientation=\"orthogonal\" width=\"64\" height=\"64\" tilewidth=\"32\" tileheight=\"32\">";
    for (int s = 0; s < sets; s++)
        map += "<tileset firstgid=\"" + std::to_string(1 + 256 * s) + "\" source=\"bomb.tsx\"/>";
    map += "<layer name=\"l\" width=\"64\" height=\"64\"><data encoding=\"csv\">";
    for (int k = 0; k < MapSize * MapSize; k++)
        map += (k ? "," : "") + std::to_string(uint32_t(1 + 256 * (k % sets)) | uint32_t(k / sets % 8) << 29);
    return map + "</data></layer></map>";
}

}  // namespace

// Small crafted maps that would cost much: each refused quickly, within a
// stated bound, with a message that names the file and reads well.
TEST(TiledBounds, CraftedMapsAreRefusedBeforeTheyCostMuch)
{
    ScratchDir dir;
    double seconds;
    long kilobytes;
    // What boardtool holds doing nothing (its libraries, and a sanitizer's
    // own memory where there is one): the bounds below are above it.
    long idle;
    Timed("--help", seconds, idle);

    // 512 tilesets of 256-frame animations in 8 flips: 4096 appearances.
    WriteText("bomb.tmx", AnimationBomb(512));
    EXPECT_LT(ReadBytes("bomb.tmx").size(), 80000u);
    CommandResult result = Timed("import bomb.tmx out.brd", seconds, kilobytes);
    EXPECT_NE(result.err.find("bomb.tmx: cells (0, 0) to (63, 63) need 4096 tile images"), std::string::npos)
        << result.err;
    result = Timed("import bomb.tmx out.brd --merge-similar", seconds, kilobytes);
    EXPECT_NE(result.err.find("need 4096 tile images; --merge-similar compares at most 1024"), std::string::npos)
        << result.err;
    EXPECT_LT(seconds, 5);
    EXPECT_LT(kilobytes - idle, 256 * 1024);
    // 104 of them: the frames they need are counted before any is composed.
    WriteText("bomb.tmx", AnimationBomb(13));
    result = Timed("import bomb.tmx out.brd --merge-similar", seconds, kilobytes);
    EXPECT_NE(result.err.find("need 104 composed tile images of 26624 frames in all (104 MB); an import composes at "
                              "most 16384 frames"),
              std::string::npos)
        << result.err;
    EXPECT_LT(seconds, 5);
    EXPECT_LT(kilobytes - idle, 256 * 1024);

    // Eight layers of 256-pixel tiles in 256-frame animations: the pixels
    // composing would draw are counted first.
    Image big{256, 256, std::vector<uint8_t>(256 * 256 * 4, 200), true};
    WriteBytes("big.png", EncodePng(big));
    std::string frames, layers;
    for (int f = 0; f < 256; f++)
        frames += "<frame tileid=\"0\" duration=\"100\"/>";
    for (int l = 0; l < 8; l++) {
        std::string csv;
        for (int k = 0; k < MapSize * MapSize; k++)
            csv += (k ? "," : "") + std::to_string(1u | uint32_t((k + l) % 8) << 29);
        layers += "<layer name=\"l\" width=\"64\" height=\"64\"><data encoding=\"csv\">" + csv + "</data></layer>";
    }
    WriteText("slow.tmx", "<map orientation=\"orthogonal\" width=\"64\" height=\"64\" tilewidth=\"256\" "
                          "tileheight=\"256\"><tileset firstgid=\"1\" name=\"b\" tilewidth=\"256\" tileheight=\"256\">"
                          "<image source=\"big.png\"/><tile id=\"0\"><animation>" + frames +
                              "</animation></tile></tileset>" + layers + "</map>");
    result = Timed("import slow.tmx out.brd", seconds, kilobytes);
    EXPECT_NE(result.err.find("need 9 composed tile images whose frames, 256 pixels a side, take 1241513984 pixels "
                              "drawn in all; an import draws at most 1073741824"),
              std::string::npos) << result.err;
    EXPECT_LT(seconds, 5);

    // A property nested 100,000 deep, in the import and in the viewer's
    // path, which keeps the map it has.
    WriteText("deep.tmj", "{\"type\":\"map\",\"orientation\":\"orthogonal\",\"width\":1,\"height\":1,\"tilewidth\":32,"
                          "\"tileheight\":32,\"properties\":[{\"name\":\"p\",\"type\":\"class\",\"value\":" +
                              std::string(100000, '[') + std::string(100000, ']') + "}]}");
    result = Timed("import deep.tmj out.brd", seconds, kilobytes);
    EXPECT_EQ(result.err, "boardtool: deep.tmj: holds more than 4194304 values or nests them more than 64 deep; a "
                          "Tiled file may not (nothing was written)\n");
    World world;
    MakeAtlas("atlas16.png", 16);
    WriteText("good.tmx", LayeredMap(16, 9, 7));
    Error error;
    ASSERT_TRUE(LoadTiledMap(world, "good.tmx", error)) << error;
    const int tiles = world.TileCount;
    EXPECT_FALSE(LoadTiledMap(world, "deep.tmj", error));
    EXPECT_NE(error.Message().find("nests them more than 64 deep"), std::string::npos) << error;
    EXPECT_EQ(world.TileCount, tiles);

    // Parser memory: elements and values counted before a tree of them is
    // made; layer cells counted before their data is decoded.
    std::string many;
    for (int i = 0; i < (1 << 20); i++)
        many += "<a/>";
    WriteText("many.tmx", "<map>" + many + "</map>");
    EXPECT_NE(Import("many.tmx out.brd").err.find("holds 1048578 elements and 0 attributes; a Tiled file may hold at "
                                                  "most 1048576 and 2097152"),
              std::string::npos);
    WriteText("many.tmj", "{\"a\":[" + std::string(4 << 20, '0').replace(1, std::string::npos, "") +
                              [] {
                                  std::string zeros;
                                  for (int i = 0; i < (2 << 20) + 1; i++)
                                      zeros += ",0,0";
                                  return zeros;
                              }() + "]}");
    EXPECT_NE(Import("many.tmj out.brd").err.find("holds more than 4194304 values"), std::string::npos);
    WriteText("wide.tmx", "<map orientation=\"orthogonal\" width=\"3000\" height=\"3000\" tilewidth=\"32\" "
                          "tileheight=\"32\"><layer name=\"l\" width=\"3000\" height=\"3000\"><data encoding=\"base64\" "
                          "compression=\"zlib\">eJw=</data></layer></map>");
    result = Timed("import wide.tmx out.brd", seconds, kilobytes);
    EXPECT_NE(result.err.find("layer \"l\" brings the map's cells to more than 4194304, the most a map may have"),
              std::string::npos) << result.err;
    EXPECT_LT(kilobytes - idle, 64 * 1024);

    // A layer name with a line break stays on the warning's one line.
    WriteText("broken.tmx", "<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"16\" "
                            "tileheight=\"16\"><tileset firstgid=\"1\" name=\"parts\" tilewidth=\"16\" "
                            "tileheight=\"16\"><image source=\"atlas16.png\"/></tileset><layer name=\"l\" width=\"1\" "
                            "height=\"1\"><data encoding=\"csv\">1</data></layer><objectgroup name=\"a&#10;b\"/></map>");
    result = Import("broken.tmx out.brd");
    EXPECT_NE(result.err.find("boardtool: warning: broken.tmx: object layer \"a?b\" left out: a board holds tiles only\n"),
              std::string::npos) << result.err;
    std::filesystem::remove("out.brd");
    std::filesystem::remove_all("out");

    // A 50,000-byte layer name is cut in the message.
    WriteText("long.tmx", "<map orientation=\"orthogonal\" width=\"2\" height=\"2\" tilewidth=\"32\" tileheight=\"32\">"
                          "<layer name=\"" + std::string(50000, 'n') + "\" width=\"3\" height=\"2\"/></map>");
    result = Import("long.tmx out.brd");
    EXPECT_NE(result.err.find("layer \"" + std::string(64, 'n') + "... (50000 bytes)\" is 3 x 2 cells, the map 2 x 2"),
              std::string::npos) << result.err;
    EXPECT_LT(result.err.size(), 300u);
    EXPECT_FALSE(FileExists("out.brd"));
}

// An image-collection tile that shows a part of its image (x, y, width and
// height on the tile, as newer Tiled versions write them), in TMX and JSON.
TEST(TiledCompose, ImageCollectionTilesShowThePartOfTheirImageTheyName)
{
    ScratchDir dir;
    Image sheet{64, 48, std::vector<uint8_t>(64 * 48 * 4, 255), false};
    for (int i = 0; i < 64 * 48; i++)
        sheet.Rgba[size_t(i) * 4] = uint8_t(i % 64 * 4), sheet.Rgba[size_t(i) * 4 + 1] = uint8_t(i / 64 * 5);
    WriteBytes("sheet.png", EncodePng(sheet));
    const auto tmx = [](const std::string& rect) {
        return "<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"32\" tileheight=\"32\">"
               "<tileset firstgid=\"1\" name=\"c\" tilewidth=\"64\" tileheight=\"48\"><tile id=\"0\" " + rect +
               "><image source=\"sheet.png\" width=\"64\" height=\"48\"/></tile></tileset>"
               "<layer name=\"l\" width=\"1\" height=\"1\"><data encoding=\"csv\">1</data></layer></map>";
    };
    WriteText("part.tmx", tmx("x=\"20\" y=\"9\" width=\"32\" height=\"32\""));
    WriteText("part.tmj", "{\"type\":\"map\",\"orientation\":\"orthogonal\",\"width\":1,\"height\":1,\"tilewidth\":32,"
                          "\"tileheight\":32,\"tilesets\":[{\"firstgid\":1,\"name\":\"c\",\"tilewidth\":64,"
                          "\"tileheight\":48,\"tiles\":[{\"id\":0,\"image\":\"sheet.png\",\"imagewidth\":64,"
                          "\"imageheight\":48,\"x\":20,\"y\":9,\"width\":32,\"height\":32}]}],\"layers\":[{\"type\":"
                          "\"tilelayer\",\"name\":\"l\",\"width\":1,\"height\":1,\"data\":[1]}]}");
    for (const char* map : {"part.tmx", "part.tmj"}) {
        TiledImport imported;
        Error error;
        ASSERT_TRUE(ImportTiledMap(map, "out", imported, error)) << error;
        const Image& tile = imported.Images.at(0).Pixels;
        ASSERT_EQ(tile.Width, 32);
        for (int y = 0; y < 32; y += 7)
            for (int x = 0; x < 32; x += 5)
                for (int c = 0; c < 3; c++)
                    ASSERT_EQ(tile.Rgba[(size_t(y) * 32 + size_t(x)) * 4 + size_t(c)],
                              sheet.Rgba[(size_t(y + 9) * 64 + size_t(x + 20)) * 4 + size_t(c)]) << map << x << "," << y;
    }
    // A part beyond the image, or not of the map's tile size, is refused
    // saying so; the whole image of the wrong size names its size.
    const struct {
        const char* rect;
        const char* message;
    } wrong[] = {{"x=\"40\" y=\"0\" width=\"32\" height=\"32\"", "shows pixels (40, 0) to (71, 31), outside its image of 64 x 48"},
                 {"x=\"0\" y=\"0\" width=\"16\" height=\"32\"", "shows 16 x 32 pixels of its image; the map's tiles are 32 x 32"},
                 {"", "its image is 64 x 48 pixels, the map's tiles 32 x 32"}};
    for (const auto& w : wrong) {
        WriteText("bad.tmx", tmx(w.rect));
        const CommandResult result = Import("bad.tmx out.brd");
        EXPECT_NE(result.err.find(std::string("tile 0 of tileset \"c\"") + (w.message[0] == 'i' ? ": " : " ") + w.message),
                  std::string::npos)
            << result.err;
    }
}

// Animated tiles stacked: the composite steps whenever any layer's frame
// changes and loops when all come round together, as Tiled shows it over
// time; when that takes more than 256 frames, every frame lasts the
// average, with a warning.
TEST(TiledCompose, AnimatedTilesInAStackAnimateTheComposite)
{
    REQUIRE_TILED();
    ScratchDir dir;
    MakeAtlas("atlas16.png", 16);
    const auto map = [](const std::string& bottom, const std::string& top) {
        return "<map version=\"1.8\" orientation=\"orthogonal\" width=\"2\" height=\"1\" tilewidth=\"16\" "
               "tileheight=\"16\"><tileset firstgid=\"1\" name=\"parts\" tilewidth=\"16\" tileheight=\"16\" "
               "tilecount=\"4\" columns=\"4\"><image source=\"atlas16.png\" width=\"64\" height=\"16\"/>"
               "<tile id=\"0\"><animation>" + bottom + "</animation></tile><tile id=\"1\"><animation>" + top +
               "</animation></tile></tileset><layer name=\"g\" width=\"2\" height=\"1\"><data encoding=\"csv\">1,4"
               "</data></layer><layer name=\"t\" width=\"2\" height=\"1\"><data encoding=\"csv\">2,2</data></layer></map>";
    };
    const auto frames = [](std::vector<std::pair<int, int>> list) {
        std::string text;
        for (const auto& [tile, ms] : list)
            text += "<frame tileid=\"" + std::to_string(tile) + "\" duration=\"" + std::to_string(ms) + "\"/>";
        return text;
    };
    // 10 + 20 ticks under 4 x 10: 12 steps of 10 ticks.
    WriteText("stack.tmx", map(frames({{0, 303}, {3, 606}}), frames({{1, 303}, {2, 303}, {1, 303}, {3, 303}})));
    Rasterize({"stack.tmx"});
    Rasterize({"stack.tmx"}, 400);
    Rasterize({"stack.tmx"}, 2500);
    ASSERT_EQ(Import("stack.tmx stack.brd").status, 0);
    World world;
    ASSERT_EQ(world.LoadMap("stack.brd"), 0);
    EXPECT_EQ(world.Cells[0][0].LastFrame, 11);
    EXPECT_EQ(world.Cells[0][0].Delay, 9);
    EXPECT_EQ(world.Cells[1][0].LastFrame, 3);  // the top layer's animation alone over a still tile
    EXPECT_EQ(DrawnDifferently("stack.tmx.png", "stack.brd", 16, 2, 1), 0);
    EXPECT_EQ(DrawnDifferently("stack.tmx-400.png", "stack.brd", 16, 2, 1, 0, 0, 0, 13), 0);
    EXPECT_EQ(DrawnDifferently("stack.tmx-2500.png", "stack.brd", 16, 2, 1, 0, 0, 0, 82), 0);

    // 13 frames of 3 ticks under 12 of 7: 1,092 ticks to come round; every
    // frame lasts 4 ticks (123 / 25) instead, 156 frames in all.
    std::vector<std::pair<int, int>> bottom, top;
    for (int f = 0; f < 13; f++)
        bottom.push_back({f % 2 ? 3 : 0, 100});
    for (int f = 0; f < 12; f++)
        top.push_back({f % 2 ? 2 : 1, 200});
    WriteText("long.tmx", map(frames(bottom), frames(top)));
    TiledImport imported;
    Error error;
    ASSERT_TRUE(ImportTiledMap("long.tmx", "long", imported, error)) << error;
    EXPECT_EQ(imported.Map->Cells[0][0].LastFrame, 155);
    EXPECT_EQ(imported.Map->Cells[0][0].Delay, 3);
    ASSERT_EQ(imported.Warnings.size(), 1u);
    EXPECT_NE(imported.Warnings[0].find("and the tiles under or over it would need more than 256 frames to keep its "
                                        "durations; every frame lasts 4 ticks"),
              std::string::npos) << imported.Warnings[0];
}

// Out of memory (an address-space limit that a 2000 x 2000 layer exceeds
// while it is decoded): a named refusal, not a crash.
TEST(TiledBounds, RunningOutOfMemoryIsANamedRefusal)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit leaves";
#endif
    ScratchDir dir;
    const int n = 2000;
    std::vector<uint32_t> ones(size_t(n) * n, 1);
    Bytes raw(reinterpret_cast<const uint8_t*>(ones.data()), reinterpret_cast<const uint8_t*>(ones.data()) + ones.size() * 4);
    uLongf packedSize = compressBound(uLong(raw.size()));
    Bytes packed(packedSize);
    ASSERT_EQ(compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 6), Z_OK);
    packed.resize(packedSize);
    const std::string size = "width=\"" + std::to_string(n) + "\" height=\"" + std::to_string(n) + "\"";
    WriteText("wide.tmx", "<map orientation=\"orthogonal\" " + size + " tilewidth=\"32\" tileheight=\"32\"><layer "
                          "name=\"l\" " + size + "><data encoding=\"base64\" compression=\"zlib\">" +
                              EncodeBase64(packed) + "</data></layer></map>");
    // The address space boardtool needs to start (its libraries) varies
    // from machine to machine: found to 2 MB, the limit leaves 16 MB above it.
    auto starts = [](int kb) {
        return RunCommand("ulimit -v " + std::to_string(kb) + "; " + Boardtool("--help")).status == 0;
    };
    int startKb = 40000;
    while (startKb <= 2000000 && !starts(startKb))
        startKb += 32000;
    ASSERT_LE(startKb, 2000000) << "boardtool does not start within 2 GB of address space";
    for (int step = 16000; step >= 2000; step /= 2)
        if (startKb - step >= 0 && starts(startKb - step))
            startKb -= step;
    const CommandResult result =
        RunCommand("ulimit -v " + std::to_string(startKb + 16000) + "; " + Boardtool("import wide.tmx out.brd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "boardtool: wide.tmx: out of memory while reading the map (nothing was written)\n");
    EXPECT_FALSE(FileExists("out.brd"));
}
