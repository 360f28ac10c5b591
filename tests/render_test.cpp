// boardtool render on a small map built here: it draws what the viewer's
// frame code draws, refuses what it cannot draw, and its pictures stay the
// same from one build to the next (tests/golden/render.txt holds checksums
// of the BMP files it writes).
#include <gtest/gtest.h>

#include <unistd.h>  // Required for: symlink()

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "render/frame.h"
#include "render/fast/ground_fast.h"
#include "test_support.h"

namespace {

void PutInt32(Bytes& bytes, int32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> shift));
}

void PutName(Bytes& bytes, const std::string& name)
{
    Bytes slot(NameSlotSize, 0);
    std::memcpy(slot.data(), name.data(), name.size());
    bytes.insert(bytes.end(), slot.begin(), slot.end());
}

// A 16-bit colour from a small pattern number: spread over all three
// channels so that neighbouring numbers look different.
int PatternColour(int n)
{
    return makecol16((n * 53) & 255, (n * 97) & 255, (n * 31) & 255);
}

// A tile image of `frames` frames, each a pattern of its own with a border,
// so that texel row, column and frame all show in a picture.
BitmapPtr PatternTile(int tile, int frames)
{
    BitmapPtr image(create_bitmap_ex(16, CellSize * frames, CellSize));
    for (int column = 0; column < image->w; ++column) {
        for (int row = 0; row < CellSize; ++row) {
            const int frame = column / CellSize;
            const int u = column % CellSize;
            const bool border = u == 0 || row == 0;
            putpixel(image.get(), column, row,
                     border ? PatternColour(200 + tile) : PatternColour(tile * 40 + frame * 9 + (u ^ row) / 4));
        }
    }
    return image;
}

// A small map in the working directory: four tile images (tile 0 animated by
// the global animation, tile 2 by its cells), a sky whose columns show the
// heading, and the board file "small.brd" that names them.
void WriteSmallMap()
{
    SaveImage("t0.bmp", PatternTile(0, 2).get());
    SaveImage("t1.bmp", PatternTile(1, 1).get());
    SaveImage("t2.bmp", PatternTile(2, 3).get());
    SaveImage("t3.bmp", PatternTile(3, 1).get());
    BitmapPtr sky(create_bitmap_ex(16, 2880, 101));
    for (int column = 0; column < 2880; ++column)
        for (int row = 0; row < 101; ++row)
            putpixel(sky.get(), column, row, makecol16(column * 255 / 2879, row * 2, (column / 60 % 2) * 200));
    SaveImage("sky.bmp", sky.get());

    Bytes board = {0};
    PutInt32(board, 5);
    for (int ty = 0; ty < MapSize; ++ty) {
        for (int tx = 0; tx < MapSize; ++tx) {
            PutInt32(board, 0);  // ExtraA
            PutInt32(board, 0);  // ExtraB
            const bool animated = (tx / 4 + ty / 4) % 3 == 0;
            const uint8_t tile = static_cast<uint8_t>(animated ? 2 : (tx * 7 + ty * 3) % 5);  // 4: past the last image
            board.insert(board.end(), {
                                          0,                                           // ExtraC
                                          static_cast<uint8_t>(animated ? 1 : 0),      // Delay
                                          0,                                           // ExtraD
                                          static_cast<uint8_t>(tx % 2),                // Tick
                                          static_cast<uint8_t>(animated ? CellAnimated : 0),  // Flags
                                          2,                                           // LastFrame
                                          tile,                                        // Tile
                                      });
        }
    }
    PutInt32(board, 4);
    for (const char* name : {"t0.bmp", "t1.bmp", "t2.bmp", "t3.bmp"})
        PutName(board, name);
    PutInt32(board, 2);  // AnimDelay
    PutInt32(board, 1);  // AnimLastFrame
    PutInt32(board, 0x3F000000);  // ExtraFloat 0.5
    PutName(board, "sky.bmp");
    WriteBytes("small.brd", board);
}

std::string Boardtool()
{
    return ProgramPath("boardtool");
}

