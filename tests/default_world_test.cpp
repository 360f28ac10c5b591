// The default world in data/: its images have the frames its cells need, the
// sky joins without a seam, and the start view shows what it is meant to.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "control.h"
#include "render/frame.h"
#include "test_support.h"
#include "core/world.h"

namespace {

// Runs a test from the source tree, where the board file's names resolve.
class InSourceTree {
public:
    InSourceTree()
    {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd))
            previous = cwd;
        EXPECT_EQ(chdir(GROUNDVIEW_SOURCE_DIR), 0);
    }
    ~InSourceTree()
    {
        if (!previous.empty() && chdir(previous.c_str()) != 0)
            perror("chdir");
    }

private:
    std::string previous;
};

class DefaultWorld : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(world.LoadMap("data\\test.brd"), 0) << world.LastError().Message();
    }
    InSourceTree here;
    World world;
};

// Sum over the rows of the colour distance between two columns of an image.
long ColumnDistance(BITMAP* image, int a, int b)
{
    long sum = 0;
    for (int y = 0; y < image->h; y++) {
        const int p = PixelAt(image, a, y), q = PixelAt(image, b, y);
        sum += std::abs(getr16(p) - getr16(q)) + std::abs(getg16(p) - getg16(q)) + std::abs(getb16(p) - getb16(q));
    }
    return sum;
}

}  // namespace

TEST_F(DefaultWorld, EveryImageLoadsWithTheFramesItsCellsNeed)
{
    ASSERT_GE(world.TileCount, 8);
    ASSERT_EQ(world.Tiles.size(), static_cast<size_t>(world.TileCount));
    const BitmapPtr placeholder = MakeTilePlaceholder();
    std::map<int, int> lastFrame;  // the highest frame any cell shows, per tile
    std::set<int> animatedTiles;
    for (const auto& column : world.Cells)
        for (const MapCell& cell : column) {
            ASSERT_LT(cell.Tile, world.TileCount);
            if (cell.Flags & CellAnimated) {
                animatedTiles.insert(cell.Tile);
                lastFrame[cell.Tile] = std::max(lastFrame[cell.Tile], int(cell.LastFrame));
            }
        }
    EXPECT_GE(animatedTiles.size(), 3u);
    // The ground outside the map shows tile 0 at the global frame.
    ASSERT_GT(world.AnimLastFrame, 0);
    lastFrame[0] = std::max(lastFrame[0], int(world.AnimLastFrame));

    for (int tile = 0; tile < world.TileCount; tile++) {
        BITMAP* image = world.Tiles[tile].get();
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->h, 32) << world.TileNames[tile];
        EXPECT_EQ(image->w, 32 * (lastFrame[tile] + 1)) << world.TileNames[tile];
        EXPECT_EQ(std::string(world.TileNames[tile]).rfind("data\\", 0), 0u) << world.TileNames[tile];
    }
    EXPECT_EQ(world.Sky->w, 2880);
    EXPECT_EQ(world.Sky->h, 101);
}

TEST_F(DefaultWorld, SkyJoinsWithoutASeam)
{
    // Where column 2879 meets column 0 the colours change no more than they
    // do between all but the sharpest 1% of neighbouring columns elsewhere.
    BITMAP* sky = world.Sky.get();
    std::vector<long> steps;
    for (int x = 0; x + 1 < sky->w; x++)
        steps.push_back(ColumnDistance(sky, x, x + 1));
    std::sort(steps.begin(), steps.end());
    const long usual = steps[steps.size() * 99 / 100];
    EXPECT_GT(usual, 0);
    EXPECT_LE(ColumnDistance(sky, sky->w - 1, 0), usual);
}

TEST_F(DefaultWorld, TilesRepeatWithoutASeam)
{
    for (int tile = 0; tile < world.TileCount; tile++) {
        BITMAP* image = world.Tiles[tile].get();
        for (int frame = 0; frame < image->w / 32; frame++) {
            long largest = 0;
            for (int x = 0; x < 31; x++)
                largest = std::max(largest, ColumnDistance(image, 32 * frame + x, 32 * frame + x + 1));
            EXPECT_LE(ColumnDistance(image, 32 * frame + 31, 32 * frame), largest)
                << world.TileNames[tile] << " frame " << frame;
        }
    }
}

TEST_F(DefaultWorld, WaterRipplesInStepWithTheSeaBeyondTheMap)
{
    for (int tick = 0; tick < 50; tick++) {
        world.AnimateTiles();
        for (const auto& column : world.Cells)
            for (const MapCell& cell : column)
                if (cell.Tile == 0) {
                    ASSERT_EQ(cell.Frame, world.AnimFrame) << "after " << tick + 1 << " ticks";
                }
    }
}

TEST_F(DefaultWorld, StartViewShowsRoadsWaterLightsAndTheSeaBeyondTheEdge)
{
    // Paint every tile a colour of its own, and the water inside the map
    // another than the sea outside it, then draw the start view.
    enum { Road = 3, Lights = 8 };
    ASSERT_GT(world.TileCount, Lights);
    const int inMapWater = world.TileCount;
    for (int tile = 0; tile < world.TileCount; tile++)
        world.Tiles[tile] = MakeSolidBitmap(world.Tiles[tile]->w, 32, tile + 1);
    world.Tiles.push_back(MakeSolidBitmap(world.Tiles[0]->w, 32, inMapWater + 1));
    world.TileCount++;
    for (auto& column : world.Cells)
        for (MapCell& cell : column)
            if (cell.Tile == 0)
                cell.Tile = static_cast<uint8_t>(inMapWater);

    BitmapPtr buffer = MakeSolidBitmap(640, 480, 0);
    BitmapPtr view = MakeView(buffer.get());
    const ViewerState start;
    GroundRenderer ground;
    ground.Draw(world, view.get(), start.x, start.y, ViewHeightIndex, start.angle, Horizon);
    std::map<int, long> shown;  // tile -> pixels
    for (int y = Horizon + 1; y < ViewRows - 1; y++)
        for (int x = 0; x < ViewWidth; x++)
            shown[PixelAt(view.get(), x, y) - 1]++;

    EXPECT_GT(shown[0], 0) << "the sea beyond the map's edge";
    EXPECT_GT(shown[inMapWater], 0) << "water inside the map";
    EXPECT_GT(shown[Road], 0) << "the road";
    EXPECT_GT(shown[Lights], 0) << "the chasing lights";
    EXPECT_GE(shown.size(), 6u);
}
