// Tile animation: the global counters and the per-cell counters, with the
// wrap and sign rules of their types.
#include <gtest/gtest.h>

#include <vector>

#include "core/world.h"

namespace {

// The global frame after each of `calls` calls.
std::vector<int32_t> GlobalFrames(World& world, int calls)
{
    std::vector<int32_t> frames;
    for (int call = 0; call < calls; ++call) {
        world.AnimateTiles();
        frames.push_back(world.AnimFrame);
    }
    return frames;
}

MapCell& AnimatedCell(World& world, int tx, int ty, int8_t delay, uint8_t lastFrame, int8_t tick)
{
    MapCell& cell = world.Cells[tx][ty];
    cell.Flags = CellAnimated;
    cell.Delay = delay;
    cell.LastFrame = lastFrame;
    cell.Tick = tick;
    cell.Frame = 0;
    return cell;
}

// The call (1, 2, ...) on which the cell's frame first changes, or 0 if it
// does not within `limit` calls.
int FirstAdvance(World& world, const MapCell& cell, int limit)
{
    const uint8_t start = cell.Frame;
    for (int call = 1; call <= limit; ++call) {
        world.AnimateTiles();
        if (cell.Frame != start)
            return call;
    }
    return 0;
}

}  // namespace

TEST(Animation, GlobalCycleOfTwelveCalls)
{
    World world;
    world.AnimDelay = 2;
    world.AnimLastFrame = 3;
    const std::vector<int32_t> expected = {0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0, 0, 0, 1};
    EXPECT_EQ(GlobalFrames(world, 15), expected);
    EXPECT_EQ(world.AnimTick, 0);
}

TEST(Animation, GlobalLastFrameZeroHoldsBothCountersAtZero)
{
    World world;
    world.AnimDelay = -5;
    world.AnimLastFrame = 0;
    world.AnimFrame = 7;
    world.AnimTick = 9;
    for (int call = 0; call < 5; ++call) {
        world.AnimateTiles();
        EXPECT_EQ(world.AnimFrame, 0);
        EXPECT_EQ(world.AnimTick, 0);
    }
}

TEST(Animation, GlobalNegativeLastFrameStaysAtFrameZero)
{
    World world;
    world.AnimDelay = 1;
    world.AnimLastFrame = -1;
    std::vector<int32_t> ticks;
    for (int call = 0; call < 4; ++call) {
        world.AnimateTiles();
        EXPECT_EQ(world.AnimFrame, 0);
        ticks.push_back(world.AnimTick);
    }
    EXPECT_EQ(ticks, (std::vector<int32_t>{1, 0, 1, 0}));
}

TEST(Animation, GlobalCountersWrapWithoutOverflow)
{
    // The largest counts: the next tick wraps to the most negative one, which
    // is not past the delay, so the frame holds.
    World world;
    world.AnimDelay = 0;
    world.AnimLastFrame = INT32_MAX;
    world.AnimTick = INT32_MAX;
    world.AnimFrame = 5;
    world.AnimateTiles();
    EXPECT_EQ(world.AnimTick, INT32_MIN);
    EXPECT_EQ(world.AnimFrame, 5);
    // A frame at the top wraps to INT32_MIN, which is not above the last frame.
    world.AnimTick = 0;
    world.AnimFrame = INT32_MAX;
    world.AnimateTiles();
    EXPECT_EQ(world.AnimFrame, INT32_MIN);
    EXPECT_EQ(world.AnimTick, 0);
    // An AnimLastFrame above 255 counts past 255; the renderer sees the low byte.
    world.AnimLastFrame = 300;
    world.AnimFrame = 255;
    world.AnimateTiles();
    EXPECT_EQ(world.AnimFrame, 256);
}

