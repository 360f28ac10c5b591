// Tiled maps against the real Tiled: exported boards drawn by tmxrasterizer
// as the board looks from above and brought back byte for byte, directly and
// through Tiled's own TMX and JSON writers; maps as map makers draw them
// (flips, scaled tiles, animations, layers, compressions) imported and
// compared with Tiled's picture; malformed maps refused with nothing written.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <zlib.h>
#include <zstd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "board/board_file.h"
#include "test_support.h"
#include "tiled/tiled_map.h"
#include "tiled/tiled_world.h"

// zlib's compress2 and zstd's ZSTD_createDCtx as this binary links them: the
// libraries' own, unless a test asks them to fail as they do out of memory.
namespace {
bool compressFails = false;
bool zstdContextFails = false;
}  // namespace

extern "C" int compress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level)
{
    using Real = int (*)(Bytef*, uLongf*, const Bytef*, uLong, int);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "compress2"));
    return compressFails ? Z_MEM_ERROR : real(dest, destLen, source, sourceLen, level);
}

extern "C" ZSTD_DCtx* ZSTD_createDCtx(void)
{
    using Real = ZSTD_DCtx* (*)();
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "ZSTD_createDCtx"));
    return zstdContextFails ? nullptr : real();
}

namespace {

// Runs Tiled's command lines side by side (each mostly waits for Tiled to
// start) and requires every one to succeed.
void RunTiled(const std::vector<std::string>& commands)
{
    std::string line = "failed=0; jobs=; ";
    for (const std::string& command : commands)
        line += "QT_QPA_PLATFORM=offscreen " + command + " >/dev/null 2>&1 & jobs=\"$jobs $!\"; ";
    line += "for job in $jobs; do wait $job || failed=1; done; exit $failed";
    ASSERT_EQ(RunCommand(line).status, 0) << line;
}

// tmxrasterizer's picture of `map` after `advanceMs` of animation, into
// `map`-`advanceMs`.png.
std::string Rasterize(const std::string& map, int advanceMs = 0)
{
    return "tmxrasterizer --no-smoothing --advance-animations " + std::to_string(advanceMs) + " " + map + " " + map +
           "-" + std::to_string(advanceMs) + ".png";
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
int DrawnDifferently(const std::string& map, const std::string& board, int cell, int ticks, int advanceMs = 0)
{
    const std::string picture = map + "-" + std::to_string(advanceMs) + ".png";
    Image raster;
    Error error;
    EXPECT_TRUE(DecodeImageFile(picture.c_str(), AllegroReaders(), raster, error)) << error;
    World world;
    EXPECT_EQ(world.LoadMap(board.c_str()), 0) << world.LastError().Message();
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
    ASSERT_EQ(world.CreateMap(name.c_str()), 0) << world.LastError().Message();
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
    struct Trip {
        std::string board, map, rewritten;
    };
    std::vector<Trip> trips;
    std::vector<std::string> tiled;
    std::filesystem::create_directories("tiled");
    for (const std::string board : {"odd.brd", "data/test.brd"}) {
        const std::string stem = std::filesystem::path(board).stem();
        for (const std::string format : {"tmx", "tmj"}) {
            const std::string map = "maps/" + stem + "." + format;
            ASSERT_EQ(Tool("export --force " + board + " " + map).status, 0);
            const std::string again = (format == "tmx") == (board == "odd.brd") ? "json" : "tmx";
            trips.push_back({board, map, "tiled/" + stem + "-" + format + "." + again});
            tiled.push_back("tiled --export-map " + again + " " + here + map + " " + here + trips.back().rewritten);
        }
    }
    // Frame 2 of frames lasting 6 ticks (182 ms): 400 ms is tick 13.
    tiled.insert(tiled.end(), {Rasterize("maps/odd.tmx"), Rasterize("maps/odd.tmj"), Rasterize("maps/test.tmx"),
                               Rasterize("maps/test.tmx", 400)});
    RunTiled(tiled);
    EXPECT_EQ(DrawnDifferently("maps/odd.tmx", "odd.brd", CellSize, 0), 0);
    EXPECT_EQ(DrawnDifferently("maps/odd.tmj", "odd.brd", CellSize, 0), 0);
    EXPECT_EQ(DrawnDifferently("maps/test.tmx", "data/test.brd", CellSize, 0), 0);
    EXPECT_EQ(DrawnDifferently("maps/test.tmx", "data/test.brd", CellSize, 13, 400), 0);

    for (const Trip& trip : trips) {
        for (const std::string& map : {trip.map, trip.rewritten}) {
            ASSERT_EQ(Tool("import " + map + " back.brd --force").status, 0) << map;
            EXPECT_EQ(Body("back.brd"), Body(trip.board)) << map;
        }
    }
}

// An exported map edited as in Tiled: three cells painted anew (a still
// tile, an animated one, a flipped one that needs a new image), the sky and
// the outside delay changed; everything else comes back as it was.
TEST(TiledExport, PaintedCellsTakeTheirNewTileAndTheRestKeepsEveryField)
{
    ScratchDir dir;
    MakeOddBoard("odd.brd");
    ASSERT_EQ(Tool("export odd.brd odd.tmx").status, 0);
    std::string text(reinterpret_cast<const char*>(ReadBytes("odd.tmx").data()), ReadBytes("odd.tmx").size());
    auto firstGid = [&](const std::string& name) {
        const size_t at = text.find("\" name=\"" + name);
        EXPECT_NE(at, std::string::npos) << name;
        return uint32_t(std::stoul(text.substr(text.rfind("firstgid=\"", at) + 10)));
    };
    const uint32_t still = firstGid("tile 2: img\\old.pcx\"");
    const uint32_t animated = firstGid("tile 0: img\\strip.bmp (frames 0..1, 3 ticks each)");
    const size_t data = text.find(">", text.find("<data encoding=\"csv\"")) + 1;
    const size_t end = text.find(",", text.find(",", text.find(",", data) + 1) + 1);
    text.replace(data, end - data,
                 std::to_string(still) + "," + std::to_string(animated) + "," + std::to_string(still | GidFlipH));
    const size_t sky = text.find("value=\"", text.find("name=\"sky\"")) + 7;
    text.replace(sky, text.find('"', sky) - sky, "new-sky.png");
    const size_t delay = text.find("value=\"", text.find("name=\"outside_delay\"")) + 7;
    text.replace(delay, text.find('"', delay) - delay, "7");
    WriteBytes("odd.tmx", Bytes(text.begin(), text.end()));
    ASSERT_EQ(Tool("import odd.tmx back.brd --images new").status, 0);

    auto before = std::make_unique<BoardFile>(), after = std::make_unique<BoardFile>();
    Error error;
    const Bytes original = ReadBytes("odd.brd"), back = ReadBytes("back.brd");
    ASSERT_TRUE(ParseBoard(original.data(), original.size(), "odd.brd", *before, error));
    ASSERT_TRUE(ParseBoard(back.data(), back.size(), "back.brd", *after, error));
    const MapCell painted[3] = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 2},
                                {0, 0, 0, 2, 0, 0, CellAnimated, 0, 1, 0},
                                {0, 0, 0, 0, 0, 0, 0, 0, 0, 4}};
    for (int tx = 0; tx < 3; tx++)
        EXPECT_EQ(std::memcmp(&after->Cells[tx][0], &painted[tx], sizeof(MapCell)), 0) << tx;
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++)
            if (tx >= 3 || ty > 0) {
                ASSERT_EQ(std::memcmp(&after->Cells[tx][ty], &before->Cells[tx][ty], sizeof(MapCell)), 0) << tx << ty;
            }
    EXPECT_EQ(after->TileCount, 5);
    EXPECT_EQ(std::memcmp(after->TileNames, before->TileNames, 4 * NameSlotSize), 0);
    EXPECT_STREQ(after->TileNames[4], "new/tile04.png");
    EXPECT_TRUE(FileExists("new/tile04.png"));
    EXPECT_STREQ(after->SkyName, "new-sky.png");
    EXPECT_EQ(after->AnimDelay, 7);
    EXPECT_EQ(after->AnimLastFrame, before->AnimLastFrame);
    EXPECT_EQ(after->ExtraFloat, before->ExtraFloat);
}

