// The ground renderer, checked on maps whose tile images encode tile, frame
// and texel in every pixel, so that each pixel of the view says which cell
// and which texel it came from.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "render/ground.h"
#include "test_support.h"

namespace {

// Pixel value of texel (column, row) of frame `frame` of tile `tile`: 3 bits
// of tile, 3 of frame, 5 of column, 5 of row. Tile numbers stop at 6, so the
// sentinel below (tile 7) is never drawn from a tile image.
int Encode(int tile, int frame, int column, int row)
{
    return tile << 13 | frame << 10 | column << 5 | row;
}

constexpr int Sentinel = 0xFFFF;
constexpr int EncodedFrames = 8;
// Tile 0 is only seen outside the map; cells show tiles 1..5; tile 6 marks
// single cells in the tests that need one.
constexpr int EncodedTiles = 7;
constexpr int MarkerTile = 6;

BitmapPtr EncodedTile(int tile, int frames)
{
    BitmapPtr image(create_bitmap_ex(16, CellSize * frames, CellSize));
    for (int column = 0; column < image->w; ++column)
        for (int row = 0; row < CellSize; ++row)
            putpixel(image.get(), column, row, Encode(tile, column / CellSize, column % CellSize, row));
    return image;
}

// A map whose cell (tx, ty) shows tile 1 + tx % 5 at frame ty % 8.
void FillEncoded(World& world, int tiles = EncodedTiles)
{
    world.Tiles.clear();
    for (int tile = 0; tile < tiles; ++tile)
        world.Tiles.push_back(EncodedTile(tile, EncodedFrames));
    world.TileCount = tiles;
    for (int tx = 0; tx < MapSize; ++tx) {
        for (int ty = 0; ty < MapSize; ++ty) {
            world.Cells[tx][ty].Tile = static_cast<uint8_t>(1 + tx % 5);
            world.Cells[tx][ty].Frame = static_cast<uint8_t>(ty % EncodedFrames);
        }
    }
}

// The viewer's back buffer with the view carved out at (10, 8), every pixel
// set to the sentinel so that untouched pixels show.
struct Frame {
    BitmapPtr back;
    BitmapPtr view;
};

Frame MakeFrame(int width = 480, int height = 180, int left = 10, int top = 8)
{
    Frame frame;
    frame.back = MakeSolidBitmap(640, 480, Sentinel);
    frame.view.reset(create_sub_bitmap(frame.back.get(), left, top, width, height));
    return frame;
}

// Counts the back buffer's pixels that are no longer the sentinel.
int PixelsWritten(BITMAP* back)
{
    int written = 0;
    for (int y = 0; y < back->h; ++y)
        for (int x = 0; x < back->w; ++x)
            written += PixelAt(back, x, y) != Sentinel;
    return written;
}

int Wrap(int step)
{
    if (step < 0)
        step += AngleSteps;
    if (step > AngleSteps - 1)
        step -= AngleSteps;
    return step;
}

// The ground pixel the arithmetic puts at (column, row) of a view that the
// renderer draws from ColumnBase, written out once more, pixel by pixel, from
// the definition: the ray, its reach, the ground point, the cell, the texel.
int ExpectedGround(const World& world, float x, float y, int height, int angle, int horizon,
                   int column, int row)
{
    const int n = (639 - world.ColumnBase) - column;  // the ray
    const int a = Wrap(angle - 240 + n);
    const int r = Wrap(n - 240);
    const double d = static_cast<double>(ViewHeight[height]) * static_cast<double>(RCosTable[r]);
    const float dc = static_cast<float>(d * static_cast<double>(CosTable[a]));
    const float ds = static_cast<float>(d * static_cast<double>(SinTable[a]));
    const int k = row - horizon;
    const double px = static_cast<double>(x) + static_cast<double>(dc) / k;
    const double py = static_cast<double>(y) - static_cast<double>(ds) / k;
    const int gx = static_cast<int>(std::trunc(px));
    const int gy = static_cast<int>(std::trunc(py));
    const int tx = static_cast<int>(std::floor(gx / 32.0));
    const int ty = static_cast<int>(std::floor(gy / 32.0));
    int tile = 0;
    int frame = world.AnimFrame & 0xFF;
    if (tx >= 0 && tx < 64 && ty >= 0 && ty < 64) {
        tile = std::min<int>(world.Cells[tx][ty].Tile, world.TileCount - 1);
        frame = world.Cells[tx][ty].Frame;
    }
    const int texelColumn = ((gx % 32) + 32) % 32;
    const int texelRow = ((gy % 32) + 32) % 32;
    return PixelAt(world.Tiles[tile].get(), texelColumn + 32 * frame, texelRow);
}

// Compares the whole view with the definition: ground rows as computed,
// every other pixel of the back buffer still the sentinel.
void ExpectViewMatches(const World& world, const Frame& frame, float x, float y, int height,
                       int angle, int horizon)
{
    BITMAP* view = frame.view.get();
    int mismatches = 0;
    for (int row = 0; row < view->h; ++row) {
        for (int column = 0; column < view->w; ++column) {
            const bool ground = row > horizon && row < view->h - 1;
            const int expected = ground ? ExpectedGround(world, x, y, height, angle, horizon, column, row)
                                        : Sentinel;
            const int actual = PixelAt(view, column, row);
            if (actual != expected && ++mismatches <= 5)
                ADD_FAILURE() << "pose (" << x << ", " << y << ") height " << height << " heading "
                              << angle << " horizon " << horizon << ": view (" << column << ", "
                              << row << ") is " << std::hex << actual << ", expected " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
    // Nothing outside the view was touched.
    const int viewPixels = view->w * view->h;
    int sentinelsInView = 0;
    for (int row = 0; row < view->h; ++row)
        for (int column = 0; column < view->w; ++column)
            sentinelsInView += PixelAt(view, column, row) == Sentinel;
    EXPECT_EQ(PixelsWritten(frame.back.get()), viewPixels - sentinelsInView);
}

// View pixel (column, row) of the ground seen from (100, 200) in cell (3, 6),
// height 0, heading 0, horizon at row 100.
int GroundPixel(const World& world, int column, int row)
{
    Frame frame = MakeFrame();
    world.DrawGround(frame.view.get(), 100.0f, 200.0f, 0, 0, 100);
    return PixelAt(frame.view.get(), column, row);
}

}  // namespace

TEST(Ground, WorkedExampleAlongTheHeading)
{
    World world;
    FillEncoded(world);
    world.AnimFrame = 2;
    world.Cells[54][15].Tile = MarkerTile;
    world.Cells[54][15].Frame = 3;
    world.Cells[16][15].Tile = MarkerTile;
    world.Cells[16][15].Frame = 5;
    Frame frame = MakeFrame();
    world.DrawGround(frame.view.get(), 480.0f, 480.0f, 14, 0, 100);

    BITMAP* view = frame.view.get();
    // Rows 101 and 102 reach x = 4285 and 2382: off the map, tile 0 at the
    // global frame.
    EXPECT_EQ(PixelAt(view, 239, 101), Encode(0, 2, 4285 & 31, 0));
    EXPECT_EQ(PixelAt(view, 239, 102), Encode(0, 2, 2382 & 31, 0));
    // Row 103 reaches x = 1748: cell (54, 15), texel column 20, row 0.
    EXPECT_EQ(PixelAt(view, 239, 103), Encode(MarkerTile, 3, 20, 0));
    // Row 178, the last ground row, reaches x = 528: cell (16, 15), column 16.
    EXPECT_EQ(PixelAt(view, 239, 178), Encode(MarkerTile, 5, 16, 0));
    // The sky's rows and the view's last row are not the ground's.
    EXPECT_EQ(PixelAt(view, 239, 100), Sentinel);
    for (int column = 0; column < 480; ++column)
        EXPECT_EQ(PixelAt(view, column, 179), Sentinel) << "column " << column;
    ExpectViewMatches(world, frame, 480.0f, 480.0f, 14, 0, 100);
}

TEST(Ground, HeightZeroShowsTheTexelUnderTheViewer)
{
    World world;
    FillEncoded(world);
    Frame frame = MakeFrame();
    world.DrawGround(frame.view.get(), 100.7f, 200.3f, 0, 1000, 100);
    // (100, 200) lies in cell (3, 6): tile 1 + 3 % 5, frame 6 % 8, texel (4, 8).
    for (int row = 101; row <= 178; ++row)
        for (int column = 0; column < 480; ++column)
            ASSERT_EQ(PixelAt(frame.view.get(), column, row), Encode(4, 6, 4, 8)) << column << ", " << row;
}

TEST(Ground, PositionsTruncateTowardZeroAcrossTheMapEdge)
{
    World world;
    FillEncoded(world);
    world.AnimFrame = 1;
    struct Case {
        float x, y;
        int expected;
    };
    const Case cases[] = {
        // -1 < x < 1 all truncate to 0: texel column 0 of cell (0, ...) is two units wide.
        {-0.75f, 40.0f, Encode(1, 1, 0, 8)},
        {0.99f, 40.0f, Encode(1, 1, 0, 8)},
        {40.0f, -0.5f, Encode(2, 0, 8, 0)},
        // -1 is off the map, and texel columns (rows) run on modulo 32 across the edge.
        {-1.0f, 40.0f, Encode(0, 1, 31, 8)},
        {40.0f, -1.0f, Encode(0, 1, 8, 31)},
        {-33.0f, -64.5f, Encode(0, 1, 31, 0)},
        // 2048 is the first point past the far edge.
        {2047.9f, 2047.0f, Encode(4, 7, 31, 31)},
        {2048.0f, 5.0f, Encode(0, 1, 0, 5)},
    };
    for (const Case& c : cases) {
        Frame frame = MakeFrame();
        world.DrawGround(frame.view.get(), c.x, c.y, 0, 0, 100);
        EXPECT_EQ(PixelAt(frame.view.get(), 0, 101), c.expected) << c.x << ", " << c.y;
        EXPECT_EQ(PixelAt(frame.view.get(), 479, 178), c.expected) << c.x << ", " << c.y;
    }
}

TEST(Ground, ViewerBeyondTheLowEdgeFacingAwaySeesOnlyTileZero)
{
    World world;
    FillEncoded(world);
    for (const float x : {-1.0f, -500.0f}) {
        for (const int height : {14, 99}) {
            Frame frame = MakeFrame();
            world.DrawGround(frame.view.get(), x, 1000.0f, height, 1440, 100);
            for (int row = 101; row <= 178; ++row)
                for (int column = 0; column < 480; ++column)
                    ASSERT_EQ(PixelAt(frame.view.get(), column, row) >> 13, 0)
                        << "x " << x << " height " << height << " at " << column << ", " << row;
        }
    }
}

TEST(Ground, TileNumbersBeyondTheImagesShowTheLastImage)
{
    World world;
    FillEncoded(world, 5);
    world.Cells[3][6].Tile = 200;
    world.Cells[3][6].Frame = 2;
    EXPECT_EQ(GroundPixel(world, 200, 150), Encode(4, 2, 4, 8));
}

TEST(Ground, GlobalFrameUsesItsLowEightBits)
{
    World world;
    FillEncoded(world);
    // Three frames, so that no count of 256 frames comes back to the same one.
    world.Tiles[0] = EncodedTile(0, 3);
    const std::pair<int32_t, int> cases[] = {{256, 0}, {258, 2}, {2, 2}, {-255, 1}, {-511, 1}};
    for (const auto& [animFrame, frameShown] : cases) {
        world.AnimFrame = animFrame;
        Frame frame = MakeFrame();
        world.DrawGround(frame.view.get(), -100.0f, -100.0f, 0, 0, 100);
        EXPECT_EQ(PixelAt(frame.view.get(), 10, 120), Encode(0, frameShown, 28, 28)) << animFrame;
    }
}

TEST(Ground, RowsStopAboveTheViewsLastRow)
{
    World world;
    FillEncoded(world);
    // A view of horizon + 2 rows has no ground row; one more row has one.
    for (const int height : {101, 102, 103}) {
        Frame frame = MakeFrame(480, height);
        world.DrawGround(frame.view.get(), 480.0f, 480.0f, 14, 0, 100);
        EXPECT_EQ(PixelsWritten(frame.back.get()), height == 103 ? 480 : 0) << height;
        if (height == 103)
            ExpectViewMatches(world, frame, 480.0f, 480.0f, 14, 0, 100);
    }
}

TEST(Ground, HorizonAboveTheViewSkipsTheRowsAboveIt)
{
    World world;
    FillEncoded(world);
    for (const int horizon : {-1, -2, -40, -1000000}) {
        Frame frame = MakeFrame();
        world.DrawGround(frame.view.get(), 300.5f, 700.25f, 30, 700, horizon);
        ExpectViewMatches(world, frame, 300.5f, 700.25f, 30, 700, horizon);
    }
    // A horizon far below the view writes nothing.
    Frame frame = MakeFrame();
    world.DrawGround(frame.view.get(), 300.5f, 700.25f, 30, 700, 2147483647);
    EXPECT_EQ(PixelsWritten(frame.back.get()), 0);
}

TEST(Ground, MatchesTheDefinitionAtRandomPoses)
{
    World world;
    FillEncoded(world);
    std::mt19937 random(20261207);
    // Any tile number, including ones past the images, any frame they hold.
    std::uniform_int_distribution<int> byte(0, 255);
    for (int tx = 0; tx < MapSize; ++tx) {
        for (int ty = 0; ty < MapSize; ++ty) {
            world.Cells[tx][ty].Tile = static_cast<uint8_t>(byte(random) % 12);
            world.Cells[tx][ty].Frame = static_cast<uint8_t>(byte(random) % EncodedFrames);
        }
    }
    std::uniform_real_distribution<float> position(-3045.0f, 3045.0f);
    std::uniform_real_distribution<float> nearMap(-40.0f, 2100.0f);
    std::uniform_int_distribution<int> heading(0, AngleSteps - 1);
    std::uniform_int_distribution<int> height(0, HeightSteps - 1);
    std::uniform_int_distribution<int> horizon(-3, 180);
    for (int pose = 0; pose < 300; ++pose) {
        const bool near = pose % 2 == 0;
        const float x = near ? nearMap(random) : position(random);
        const float y = near ? nearMap(random) : position(random);
        // Mostly the viewer's own height and horizon, some of every kind.
        const int h = pose % 3 == 0 ? 14 : height(random);
        const int hz = pose % 3 == 1 ? 100 : horizon(random);
        const int a = heading(random);
        // Any frame tile 0 holds, seen through the low 8 bits of any count.
        world.AnimFrame = byte(random) % EncodedFrames + 256 * (byte(random) % 5 - 2);
        Frame frame = MakeFrame();
        world.DrawGround(frame.view.get(), x, y, h, a, hz);
        ExpectViewMatches(world, frame, x, y, h, a, hz);
        if (HasFailure())
            return;
    }
}

TEST(Ground, ColumnBaseZeroFillsTheWholeWidth)
{
    World world;
    FillEncoded(world);
    world.ColumnBase = 0;
    Frame frame = MakeFrame(640, 180, 0, 0);
    world.DrawGround(frame.view.get(), 1000.0f, 900.0f, 40, 2000, 100);
    ExpectViewMatches(world, frame, 1000.0f, 900.0f, 40, 2000, 100);
}

TEST(Ground, ImagesTooSmallForTheirFramesAreNeverReadOutside)
{
    BitmapPtr parent = EncodedTile(5, 4);  // outlives the World that holds a part of it
    World world;
    FillEncoded(world, 2);
    // Tile 1: a one-frame tile placeholder; tile 2: 40 wide, one whole frame;
    // tile 3: three frames; tile 4: 31 rows; tile 5: a sub-bitmap whose rows
    // are further apart than its width; tile 6: 8 bits per pixel; tile 7: none.
    world.Tiles[1] = MakeTilePlaceholder();
    world.Tiles.push_back(EncodedTile(2, 1));
    BitmapPtr wide(create_bitmap_ex(16, 40, 32));
    blit(world.Tiles[2].get(), wide.get(), 0, 0, 0, 0, 32, 32);
    world.Tiles[2] = std::move(wide);
    world.Tiles.push_back(EncodedTile(3, 3));
    BitmapPtr low(create_bitmap_ex(16, 32, 31));
    clear_to_color(low.get(), 0x1234);
    world.Tiles.push_back(std::move(low));
    world.Tiles.emplace_back(create_sub_bitmap(parent.get(), 32, 0, 64, 32));
    BitmapPtr paletted(create_bitmap_ex(8, 64, 32));
    clear_to_color(paletted.get(), 7);
    world.Tiles.push_back(std::move(paletted));
    world.Tiles.emplace_back();
    world.TileCount = 8;

    struct Case {
        int tile, frame;
        int expected;  // texel (4, 8) as drawn, or -1 for the placeholder's own
    };
    const Case cases[] = {
        {1, 1, -1},
        {1, 200, -1},
        {2, 1, Encode(2, 0, 4, 8)},
        {3, 2, Encode(3, 2, 4, 8)},
        {3, 3, Encode(3, 0, 4, 8)},
        {3, 5, Encode(3, 2, 4, 8)},
        {4, 0, 0},
        {5, 0, 0},
        {6, 0, 0},
        {7, 0, 0},
    };
    for (const Case& c : cases) {
        world.Cells[3][6].Tile = static_cast<uint8_t>(c.tile);
        world.Cells[3][6].Frame = static_cast<uint8_t>(c.frame);
        const int expected = c.expected >= 0 ? c.expected : PixelAt(world.Tiles[1].get(), 4, 8);
        EXPECT_EQ(GroundPixel(world, 100, 140), expected) << "tile " << c.tile << " frame " << c.frame;
    }

    // A placeholder as tile 0 shows itself outside the map at any global frame.
    world.Tiles[0] = MakeTilePlaceholder();
    world.AnimFrame = 5;
    Frame frame = MakeFrame();
    world.DrawGround(frame.view.get(), -28.0f, -24.0f, 0, 0, 100);
    EXPECT_EQ(PixelAt(frame.view.get(), 0, 101), PixelAt(world.Tiles[0].get(), 4, 8));
}

TEST(Ground, MapWithoutTilesDrawsColourZero)
{
    World world;
    Frame frame = MakeFrame();
    world.DrawGround(frame.view.get(), 480.0f, 480.0f, 14, 0, 100);
    for (int row = 0; row < 180; ++row)
        for (int column = 0; column < 480; ++column)
            ASSERT_EQ(PixelAt(frame.view.get(), column, row), row > 100 && row < 179 ? 0 : Sentinel);
    EXPECT_EQ(PixelsWritten(frame.back.get()), 480 * 78);

    // A count beyond the images held counts only the images held.
    FillEncoded(world, 3);
    world.TileCount = 50;
    world.Cells[3][6].Tile = 40;
    EXPECT_EQ(GroundPixel(world, 0, 101), Encode(2, 6, 4, 8));
}

TEST(Ground, RefusesViewsAndArgumentsItCannotDrawSafely)
{
    World world;
    FillEncoded(world);
    Frame good = MakeFrame();
    // Too narrow for ColumnBase 160; rows of its own length; not 2 bytes per
    // pixel; a heading, height or position out of range. Debug builds stop;
    // release builds draw nothing.
    Frame narrow = MakeFrame(400);
    EXPECT_DEBUG_DEATH(world.DrawGround(narrow.view.get(), 480.0f, 480.0f, 14, 0, 100), "view");
    EXPECT_EQ(PixelsWritten(narrow.back.get()), 0);

    BitmapPtr alone = MakeSolidBitmap(480, 180, Sentinel);
    EXPECT_DEBUG_DEATH(world.DrawGround(alone.get(), 480.0f, 480.0f, 14, 0, 100), "view");
    EXPECT_EQ(PixelsWritten(alone.get()), 0);

    BitmapPtr deep(create_bitmap_ex(32, 640, 480));
    clear_to_color(deep.get(), 0x123456);
    BitmapPtr deepView(create_sub_bitmap(deep.get(), 160, 0, 480, 180));
    EXPECT_DEBUG_DEATH(world.DrawGround(deepView.get(), 480.0f, 480.0f, 14, 0, 100), "view");
    EXPECT_EQ(getpixel(deep.get(), 300, 150), 0x123456);

    const struct {
        float x, y;
        int height, angle;
    } refused[] = {
        {480.0f, 480.0f, 14, 2880}, {480.0f, 480.0f, 14, -1},   {480.0f, 480.0f, 100, 0},
        {480.0f, 480.0f, -1, 0},    {NAN, 480.0f, 14, 0},       {480.0f, INFINITY, 14, 0},
        {3.0e9f, 480.0f, 14, 0},    {480.0f, -3.0e9f, 14, 0},
    };
    for (const auto& r : refused) {
        EXPECT_DEBUG_DEATH(world.DrawGround(good.view.get(), r.x, r.y, r.height, r.angle, 100), "");
        EXPECT_EQ(PixelsWritten(good.back.get()), 0) << r.x << ", " << r.y << " " << r.height << " " << r.angle;
    }

    // The largest position accepted still truncates inside 32 bits.
    world.DrawGround(good.view.get(), GroundPositionLimit, -GroundPositionLimit, 99, 2640, 100);
    EXPECT_EQ(PixelAt(good.view.get(), 0, 101) >> 13, 0);
}
