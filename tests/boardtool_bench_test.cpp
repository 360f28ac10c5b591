// boardtool bench: draws the frames it is asked for, with the renderer asked
// for, and refuses what it cannot do.
#include <gtest/gtest.h>

#include <string>

#include "render/fast/ground_fast.h"
#include "test_support.h"

namespace {

// A board file of two tiles in the scratch directory, images beside it.
void MakeBoard(const std::string& name)
{
    World world;
    SaveImage("a.bmp", MakeSolidBitmap(64, 32, 0x1234).get());
    SaveImage("b.bmp", MakeSolidBitmap(32, 32, 0x4321).get());
    snprintf(world.TileNames[0], NameSlotSize, "a.bmp");
    snprintf(world.TileNames[1], NameSlotSize, "b.bmp");
    snprintf(world.SkyName, NameSlotSize, "sky.bmp");
    world.TileCount = 2;
    for (auto& column : world.Cells)
        for (MapCell& cell : column)
            cell.Tile = static_cast<uint8_t>((&cell - &column[0]) % 2);
    ASSERT_EQ(world.CreateMap(name.c_str()), 0) << world.LastError().Message();
}

std::string Bench(const std::string& arguments)
{
    return ProgramPath("boardtool") + " bench " + arguments;
}

// Runs bench with `arguments` and expects it to refuse with `status`,
// printing nothing on stdout and on stderr a message that holds `err`.
void ExpectRefused(const std::string& arguments, int status, const std::string& err)
{
    const CommandResult result = RunCommand(Bench(arguments));
    EXPECT_EQ(result.status, status) << arguments;
    EXPECT_NE(result.err.find(err), std::string::npos) << arguments << ": " << result.err;
    EXPECT_EQ(result.out, "") << arguments;
}

}  // namespace

TEST(BoardtoolBench, DrawsTheFramesAskedForWithTheRendererAskedFor)
{
    ScratchDir dir;
    MakeBoard("map.brd");

    CommandResult result = RunCommand(Bench("map.brd --frames 7"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("7 frames in "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(" frames per second, ground "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(std::string("(ground renderer: ") + GroundLevelName(GroundBestLevel()) + ", "),
              std::string::npos)
        << result.out;

    // The default is 1000 frames.
    result = RunCommand(Bench("map.brd"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("1000 frames in ", 0), 0u) << result.out;

    result = RunCommand(Bench("--plain map.brd --frames 2"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("(ground renderer: plain, 1 thread)"), std::string::npos) << result.out;

    result = RunCommand(Bench("map.brd --frames 2 --level sse2"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("(ground renderer: sse2, 1 thread)"), std::string::npos) << result.out;
    result = RunCommand(Bench("map.brd --frames 2 --level plain"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("(ground renderer: plain, 1 thread)"), std::string::npos) << result.out;
}

TEST(BoardtoolBench, RefusesLevelsAndOptionsItDoesNotKnow)
{
    ScratchDir dir;
    MakeBoard("map.brd");
    // The ground is drawn by the calling thread: there is no thread count to set.
    ExpectRefused("map.brd --frames 2 --threads 1", 2, "--threads");
    ExpectRefused("map.brd --frames 2 --threads 2", 2, "--threads");
    ExpectRefused("map.brd --frames 2 --level fastest", 1,
                  "boardtool: --level fastest: give plain, sse2, avx2 or avx512\n");
    if (!GroundLevelSupported(GroundAvx512))
        ExpectRefused("map.brd --frames 2 --level avx512", 1, "boardtool: --level avx512: this CPU cannot run it\n");
    ExpectRefused("map.brd --frames 2 --plain --level sse2", 2, "boardtool: ");
}

TEST(BoardtoolBench, RefusesNoFramesAndBoardsItCannotLoad)
{
    ScratchDir dir;
    MakeBoard("map.brd");
    ExpectRefused("map.brd --frames 0", 1, "boardtool: --frames 0 draws nothing: give 1 or more\n");
    ExpectRefused("map.brd --frames -3", 1, "boardtool: --frames -3 draws nothing: give 1 or more\n");
    ExpectRefused("missing.brd", 1, "boardtool: missing.brd");
    ExpectRefused("map.brd --frames many", 2, "boardtool: ");
    ExpectRefused("", 2, "boardtool: ");
}