// Gids as base64 layer data, packed as Tiled packs them.
std::string Packed(const std::vector<uint32_t>& gids, const std::string& compression)
{
    Bytes raw;
    for (uint32_t gid : gids)
        for (int i = 0; i < 4; i++)
            raw.push_back(uint8_t(gid >> (8 * i)));
    Bytes packed(raw.size() + 1024);
    if (compression == "zstd") {
        packed.resize(ZSTD_compress(packed.data(), packed.size(), raw.data(), raw.size(), 3));
    } else if (!compression.empty()) {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, compression == "gzip" ? 16 + MAX_WBITS : MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        z.next_in = raw.data();
        z.avail_in = uInt(raw.size());
        z.next_out = packed.data();
        z.avail_out = uInt(packed.size());
        deflate(&z, Z_FINISH);
        packed.resize(z.total_out);
        deflateEnd(&z);
    } else {
        packed = raw;
    }
    return EncodeBase64(packed);
}

void WriteText(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

std::string Csv(const std::vector<uint32_t>& gids)
{
    std::string text;
    for (uint32_t gid : gids)
        text += (text.empty() ? "" : ",") + std::to_string(gid);
    return text;
}

// A town as a map maker draws it in Tiled: 16-pixel tiles from an external
// atlas tileset with margin and spacing (one tile animated with frames of
// different lengths) and an image collection, every flip, a group layer
// over the ground, a hidden layer and an object layer.
std::string TownMap(const std::string& compression)
{
    Image atlas{54, 36, std::vector<uint8_t>(54 * 36 * 4, 255), false};
    for (int i = 0; i < 6; i++)
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 16; x++) {
                uint8_t* p = &atlas.Rgba[((1 + i / 3 * 18 + y) * 54 + 1 + i % 3 * 18 + x) * 4];
                p[0] = uint8_t(x * 16);
                p[1] = uint8_t(y * 16);
                p[2] = uint8_t(40 * i);
            }
    WriteText("tilesets/art/atlas.png", "");
    WriteBytes("tilesets/art/atlas.png", EncodePng(atlas));
    Image thing{16, 16, std::vector<uint8_t>(16 * 16 * 4, 255), false};
    for (int i = 0; i < 256; i++)
        thing.Rgba[i * 4] = uint8_t(255 - i), thing.Rgba[i * 4 + 1] = uint8_t(i % 16 * i / 16);
    WriteText("maps/thing.png", "");
    WriteBytes("maps/thing.png", EncodePng(thing));
    WriteText("tilesets/atlas.tsx",
              R"(<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" name="atlas" tilewidth="16" tileheight="16" spacing="2" margin="1" tilecount="6" columns="3">
 <image source="art/atlas.png" width="54" height="36"/>
 <tile id="4"><animation><frame tileid="0" duration="303"/><frame tileid="1" duration="606"/></animation></tile>
</tileset>
)");
    std::vector<uint32_t> ground, top, hidden(240, 7);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 20; x++) {
            ground.push_back(uint32_t((x + y) % 7 + 1) | uint32_t((x * 3 + y) % 8) << 29);
            top.push_back((x * y) % 5 == 0 ? 3 : 0);
        }
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="orthogonal" renderorder="right-down" width="20" height="12" tilewidth="16" tileheight="16" infinite="0" nextlayerid="6" nextobjectid="2">
 <tileset firstgid="1" source="../tilesets/atlas.tsx"/>
 <tileset firstgid="7" name="things" tilewidth="16" tileheight="16" tilecount="1" columns="0">
  <tile id="0"><image width="16" height="16" source="thing.png"/></tile>
 </tileset>
 <layer id="1" name="ground" width="20" height="12"><data encoding="csv">)" +
           Csv(ground) + R"(</data></layer>
 <group id="2" name="decor"><layer id="3" name="top" width="20" height="12"><data encoding="base64")" +
           (compression.empty() ? "" : " compression=\"" + compression + "\"") + ">" + Packed(top, compression) +
           R"(</data></layer></group>
 <layer id="4" name="hidden" width="20" height="12" visible="0"><data encoding="csv">)" +
           Csv(hidden) + R"(</data></layer>
 <objectgroup id="5" name="spawn" visible="0"><object id="1" x="5" y="5"/></objectgroup>