TEST(Animation, CellDelaysAndLastFrames)
{
    World world;
    MapCell& alternating = AnimatedCell(world, 0, 0, 0, 1, 0);
    MapCell& never = AnimatedCell(world, 1, 0, 127, 5, 0);
    MapCell& negative = AnimatedCell(world, 2, 0, -1, 3, 0);
    MapCell& still = AnimatedCell(world, 3, 0, 2, 0, 0);
    std::vector<int> alternatingFrames, negativeFrames, stillTicks;
    for (int call = 0; call < 300; ++call) {
        world.AnimateTiles();
        alternatingFrames.push_back(alternating.Frame);
        negativeFrames.push_back(negative.Frame);
        stillTicks.push_back(still.Tick);
        ASSERT_EQ(never.Frame, 0) << "call " << call + 1;
        ASSERT_EQ(still.Frame, 0);
    }
    EXPECT_EQ(std::vector<int>(alternatingFrames.begin(), alternatingFrames.begin() + 4),
              (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(std::vector<int>(negativeFrames.begin(), negativeFrames.begin() + 5),
              (std::vector<int>{1, 2, 3, 0, 1}));
    // LastFrame 0: the frame stays, the tick still counts and resets.
    EXPECT_EQ(std::vector<int>(stillTicks.begin(), stillTicks.begin() + 6),
              (std::vector<int>{1, 2, 0, 1, 2, 0}));
    // Delay 127: the tick runs through -128..127 for ever, wrapping in 8 bits.
    // 300 calls from 0: 127 after 127 calls, -128 after 128, 44 after 300.
    EXPECT_EQ(never.Tick, 44);
}

TEST(Animation, LoadedTicksAgainstDelayFive)
{
    World world;
    const MapCell& early = AnimatedCell(world, 0, 0, 5, 1, 10);
    EXPECT_EQ(FirstAdvance(world, early, 300), 1);

    World second;
    const MapCell& behind = AnimatedCell(second, 0, 0, 5, 1, -100);
    EXPECT_EQ(FirstAdvance(second, behind, 300), 106);

    World third;
    MapCell& wrapping = AnimatedCell(third, 0, 0, 5, 1, 127);
    third.AnimateTiles();
    EXPECT_EQ(wrapping.Tick, -128);
    EXPECT_EQ(wrapping.Frame, 0);
    EXPECT_EQ(FirstAdvance(third, wrapping, 300), 134);  // the 135th call in all
}

TEST(Animation, CellFramesWrapInEightBits)
{
    World world;
    // LastFrame 255 shows all 256 frames; 255 + 1 wraps to 0.
    MapCell& full = AnimatedCell(world, 5, 5, 0, 255, 0);
    full.Frame = 254;
    world.AnimateTiles();
    EXPECT_EQ(full.Frame, 255);
    world.AnimateTiles();
    EXPECT_EQ(full.Frame, 0);
    // Above its LastFrame (as after loading another map): back to 0 at the
    // next advance, compared unsigned (200 is not a negative frame).
    MapCell& above = AnimatedCell(world, 6, 6, 0, 3, 0);
    above.Frame = 200;
    world.AnimateTiles();
    EXPECT_EQ(above.Frame, 0);
    MapCell& high = AnimatedCell(world, 7, 7, 0, 250, 0);
    high.Frame = 130;
    world.AnimateTiles();
    EXPECT_EQ(high.Frame, 131);
}

TEST(Animation, UnflaggedCellsStayAsTheyAre)
{
    World world;
    MapCell& cell = world.Cells[10][20];
    cell.Flags = static_cast<uint8_t>(~CellAnimated);
    cell.Delay = 0;
    cell.LastFrame = 4;
    cell.Tick = 3;
    cell.Frame = 2;
    for (int call = 0; call < 10; ++call)
        world.AnimateTiles();
    EXPECT_EQ(cell.Tick, 3);
    EXPECT_EQ(cell.Frame, 2);
}

TEST(Animation, EveryCellIsVisited)
{
    World world;
    for (int tx = 0; tx < MapSize; ++tx)
        for (int ty = 0; ty < MapSize; ++ty)
            AnimatedCell(world, tx, ty, 0, 9, 0);
    world.AnimateTiles();
    for (int tx = 0; tx < MapSize; ++tx)
        for (int ty = 0; ty < MapSize; ++ty)
            ASSERT_EQ(world.Cells[tx][ty].Frame, 1) << tx << ", " << ty;
}

TEST(Animation, ZeroFramesBringsEqualCellsIntoStep)
{
    World world;
    world.AnimDelay = 1;
    world.AnimLastFrame = 4;
    world.AnimFrame = 3;
    world.AnimTick = 1;
    MapCell& a = AnimatedCell(world, 0, 0, 2, 5, 1);
    MapCell& b = AnimatedCell(world, 63, 63, 2, 5, -7);
    a.Frame = 4;
    b.Frame = 1;
    MapCell& plain = world.Cells[30][30];
    plain.Frame = 9;
    plain.Tick = 5;
    plain.Delay = 4;
    world.ZeroFrames();
    EXPECT_EQ(world.AnimFrame, 0);
    EXPECT_EQ(world.AnimTick, 0);
    EXPECT_EQ(plain.Frame, 0);
    EXPECT_EQ(plain.Tick, 0);
    // Settings stay.
    EXPECT_EQ(plain.Delay, 4);
    EXPECT_EQ(a.Delay, 2);
    EXPECT_EQ(a.LastFrame, 5);
    EXPECT_EQ(a.Flags, CellAnimated);
    EXPECT_EQ(world.AnimDelay, 1);
    EXPECT_EQ(world.AnimLastFrame, 4);
    for (int call = 1; call <= 20; ++call) {
        world.AnimateTiles();
        ASSERT_EQ(a.Frame, b.Frame) << "call " << call;
        ASSERT_EQ(a.Tick, b.Tick) << "call " << call;
        ASSERT_EQ(a.Frame, (call / 3) % 6) << "call " << call;
    }
}