// 64-bit FNV-1a of a file's bytes.
std::string Checksum(const Bytes& bytes)
{
    uint64_t hash = 14695981039346656037ull;
    for (const uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

struct Golden {
    std::string arguments;  // the options given to boardtool render
    std::string checksum;
};

std::vector<Golden> ReadGolden()
{
    std::vector<Golden> golden;
    std::ifstream in(std::string(GROUNDVIEW_SOURCE_DIR) + "/tests/golden/render.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t bar = line.find('|');
        if (bar == std::string::npos)
            continue;
        golden.push_back({line.substr(0, bar), line.substr(bar + 1)});
    }
    return golden;
}

}  // namespace

TEST(Render, PicturesMatchTheirGoldenChecksums)
{
    ScratchDir scratch;
    WriteSmallMap();
    const std::vector<Golden> golden = ReadGolden();
    ASSERT_GE(golden.size(), 4u) << "tests/golden/render.txt is missing or short";
    // The same pictures at every level of the ground renderer.
    for (int level = GroundPlain; level < GroundLevels; ++level) {
        if (!GroundLevelSupported(level))
            continue;
        for (const Golden& g : golden) {
            const std::string arguments = g.arguments + " --level " + GroundLevelName(level);
            const CommandResult result = RunCommand(Boardtool() + " render small.brd out.bmp " + arguments);
            ASSERT_EQ(result.status, 0) << arguments << ": " << result.err;
            EXPECT_EQ(Checksum(ReadBytes("out.bmp")), g.checksum) << "render " << arguments;
        }
    }
}

TEST(Render, DrawsWhatTheViewersFrameDraws)
{
    ScratchDir scratch;
    WriteSmallMap();
    const CommandResult result =
        RunCommand(Boardtool() + " render small.brd out.bmp --x 700.5 --y=-40.25 --heading 1000 --height 20 --ticks 5");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    Error error;
    BitmapPtr picture = LoadImage("out.bmp", error);
    ASSERT_TRUE(picture) << error;
    ASSERT_EQ(picture->w, ViewWidth);
    ASSERT_EQ(picture->h, ViewRows);

    World world;
    ASSERT_EQ(world.LoadMap("small.brd"), 0) << world.LastError().Message();
    for (int tick = 0; tick < 5; ++tick)
        world.AnimateTiles();
    OffscreenFrame frame = MakeOffscreenFrame();
    GroundRenderer ground;
    DrawView(world, ground, frame.View.get(), 700.5f, -40.25f, 20, 1000);
    for (int row = 0; row < ViewRows; ++row)
        for (int column = 0; column < ViewWidth; ++column)
            ASSERT_EQ(PixelAt(picture.get(), column, row), PixelAt(frame.View.get(), column, row))
                << column << ", " << row;
    // The last row belongs to neither renderer: the cleared back buffer shows.
    for (int column = 0; column < ViewWidth; ++column)
        ASSERT_EQ(PixelAt(picture.get(), column, ViewRows - 1), 0);

    // Ticks move the animation on: a different picture.
    ASSERT_EQ(RunCommand(Boardtool() + " render small.brd later.bmp --x 700.5 --y -40.25 --heading 1000 --height 20 --ticks 6").status, 0);
    EXPECT_NE(ReadBytes("out.bmp"), ReadBytes("later.bmp"));
}

TEST(Render, RefusesWhatItCannotDraw)
{
    ScratchDir scratch;
    WriteSmallMap();
    WriteBytes("out.bmp", Bytes{'k', 'e', 'e', 'p'});
    const struct {
        std::string options;
        std::string message;
    } refused[] = {
        {"--heading 2880", "boardtool: --heading 2880 is outside 0..2879\n"},
        {"--heading -1", "boardtool: --heading -1 is outside 0..2879\n"},
        {"--height 100", "boardtool: --height 100 is outside 0..99\n"},
        {"--height -1", "boardtool: --height -1 is outside 0..99\n"},
        {"--ticks -1", "boardtool: --ticks -1 is outside 0..1000000\n"},
        {"--ticks 1000001", "boardtool: --ticks 1000001 is outside 0..1000000\n"},
        {"--x nan", "boardtool: --x and --y must be numbers within -1073741824..1073741824\n"},
        {"--y 3e9", "boardtool: --x and --y must be numbers within -1073741824..1073741824\n"},
        {"--level fastest", "boardtool: --level fastest: give plain, sse2, avx2 or avx512\n"},
    };
    for (const auto& r : refused) {
        const CommandResult result = RunCommand(Boardtool() + " render small.brd out.bmp " + r.options);
        EXPECT_EQ(result.status, 1) << r.options;
        EXPECT_EQ(result.err, r.message) << r.options;
        EXPECT_EQ(ReadBytes("out.bmp"), (Bytes{'k', 'e', 'e', 'p'})) << r.options;
    }

    // A board that fails to load: the loader's own message, nothing written.
    const CommandResult missing = RunCommand(Boardtool() + " render none.brd out.bmp");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("boardtool: ", 0), 0u) << missing.err;
    EXPECT_NE(missing.err.find("none.brd"), std::string::npos) << missing.err;
    EXPECT_EQ(ReadBytes("out.bmp"), (Bytes{'k', 'e', 'e', 'p'}));

    // An output that cannot be written.
    const CommandResult unwritable = RunCommand(Boardtool() + " render small.brd no/such/dir/out.bmp");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, "boardtool: no/such/dir/out.bmp: not written: cannot create a temporary file "
                              "beside it: No such file or directory\n");

    // Never over the board it reads (by any name), nor through a link, nor
    // over a device.
    const Bytes board = ReadBytes("small.brd");
    ASSERT_EQ(symlink("small.brd", "board.bmp"), 0);
    ASSERT_EQ(link("small.brd", "hard.bmp"), 0);
    ASSERT_EQ(symlink("out.bmp", "link.bmp"), 0);
    const std::pair<const char*, const char*> kept[] = {
        {"small.brd", "boardtool: small.brd: the name must end in .png or .bmp, which chooses the format\n"},
        {"board.bmp", "boardtool: board.bmp: not written: it is small.brd, which this command reads\n"},
        {"hard.bmp", "boardtool: hard.bmp: not written: it is small.brd, which this command reads\n"},
        {"link.bmp", "boardtool: link.bmp: not written: is a symbolic link; nothing is written through it\n"},
        {"/dev/null", "boardtool: /dev/null: the name must end in .png or .bmp, which chooses the format\n"},
    };
    for (const auto& [out, message] : kept) {
        const CommandResult result = RunCommand(Boardtool() + " render small.brd " + out);
        EXPECT_EQ(result.status, 1) << out;
        EXPECT_EQ(result.err, message) << out;
    }
    EXPECT_TRUE(ReadBytes("small.brd") == board);
    EXPECT_EQ(ReadBytes("out.bmp"), (Bytes{'k', 'e', 'e', 'p'}));

    // A missing argument is a usage error.
    EXPECT_EQ(RunCommand(Boardtool() + " render small.brd").status, 2);
}