</map>
)";
}

TEST(TiledImport, MapsDrawnInTiledLookAsTiledDrawsThem)
{
    REQUIRE_TILED();
    ScratchDir dir;
    WriteText("maps/town.tmx", TownMap("zlib"));
    const CommandResult imported = Tool("import maps/town.tmx town.brd");
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.err.find("object layer \"spawn\" left out"), std::string::npos) << imported.err;
    RunTiled({Rasterize("maps/town.tmx"), Rasterize("maps/town.tmx", 400), Rasterize("maps/town.tmx", 1000),
              "tiled --export-map json " + dir.Path() + "/maps/town.tmx " + dir.Path() + "/maps/town.tmj"});
    EXPECT_EQ(DrawnDifferently("maps/town.tmx", "town.brd", 16, 0), 0);
    // The animated tile: frame 0 for 303 ms (10 ticks), frame 1 for 606 ms.
    EXPECT_EQ(DrawnDifferently("maps/town.tmx", "town.brd", 16, 13, 400), 0);
    EXPECT_EQ(DrawnDifferently("maps/town.tmx", "town.brd", 16, 35, 1000), 0);

    // From scratch the sky is a plain image, and the ground outside the map
    // is the most used tile.
    World world;
    ASSERT_EQ(world.LoadMap("town.brd"), 0);
    EXPECT_STREQ(world.SkyName, "town/sky.png");
    EXPECT_EQ(world.Sky->w, 2880);
    EXPECT_EQ(getpixel(world.Sky.get(), 10, 10), getpixel(world.Sky.get(), 2000, 90));
    EXPECT_EQ(world.Cells[63][63].Tile, 0);
    EXPECT_EQ(world.ExtraFloat, 0.5f);

    // The same map from Tiled's JSON writer, and with other compressions.
    WriteText("maps/gzip.tmx", TownMap("gzip"));
    WriteText("maps/zstd.tmx", TownMap("zstd"));
    WriteText("maps/plain.tmx", TownMap(""));
    for (const char* map : {"maps/town.tmj", "maps/gzip.tmx", "maps/zstd.tmx", "maps/plain.tmx"}) {
        ASSERT_EQ(Tool(std::string("import ") + map + " again.brd --force --images town").status, 0) << map;
        EXPECT_EQ(Body("again.brd"), Body("town.brd")) << map;
    }

    // The viewer's path: the same map in memory, nothing written.
    World shown;
    Error error;
    ASSERT_TRUE(LoadTiledMap(shown, "maps/zstd.tmx", error)) << error;
    Bytes body;
    AppendBody(shown, body);
    body.resize(BoardCellsSize);  // the names differ: new images are named after the map
    Bytes town = Body("town.brd");
    town.resize(BoardCellsSize);
    EXPECT_EQ(body, town);
    EXPECT_FALSE(FileExists("maps/zstd"));
    for (int k = 0; k < shown.TileCount; k++)
        EXPECT_EQ(getpixel(shown.Tiles[k].get(), 31, 5), getpixel(world.Tiles[k].get(), 31, 5)) << k;
}

