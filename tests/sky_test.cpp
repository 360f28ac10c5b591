// The sky renderer, checked on panoramas whose pixels encode their column
// (and their row, modulo 16), so that each view pixel says where it came from.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

constexpr int Sentinel = 0xFFFF;  // columns stay below 4095, so never a sky pixel

int SkyPixel(int column, int row)
{
    return (row & 15) << 12 | column;
}

BitmapPtr EncodedSky(int width, int height)
{
    BitmapPtr sky(create_bitmap_ex(16, width, height));
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            reinterpret_cast<uint16_t*>(sky->line[row])[column] = static_cast<uint16_t>(SkyPixel(column, row));
    return sky;
}

struct Frame {
    BitmapPtr back;
    BitmapPtr view;
};

Frame MakeFrame()
{
    Frame frame;
    frame.back = MakeSolidBitmap(640, 480, Sentinel);
    frame.view.reset(create_sub_bitmap(frame.back.get(), 10, 8, 480, 180));
    return frame;
}

// Checks every view pixel against the panorama's column rule: view column v
// shows sky column (2880 - angle + v) mod width, view row j <= horizon sky
// row skyHeight - horizon - 1 + j (colour 0 above the image); rows below the
// horizon and everything outside the view keep the sentinel.
void ExpectSky(const Frame& frame, int width, int skyHeight, int angle, int horizon)
{
    int mismatches = 0;
    for (int row = 0; row < 480; ++row) {
        for (int column = 0; column < 640; ++column) {
            const int v = column - 10;
            const int j = row - 8;
            int expected = Sentinel;
            if (v >= 0 && v < 480 && j >= 0 && j < 180 && j <= horizon) {
                const int skyRow = skyHeight - horizon - 1 + j;
                expected = skyRow < 0 ? 0 : SkyPixel((2880 - angle + v) % width, skyRow);
            }
            const int actual = PixelAt(frame.back.get(), column, row);
            if (actual != expected && ++mismatches <= 5)
                ADD_FAILURE() << width << " x " << skyHeight << " sky, heading " << angle << ", horizon "
                              << horizon << ": view (" << v << ", " << j << ") is " << std::hex << actual
                              << ", expected " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// Draws the sky of `world` into a fresh frame heading `angle`, horizon at row
// 100, and checks it against a width x skyHeight panorama.
Frame DrawAndExpectSky(const World& world, int width, int skyHeight, int angle)
{
    Frame frame = MakeFrame();
    world.DrawSky(frame.view.get(), 480.0f, 480.0f, 14, angle, 100);
    ExpectSky(frame, width, skyHeight, angle, 100);
    return frame;
}

}  // namespace

TEST(Sky, PanoramaWindowFollowsTheHeading)
{
    World world;
    world.Sky = EncodedSky(2880, 101);
    // 0: the first copy is empty; 1 and 479: the window crosses the seam;
    // 480: the split equals the view width, one copy; 2879: columns 1..480.
    for (const int angle : {0, 1, 479, 480, 481, 1440, 2879}) {
        DrawAndExpectSky(world, 2880, 101, angle);
    }
    // The corners of the window at heading 1, spelled out.
    Frame frame = MakeFrame();
    world.DrawSky(frame.view.get(), 0.0f, 0.0f, 14, 1, 100);
    EXPECT_EQ(PixelAt(frame.view.get(), 0, 0), SkyPixel(2879, 0));
    EXPECT_EQ(PixelAt(frame.view.get(), 1, 100), SkyPixel(0, 100));
    EXPECT_EQ(PixelAt(frame.view.get(), 479, 0), SkyPixel(478, 0));
    EXPECT_EQ(PixelAt(frame.view.get(), 0, 101), Sentinel);
}

TEST(Sky, WiderPanoramaWrapsAtItsOwnWidth)
{
    World world;
    world.Sky = EncodedSky(3360, 101);
    for (const int angle : {0, 1, 480, 2879}) {
        DrawAndExpectSky(world, 3360, 101, angle);
    }
}

TEST(Sky, TallerPanoramaShowsItsBottomRows)
{
    World world;
    world.Sky = EncodedSky(2880, 300);
    Frame frame = DrawAndExpectSky(world, 2880, 300, 700);

    // Rows spelled out in full: the horizon row shows the sky's last row.
    BitmapPtr rows(create_bitmap_ex(16, 2880, 300));
    for (int row = 0; row < 300; ++row)
        hline(rows.get(), 0, row, 2879, row);
    world.Sky = std::move(rows);
    world.DrawSky(frame.view.get(), 480.0f, 480.0f, 14, 700, 100);
    for (int j = 0; j <= 100; ++j)
        EXPECT_EQ(PixelAt(frame.view.get(), 17, j), 199 + j);
}

TEST(Sky, NarrowPanoramaRepeatsAcrossTheView)
{
    World world;
    for (const int width : {1, 7, 100, 479, 480, 2879}) {
        world.Sky = EncodedSky(width, 101);
        for (const int angle : {0, 1, 480, 2400, 2879}) {
            DrawAndExpectSky(world, width, 101, angle);
            if (HasFailure())
                return;
        }
    }
}

TEST(Sky, LowPanoramaSitsOnTheHorizonWithColourZeroAbove)
{
    World world;
    world.Sky = EncodedSky(2880, 50);
    Frame frame = DrawAndExpectSky(world, 2880, 50, 300);
    EXPECT_EQ(PixelAt(frame.view.get(), 5, 50), 0);
    EXPECT_EQ(PixelAt(frame.view.get(), 5, 51), SkyPixel(2580 + 5, 0));

    // A horizon below the view: the rows that exist still follow the rule.
    Frame deep = MakeFrame();
    world.Sky = EncodedSky(2880, 101);
    world.DrawSky(deep.view.get(), 480.0f, 480.0f, 14, 300, 200);
    ExpectSky(deep, 2880, 101, 300, 200);
}

TEST(Sky, WithoutAnImageTheSkyRowsAreColourZero)
{
    World world;
    Frame frame = MakeFrame();
    world.DrawSky(frame.view.get(), 480.0f, 480.0f, 14, 0, 100);
    for (int j = 0; j < 180; ++j)
        EXPECT_EQ(PixelAt(frame.view.get(), 240, j), j <= 100 ? 0 : Sentinel) << j;
    // A horizon above the view draws no sky at all.
    Frame none = MakeFrame();
    world.Sky = EncodedSky(2880, 101);
    world.DrawSky(none.view.get(), 480.0f, 480.0f, 14, 0, -1);
    EXPECT_EQ(PixelAt(none.view.get(), 240, 0), Sentinel);
}

TEST(Sky, PositionAndHeightChangeNothing)
{
    World world;
    world.Sky = EncodedSky(2880, 101);
    Frame first = MakeFrame();
    world.DrawSky(first.view.get(), 480.0f, 480.0f, 14, 1234, 100);
    Frame second = MakeFrame();
    world.DrawSky(second.view.get(), -3045.0f, 2000.5f, 99, 1234, 100);
    Frame third = MakeFrame();
    world.DrawSky(third.view.get(), 0.0f, 0.0f, 0, 1234, 100);
    for (int row = 0; row < 480; ++row) {
        for (int column = 0; column < 640; ++column) {
            ASSERT_EQ(PixelAt(first.back.get(), column, row), PixelAt(second.back.get(), column, row));
            ASSERT_EQ(PixelAt(first.back.get(), column, row), PixelAt(third.back.get(), column, row));
        }
    }
    ExpectSky(first, 2880, 101, 1234, 100);
}

TEST(Sky, HeadingOutOfRangeDrawsNothing)
{
    World world;
    world.Sky = EncodedSky(2880, 101);
    for (const int angle : {-1, 2880}) {
        Frame frame = MakeFrame();
        EXPECT_DEBUG_DEATH(world.DrawSky(frame.view.get(), 480.0f, 480.0f, 14, angle, 100), "heading");
        EXPECT_EQ(PixelAt(frame.view.get(), 0, 0), Sentinel) << angle;
    }
}