TEST(TiledImport, MalformedMapsAreRefusedAndNothingIsWritten)
{
    ScratchDir dir;
    auto map = [](const std::string& attributes, const std::string& inside) {
        return "<map orientation=\"orthogonal\" tilewidth=\"32\" tileheight=\"32\" " + attributes + ">" + inside +
               "</map>";
    };
    const std::string tileset = "<tileset firstgid=\"1\" name=\"t\" tilewidth=\"1\" tileheight=\"1\"><image source=\"a.png\"/></tileset>";
    auto layer = [](const std::string& data, int w = 2, int h = 2) {
        return "<layer name=\"l\" width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) + "\">" + data + "</layer>";
    };
    const std::string small = "width=\"2\" height=\"2\"";
    std::vector<uint32_t> many;
    for (uint32_t gid = 1; gid <= 110; gid++)
        many.push_back(gid);
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {map(small, layer("<data encoding=\"base64\">!!!!</data>")), "bad base64"},
        {map(small, layer("<data encoding=\"base64\" compression=\"zlib\">" +
                          Packed(std::vector<uint32_t>(1 << 18), "zlib") + "</data>")),
         "inflates to more than the layer's 16 bytes"},
        {map(small, layer("<data encoding=\"csv\">1,2,3</data>")), "CSV data holds 3 cells, the layer has 4"},
        {map(small, layer("<data encoding=\"csv\">0,0,0,9</data>")), "tile id 9 belongs to no tileset"},
        {map(small, "<tileset firstgid=\"1\" name=\"t\" tilewidth=\"32\" tileheight=\"32\"><image source=\"gone.png\"/></tileset>" +
                        layer("<data encoding=\"csv\">1,1,1,1</data>")),
         "gone.png: cannot open"},
        {"<map orientation=\"isometric\"/>", "the map is isometric"},
        {map("width=\"1073741825\" height=\"64\"", ""), "1073741825 x 64 cells; a map has 1 to 1073741824 cells a side"},
        {"<map orientation=\"orthogonal\" width=\"2\" height=\"2\" tilewidth=\"24\" tileheight=\"16\"/>", "tiles of 24 x 16"},
        {"<map orientation=\"orthogonal\" width=\"2\" height=\"2\" tilewidth=\"4294967328\" tileheight=\"32\">" +
             tileset + layer("<data encoding=\"csv\">1,1,1,1</data>") + "</map>",
         "<map> tilewidth=\"4294967328\" is not an integer within -2147483648..2147483647"},
        {map("infinite=\"1\"", layer("<data encoding=\"csv\"><chunk x=\"1073741825\" y=\"0\" width=\"16\" height=\"16\"/></data>")),
         "chunk at (1073741825, 0)"},
        {"<map orientation=\"orthogonal\" width=\"11\" height=\"10\" tilewidth=\"1\" tileheight=\"1\">" + tileset +
             layer("<data encoding=\"csv\">" + Csv(many) + "</data>", 11, 10) + "</map>",
         "need 110 tile images (each distinct stack of tiles is one); a board holds at most 100: --merge-similar"},
    };
    WriteText("in/a.png", "");
    WriteBytes("in/a.png", EncodePng(Image{110, 1, std::vector<uint8_t>(440, 255), false}));
    for (const auto& c : cases) {
        WriteText("in/map.tmx", c.text);
        const CommandResult result = Tool("import in/map.tmx out.brd");
        EXPECT_NE(result.status, 0) << c.message;
        EXPECT_EQ(result.err.rfind("boardtool: in/map.tmx: ", 0), 0) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_FALSE(FileExists("out.brd") || FileExists("out")) << c.message;
    }

    // A good map over an existing board: refused without --force.
    WriteText("in/map.tmx", map(small, "<tileset firstgid=\"1\" name=\"t\" tilewidth=\"32\" tileheight=\"32\"><tile id=\"0\"><image source=\"../b.png\"/></tile></tileset>" +
                                           layer("<data encoding=\"csv\">1,1,1,1</data>")));
    WriteBytes("b.png", EncodePng(Image{32, 32, std::vector<uint8_t>(32 * 32 * 4, 255), false}));
    WriteBytes("out.brd", {1, 2, 3});
    EXPECT_NE(Tool("import in/map.tmx out.brd").err.find("out.brd: exists; give --force"), std::string::npos);
    EXPECT_EQ(ReadBytes("out.brd"), Bytes({1, 2, 3}));
    EXPECT_FALSE(FileExists("out"));
    EXPECT_EQ(Tool("import in/map.tmx out.brd --force").status, 0);
    EXPECT_TRUE(FileExists("out/tile00.png") && FileExists("out/sky.png"));
}

// Tileset files held in memory, by the path the parser asks for.
struct MemoryTilesets {
    std::map<std::string, std::string> files;
    std::vector<std::string> asked;
    bool operator()(const std::string& path, std::vector<uint8_t>& bytes, Error& error)
    {
        asked.push_back(path);
        const auto it = files.find(path);
        if (it == files.end()) {
            error = Error{"", "not among the tilesets in memory"};
            return false;
        }
        bytes.assign(it->second.begin(), it->second.end());
        return true;
    }
};

// Parses `text` as the map `name`, tilesets from `tilesets`; on refusal the
// message, else "".
std::string Parsed(const std::string& text, const std::string& name, TiledDocument& doc,
                   MemoryTilesets& tilesets)
{
    Error error;
    return ParseTiledMap(reinterpret_cast<const uint8_t*>(text.data()), text.size(), name, std::ref(tilesets), doc,
                         error)
               ? ""
               : error.Message();
}

std::string Parsed(const std::string& text, const std::string& name, TiledDocument& doc)
{
    MemoryTilesets none;
    return Parsed(text, name, doc, none);
}

TEST(TiledRead, TmxIntegersOutOfRangeAreRefusedAsJsonOnes)
{
    // A 2 x 2 map of 32-pixel tiles, one inline tileset, one tile layer of
    // tile elements; `edit` swaps one attribute for a bad one.
    const std::string good =
        R"(<map orientation="orthogonal" width="2" height="2" tilewidth="32" tileheight="32" infinite="0">)"
        R"(<tileset firstgid="1" name="t" tilewidth="32" tileheight="32" tilecount="2" columns="2">)"
        R"(<image source="a.png"/><tile id="1"><animation><frame tileid="0" duration="100"/></animation></tile></tileset>)"
        R"(<layer name="l" width="2" height="2" visible="1"><data><tile gid="1"/><tile gid="2"/><tile/>)"
        R"(<tile gid="4294967295"/></data></layer></map>)";
    TiledDocument doc;
    ASSERT_EQ(Parsed(good, "m.tmx", doc), "");
    EXPECT_EQ(doc.TileWidth, 32);
    EXPECT_EQ(doc.Layers.at(0).Gids[0], 1u);
    EXPECT_EQ(doc.Layers.at(0).Gids[MapSize + 1], 4294967295u);  // the largest gid is whole and in range
    EXPECT_EQ(doc.Tilesets.at(0).Animations.at(1).at(0).Duration, 100);

    auto edit = [&](const std::string& from, const std::string& to) {
        const size_t at = good.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return good.substr(0, at) + to + good.substr(at + from.size());
    };
    const std::string intRange = " is not an integer within -2147483648..2147483647";
    const std::string gidRange = " is not an integer within 0..4294967295";
    const std::string longRange = " is not an integer within -9223372036854775808..9223372036854775807";
    const struct {
        std::string text, message;
    } cases[] = {
        // These wrapped to 32 and 64 and were read as a good map.
        {edit("tilewidth=\"32\" tileheight", "tilewidth=\"4294967328\" tileheight"),
         "<map> tilewidth=\"4294967328\"" + intRange},
        {edit("width=\"2\" height=\"2\" tilewidth", "width=\"4294967360\" height=\"2\" tilewidth"),
         "<map> width=\"4294967360\"" + intRange},
        {edit("infinite=\"0\"", "infinite=\"4294967296\""), "<map> infinite=\"4294967296\"" + intRange},
        {edit("firstgid=\"1\"", "firstgid=\"4294967297\""), "<tileset> firstgid=\"4294967297\"" + gidRange},
        {edit("firstgid=\"1\"", "firstgid=\"-1\""), "<tileset> firstgid=\"-1\"" + gidRange},
        {edit("tilecount=\"2\"", "tilecount=\"9223372036854775808\""),
         "<tileset> tilecount=\"9223372036854775808\"" + longRange},
        {edit("columns=\"2\"", "columns=\"99999999999999999999999\""),
         "<tileset> columns=\"99999999999999999999999\"" + intRange},
        {edit("<tile id=\"1\">", "<tile id=\"4294967297\">"), "<tile> id=\"4294967297\"" + gidRange},
        {edit("tileid=\"0\"", "tileid=\"4294967296\""), "<frame> tileid=\"4294967296\"" + gidRange},
        {edit("duration=\"100\"", "duration=\"2147483648\""), "<frame> duration=\"2147483648\"" + intRange},
        {edit("visible=\"1\"", "visible=\"-2147483649\""), "<layer> visible=\"-2147483649\"" + intRange},
        {edit("<layer name=\"l\" width=\"2\"", "<layer name=\"l\" width=\"18446744073709551618\""),
         "<layer> width=\"18446744073709551618\"" + longRange},
        {edit("gid=\"4294967295\"", "gid=\"4294967296\""), "<tile> gid=\"4294967296\"" + gidRange},
        // Not whole numbers at all: pugixml read these as 32 or as 0.
        {edit("tilewidth=\"32\" tileheight", "tilewidth=\"32.5\" tileheight"), "<map> tilewidth=\"32.5\"" + intRange},
        {edit("tilewidth=\"32\" tileheight", "tilewidth=\"32px\" tileheight"), "<map> tilewidth=\"32px\"" + intRange},
        {edit("tilewidth=\"32\" tileheight", "tilewidth=\"0x20\" tileheight"), "<map> tilewidth=\"0x20\"" + intRange},
        {edit("tilewidth=\"32\" tileheight", "tilewidth=\"\" tileheight"), "<map> tilewidth=\"\"" + intRange},
        {edit("<tile gid=\"1\"/>", "<tile gid=\"-\"/>"), "<tile> gid=\"-\"" + gidRange},
    };
    for (const auto& c : cases) {
        TiledDocument kept;
        kept.Width = 7;
        EXPECT_EQ(Parsed(c.text, "dir/m.tmx", kept), "dir/m.tmx: " + c.message);
        EXPECT_EQ(kept.Width, 7);
    }
    // An infinite map's chunks are read through the same check.
    const std::string infinite =
        R"(<map orientation="orthogonal" width="2" height="2" tilewidth="32" tileheight="32" infinite="1">)"
        R"(<layer name="l" width="2" height="2"><data encoding="csv"><chunk x="-9223372036854775809" y="0")"
        R"( width="16" height="16">0</chunk></data></layer></map>)";
    EXPECT_EQ(Parsed(infinite, "i.tmx", doc), "i.tmx: <chunk> x=\"-9223372036854775809\"" + longRange);
    // The JSON reader refuses the same value in the same field.
    const std::string json = R"({"type":"map","orientation":"orthogonal","width":2,"height":2,)"
                             R"("tilewidth":4294967328,"tileheight":32})";
    EXPECT_EQ(Parsed(json, "m.tmj", doc),
              "m.tmj: \"tilewidth\" is not an integer within -2147483648..2147483647");
}

TEST(TiledRead, ExternalTilesetsComeFromTheLoaderAlone)
{
    ScratchDir dir;  // empty: nothing is on disk to be read instead
    MemoryTilesets tilesets;
    tilesets.files["sets/t.tsx"] =
        R"(<tileset name="atlas" tilewidth="16" tileheight="16" tilecount="4" columns="2">)"
        R"(<image source="art/a.png" trans="ff00ff"/></tileset>)";
    tilesets.files["sets/j.tsj"] =
        R"({"name": "json", "tilewidth": 16, "tileheight": 16, "tilecount": 1, "columns": 0,)"
        R"( "tiles": [{"id": 0, "image": "../art/b.png"}]})";
    const std::string tmx =
        R"(<map orientation="orthogonal" width="1" height="1" tilewidth="16" tileheight="16">)"
        R"(<tileset firstgid="1" source="../sets/t.tsx"/><tileset firstgid="5" source="../sets/j.tsj"/>)"
        R"(<layer name="l" width="1" height="1"><data encoding="csv">5</data></layer></map>)";
    TiledDocument doc;
    ASSERT_EQ(Parsed(tmx, "maps/m.tmx", doc, tilesets), "");
    EXPECT_EQ(tilesets.asked, (std::vector<std::string>{"sets/t.tsx", "sets/j.tsj"}));
    ASSERT_EQ(doc.Tilesets.size(), 2u);
    const TiledTileset& atlas = doc.Tilesets[0];
    EXPECT_EQ(atlas.Source, "sets/t.tsx");
    EXPECT_EQ(atlas.Name, "atlas");
    EXPECT_EQ(atlas.FirstGid, 1u);
    EXPECT_EQ(atlas.TileCount, 4);
    EXPECT_EQ(atlas.Image, "sets/art/a.png");  // against the tileset, not the map
    EXPECT_TRUE(atlas.HasTrans);
    EXPECT_EQ(doc.Tilesets[1].FirstGid, 5u);
    EXPECT_EQ(doc.Tilesets[1].TileImages.at(0), "art/b.png");
    EXPECT_EQ(doc.Layers.at(0).Gids[0], 5u);

    // A JSON map names them the same way.
    const std::string tmj = R"({"type": "map", "orientation": "orthogonal", "width": 1, "height": 1,)"
                            R"( "tilewidth": 16, "tileheight": 16, "tilesets": [{"firstgid": 1, "source": "../sets/t.tsx"}]})";
    TiledDocument fromJson;
    ASSERT_EQ(Parsed(tmj, "maps/m.tmj", fromJson, tilesets), "");
    EXPECT_EQ(fromJson.Tilesets.at(0).Image, "sets/art/a.png");

    // What the loader cannot give, or gives malformed, is refused under the
    // tileset's name, and the document is left as it was.
    const struct {
        std::string map, message;
    } refused[] = {
        {R"(<map orientation="orthogonal" width="1" height="1" tilewidth="16" tileheight="16">)"
         R"(<tileset firstgid="1" source="gone.tsx"/></map>)",
         "maps/gone.tsx: not among the tilesets in memory"},
        {R"({"type": "map", "orientation": "orthogonal", "width": 1, "height": 1, "tilewidth": 16,)"
         R"( "tileheight": 16, "tilesets": [{"firstgid": 1, "source": "../sets/none.tsj"}]})",
         "sets/none.tsj: not among the tilesets in memory"},
        {R"(<map orientation="orthogonal" width="1" height="1" tilewidth="16" tileheight="16">)"
         R"(<tileset firstgid="1" source="../sets/bad.tsx"/></map>)",
         "sets/bad.tsx: no <tileset> element: not a TSX tileset"},
        {R"(<map orientation="orthogonal" width="1" height="1" tilewidth="16" tileheight="16">)"
         R"(<tileset firstgid="1" source="../sets/wide.tsx"/></map>)",
         "sets/wide.tsx: <tileset> tilewidth=\"4294967312\" is not an integer within -2147483648..2147483647"},
    };
    tilesets.files["sets/bad.tsx"] = "<map/>";
    tilesets.files["sets/wide.tsx"] = R"(<tileset name="w" tilewidth="4294967312" tileheight="16"/>)";
    for (const auto& c : refused) {
        TiledDocument kept = doc;
        EXPECT_EQ(Parsed(c.map, c.map[0] == '{' ? "maps/m.tmj" : "maps/m.tmx", kept, tilesets), c.message);
        EXPECT_EQ(kept.Tilesets.size(), 2u);
        EXPECT_EQ(kept.FileName, "maps/m.tmx");
    }
    // A loader's own file name is kept.
    TiledDocument kept;
    Error error;
    const auto named = [](const std::string&, std::vector<uint8_t>&, Error& e) {
        e = Error{"elsewhere/t.tsx", "cannot open"};
        return false;
    };
    EXPECT_FALSE(ParseTiledMap(reinterpret_cast<const uint8_t*>(tmx.data()), tmx.size(), "maps/m.tmx", named, kept,
                               error));
    EXPECT_EQ(error.Message(), "elsewhere/t.tsx: cannot open");
}

TEST(TiledCodecs, CompressorAndDecompressorFailuresAreReported)
{
    // Export packs the board's body with zlib: a failure refuses the export.
    World world;
    world.TileCount = 1;
    world.Tiles.push_back(MakeSolidBitmap(CellSize, CellSize, makecol16(10, 20, 30)));
    TiledExport exported;
    Error error;
    ASSERT_TRUE(ExportTiledMap(world, "out/m.tmx", exported, error)) << error;
    EXPECT_NE(exported.Text.find(PropBoard), std::string::npos);
    const Bytes body(100, 7);
    Bytes packed = {1, 2, 3};
    compressFails = true;
    EXPECT_FALSE(DeflateZlib(body, packed, error));
    EXPECT_EQ(error.Reason, "zlib cannot compress 100 bytes: out of memory");
    EXPECT_EQ(packed, Bytes({1, 2, 3}));
    TiledExport kept;
    kept.Text = "kept";
    EXPECT_FALSE(ExportTiledMap(world, "out/m.tmx", kept, error));
    compressFails = false;
    EXPECT_EQ(error.Message(), "out/m.tmx: the board's body: zlib cannot compress " +
                                   std::to_string(BoardBodySize(1)) + " bytes: out of memory");
    EXPECT_EQ(kept.Text, "kept");
    EXPECT_TRUE(kept.Images.empty());
    ASSERT_TRUE(DeflateZlib(body, packed, error)) << error;
    std::vector<uint8_t> back;
    ASSERT_TRUE(Inflate(packed, "zlib", body.size(), back, error)) << error;
    EXPECT_EQ(back, body);

    // A zstd layer whose decompressor cannot start is refused, not read as empty.
    const std::string map =
        R"(<map orientation="orthogonal" width="1" height="1" tilewidth="32" tileheight="32">)"
        R"(<layer name="l" width="1" height="1"><data encoding="base64" compression="zstd">)" +
        Packed({0}, "zstd") + "</data></layer></map>";
    TiledDocument doc;
    ASSERT_EQ(Parsed(map, "z.tmx", doc), "");
    zstdContextFails = true;
    const std::string refused = Parsed(map, "z.tmx", doc);
    std::vector<uint32_t> gids = {9};
    EXPECT_FALSE(DecodeLayerData(Packed({0}, "zstd"), "base64", "zstd", 1, gids, error));
    zstdContextFails = false;
    EXPECT_EQ(refused, "z.tmx: layer \"l\": cannot start zstd");
    EXPECT_EQ(error.Reason, "cannot start zstd");
    EXPECT_EQ(gids, std::vector<uint32_t>({9}));
}

}  // namespace
