// The fast ground renderer against the plain one, at every instruction level
// this CPU runs: whole back buffers compared byte for byte, on random maps
// (odd and unusable tile images, tile numbers beyond the images, frames
// beyond the images, global frames of 256 and more) and on the poses and
// views where the arithmetic has its edges. Also the proof that the split
// reciprocal gives the quotient the plain renderer divides for.
#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "render/ground.h"
#include "render/fast/ground_fast.h"
#include "test_support.h"

namespace {

// The levels above the plain one that this CPU runs.
std::vector<int> FastLevels()
{
    std::vector<int> levels;
    for (int level = GroundSse2; level < GroundLevels; ++level)
        if (GroundLevelSupported(level))
            levels.push_back(level);
    return levels;
}

// A 2-byte image of random pixels, of any size.
BitmapPtr RandomImage(std::mt19937& random, int width, int height)
{
    BitmapPtr image(create_bitmap_ex(16, width, height));
    for (int y = 0; y < height; ++y) {
        uint16_t* line = reinterpret_cast<uint16_t*>(image->line[y]);
        for (int x = 0; x < width; ++x)
            line[x] = static_cast<uint16_t>(random());
    }
    return image;
}

// Tile images of every kind a map can hold: whole frames (one to five),
// widths that are not whole frames, images too low or too narrow to use,
// missing ones, one of 8 bits per pixel and a sub-bitmap whose rows lie
// further apart than its width.
BitmapPtr RandomTile(std::mt19937& random, std::vector<BitmapPtr>& parents)
{
    switch (random() % 10) {
    case 0:
        return RandomImage(random, 32 + static_cast<int>(random() % 100), 32 + static_cast<int>(random() % 9));
    case 1:
        return RandomImage(random, 1 + static_cast<int>(random() % 40), 1 + static_cast<int>(random() % 40));
    case 2:
        return BitmapPtr();
    case 3: {
        BitmapPtr paletted(create_bitmap_ex(8, 64, 32));
        clear_to_color(paletted.get(), 9);
        return paletted;
    }
    case 4:
        parents.push_back(RandomImage(random, 160, 32));
        return BitmapPtr(create_sub_bitmap(parents.back().get(), 32, 0, 64, 32));
    default:
        return RandomImage(random, 32 * (1 + static_cast<int>(random() % 5)), 32);
    }
}

// A map of random tiles and frames: mostly small tile numbers and frames,
// some far beyond the images; TileCount from 0 to beyond the images held.
// One map in four has more frames in use than the renderer copies into
// blocks, so that it reads them in place.
// `count` random tile images `width` wide, one frame high.
void GiveRandomTiles(std::mt19937& random, World& world, int count, int width)
{
    for (int tile = 0; tile < count; ++tile)
        world.Tiles.push_back(RandomImage(random, width, 32));
    world.TileCount = count;
}

void RandomMap(std::mt19937& random, World& world, std::vector<BitmapPtr>& parents)
{
    world.Tiles.clear();
    const int images = static_cast<int>(random() % 4 == 0 ? 70 + random() % 30 : random() % 7);
    for (int tile = 0; tile < images; ++tile)
        world.Tiles.push_back(RandomTile(random, parents));
    switch (random() % 4) {
    case 0:
        world.TileCount = static_cast<int32_t>(random() % 300) - 20;
        break;
    default:
        world.TileCount = images;
    }
    for (auto& column : world.Cells) {
        for (MapCell& cell : column) {
            cell.Tile = static_cast<uint8_t>(random() % 8 == 0 ? random() : random() % (images + 1));
            cell.Frame = static_cast<uint8_t>(random() % 8 == 0 ? random() : random() % 5);
        }
    }
    world.AnimFrame = static_cast<int32_t>(random() % 4 == 0 ? random() : random() % 6);
}

// Every cell: a tile below `tiles` and a frame below `frames`, at random.
void RandomCells(std::mt19937& random, World& world, int tiles, int frames)
{
    for (auto& column : world.Cells)
        for (MapCell& cell : column) {
            cell.Tile = static_cast<uint8_t>(random() % tiles);
            cell.Frame = static_cast<uint8_t>(random() % frames);
        }
}

// A back buffer of random pixels, 640 wide.
BitmapPtr RandomBackbuffer(std::mt19937& random, int height)
{
    return RandomImage(random, 640, height);
}

struct Pose {
    float x, y;
    int height, angle, horizon;
};

std::string Describe(const Pose& pose)
{
    return "pose (" + std::to_string(pose.x) + ", " + std::to_string(pose.y) + ") height " +
           std::to_string(pose.height) + " heading " + std::to_string(pose.angle) + " horizon " +
           std::to_string(pose.horizon);
}

// Draws the pose with the plain renderer and at `level` into two copies of
// the same back buffer and compares them whole. The view lies at (left, top)
// with the given height; its width is whatever ColumnBase leaves.
testing::AssertionResult SameAsPlain(const World& world, GroundRenderer& ground, int level, const Pose& pose, BITMAP* start, int left, int top,
                                     int viewHeight)
{
    // Two back buffers kept for every comparison (the start is 640 x 480).
    static BitmapPtr plain(create_bitmap_ex(16, 640, 480));
    static BitmapPtr fast(create_bitmap_ex(16, 640, 480));
    blit(start, plain.get(), 0, 0, 0, 0, start->w, start->h);
    blit(start, fast.get(), 0, 0, 0, 0, start->w, start->h);
    const int width = 640 - world.ColumnBase;
    BitmapPtr plainView(create_sub_bitmap(plain.get(), left, top, width, viewHeight));
    BitmapPtr fastView(create_sub_bitmap(fast.get(), left, top, width, viewHeight));

    world.DrawGround(plainView.get(), pose.x, pose.y, pose.height, pose.angle, pose.horizon);
    if (!ground.SetLevel(level))
        return testing::AssertionFailure() << GroundLevelName(level) << " refused";
    ground.Draw(world, fastView.get(), pose.x, pose.y, pose.height, pose.angle, pose.horizon);

    const size_t bytes = static_cast<size_t>(start->w) * 2;
    for (int y = 0; y < start->h; ++y) {
        if (std::memcmp(plain->line[y], fast->line[y], bytes) == 0)
            continue;
        int x = 0;
        while (PixelAt(plain.get(), x, y) == PixelAt(fast.get(), x, y))
            ++x;
        return testing::AssertionFailure()
               << GroundLevelName(level) << ", " << Describe(pose) << ", view " << width << " x " << viewHeight
               << " at (" << left << ", " << top << "): back buffer pixel (" << x << ", " << y << ") is "
               << PixelAt(fast.get(), x, y) << ", the plain renderer drew " << PixelAt(plain.get(), x, y);
    }
    return testing::AssertionSuccess();
}

float RandomPosition(std::mt19937& random)
{
    switch (random() % 6) {
    case 0:  // near the map's edges, where cells and texels wrap
        return static_cast<float>(static_cast<int>(random() % 3) * 2048 - 2) +
               std::uniform_real_distribution<float>(-3.0f, 3.0f)(random);
    case 1:
        return std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
    default:
        return std::uniform_real_distribution<float>(-3045.0f, 3045.0f)(random);
    }
}

// What the drawing tests start from: a world, a renderer and a random back
// buffer, the random numbers seeded by each test through Seed().
class GroundFast : public ::testing::Test {
protected:
    void Seed(unsigned seed)
    {
        random.seed(seed);
        start = RandomBackbuffer(random, 480);
    }

    std::mt19937 random;
    World world;
    GroundRenderer ground;
    BitmapPtr start;
};

}  // namespace

TEST_F(GroundFast, LevelsAreNamedAndOnlySupportedOnesAreTaken)
{
    EXPECT_EQ(ground.Level(), GroundBestLevel());
    EXPECT_TRUE(GroundLevelSupported(GroundPlain));
    EXPECT_TRUE(GroundLevelSupported(GroundBestLevel()));
    for (int level = 0; level < GroundLevels; ++level) {
        EXPECT_EQ(GroundLevelFromName(GroundLevelName(level)), level);
        EXPECT_EQ(ground.SetLevel(level), GroundLevelSupported(level)) << GroundLevelName(level);
        if (GroundLevelSupported(level)) {
            EXPECT_EQ(ground.Level(), level);
        }
    }
    EXPECT_EQ(GroundLevelFromName("avx9"), -1);
    EXPECT_EQ(GroundLevelFromName(nullptr), -1);
    ground.SetLevel(GroundPlain);
    EXPECT_FALSE(ground.SetLevel(GroundLevels));
    EXPECT_FALSE(ground.SetLevel(-1));
    EXPECT_EQ(ground.Level(), GroundPlain);
#if defined(__x86_64__)
    EXPECT_TRUE(GroundLevelSupported(GroundSse2));
    EXPECT_EQ(GroundLevelSupported(GroundAvx512), __builtin_cpu_supports("avx512f") &&
                                                      __builtin_cpu_supports("avx512bw") &&
                                                      __builtin_cpu_supports("avx512dq") &&
                                                      __builtin_cpu_supports("avx512vl"));
#endif
}

// The quotient Dc / k as each level's row stage forms it, for every float
// significand m (2^23 <= m < 2^24) and every k of the table, against the
// division. A float Dc is m times a power of two; scaling by powers of two
// commutes with every rounding here, as no value comes near the limits of
// double, and the sign is symmetric, so these cover every float Dc. Even k
// are covered by odd k, once the table is shown to halve exactly with every
// doubling of k.
namespace {

#if defined(__x86_64__)
__attribute__((target("avx512f"))) void DivideAvx512(const double* m, int count, double k, double* out)
{
    const __m512d divisor = _mm512_set1_pd(k);
    for (int i = 0; i < count; i += 8)
        _mm512_storeu_pd(out + i, _mm512_div_pd(_mm512_loadu_pd(m + i), divisor));
}

__attribute__((target("avx"))) void DivideAvx(const double* m, int count, double k, double* out)
{
    const __m256d divisor = _mm256_set1_pd(k);
    for (int i = 0; i < count; i += 4)
        _mm256_storeu_pd(out + i, _mm256_div_pd(_mm256_loadu_pd(m + i), divisor));
}
#endif

void Divide(const double* m, int count, double k, double* out)
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f"))
        return DivideAvx512(m, count, k, out);
    if (__builtin_cpu_supports("avx"))
        return DivideAvx(m, count, k, out);
#endif
    for (int i = 0; i < count; ++i)
        out[i] = m[i] / k;
}

std::vector<std::pair<int, GroundQuotientStage>> QuotientStages()
{
    std::vector<std::pair<int, GroundQuotientStage>> stages;
#if defined(__x86_64__)
    const GroundQuotientStage byLevel[] = {nullptr, GroundQuotientsSse2, GroundQuotientsAvx2, GroundQuotientsAvx512};
    for (int level : FastLevels())
        stages.emplace_back(level, byLevel[level]);
#endif
    return stages;
}

}  // namespace

TEST_F(GroundFast, SplitReciprocalGivesTheCorrectlyRoundedQuotient)
{
    const GroundReciprocalTable reciprocals;
    const GroundReciprocal* table = reciprocals.Entries;
    for (int k = 1; k <= GroundReciprocalRows; ++k) {
        // High has at most 26 significant bits: its product with a 24-bit
        // significand is exact.
        int exponent = 0;
        const double significand = std::frexp(table[k].High, &exponent);
        EXPECT_EQ(std::ldexp(significand, 26), std::trunc(std::ldexp(significand, 26))) << "k " << k;
        EXPECT_LT(std::fabs(table[k].Low), std::ldexp(table[k].High, -25)) << "k " << k;
        // Doubling k halves both parts exactly, so the quotients for 2k are
        // those for k, halved exactly.
        if (2 * k <= GroundReciprocalRows) {
            EXPECT_EQ(table[2 * k].High, table[k].High / 2) << "k " << k;
            EXPECT_EQ(table[2 * k].Low, table[k].Low / 2) << "k " << k;
        }
    }

    const auto stages = QuotientStages();
    ASSERT_FALSE(stages.empty());
    constexpr int Block = 1024;
    std::vector<double> m(Block), exact(Block), formed(Block);
    std::vector<int64_t> wrong(GroundLevels, 0);
    // Under AddressSanitizer, which slows every load and store, a quarter of
    // the significands spread over the whole range; the plain build takes
    // every one.
#if defined(__SANITIZE_ADDRESS__)
    constexpr int Stride = 4 * Block;
#else
    constexpr int Stride = Block;
#endif
    for (int first = 1 << 23; first < 1 << 24; first += Stride) {
        for (int i = 0; i < Block; ++i)
            m[i] = first + i;
        for (int k = 1; k <= GroundReciprocalRows; k += 2) {
            Divide(m.data(), Block, k, exact.data());
            for (const auto& [level, stage] : stages) {
                stage(m.data(), Block, table[k].High, table[k].Low, formed.data());
                // All values are positive and finite: equal bits, equal values.
                if (std::memcmp(formed.data(), exact.data(), Block * sizeof(double)) != 0)
                    for (int i = 0; i < Block; ++i)
                        wrong[level] += formed[i] != exact[i];
            }
        }
    }
    for (const auto& [level, stage] : stages)
        EXPECT_EQ(wrong[level], 0) << GroundLevelName(level);
}

TEST_F(GroundFast, MatchesThePlainRendererOnRandomMapsAndPoses)
{
    Seed(20261207);
    std::vector<BitmapPtr> parents;
    for (int map = 0; map < 60; ++map) {
        RandomMap(random, world, parents);
        for (int pose = 0; pose < 12; ++pose) {
            // Mostly the viewer's own view and horizon; sometimes any
            // ColumnBase, view height and horizon.
            const bool odd = random() % 4 == 0;
            world.ColumnBase = odd ? static_cast<int32_t>(random() % 640) : 160;
            const int viewHeight = odd ? 1 + static_cast<int>(random() % 300) : 180;
            const int top = static_cast<int>(random() % (481 - viewHeight));
            const int left = 640 - (640 - world.ColumnBase) - static_cast<int>(random() % (world.ColumnBase + 1));
            const Pose p{RandomPosition(random), RandomPosition(random), static_cast<int>(random() % 100),
                         static_cast<int>(random() % 2880),
                         odd ? static_cast<int>(random() % (viewHeight + 10)) - 5 : 100};
            for (int level : FastLevels())
                ASSERT_TRUE(SameAsPlain(world, ground, level, p, start.get(), left, top, viewHeight))
                    << "map " << map;
        }
    }
}

// More frames in use than the renderer copies into blocks: it reads them in
// place, all of one width or of several.
TEST_F(GroundFast, MatchesThePlainRendererWithFramesReadInPlace)
{
    Seed(11);
    for (bool oneWidth : {true, false}) {
        world.Tiles.clear();
        for (int tile = 0; tile < 90; ++tile)
            world.Tiles.push_back(RandomImage(random, oneWidth || tile % 3 ? 64 : 96, 32));
        world.TileCount = 90;
        RandomCells(random, world, 90, 3);
        for (int pose = 0; pose < 40; ++pose) {
            const Pose p{std::uniform_real_distribution<float>(-100.0f, 2148.0f)(random),
                         std::uniform_real_distribution<float>(-100.0f, 2148.0f)(random),
                         static_cast<int>(random() % 100), static_cast<int>(random() % 2880), 100};
            for (int level : FastLevels())
                ASSERT_TRUE(SameAsPlain(world, ground, level, p, start.get(), 0, 8, 180))
                    << (oneWidth ? "one width" : "two widths");
        }
    }
}

// Frames of one image 2^20 pixels wide, more of them in use than are copied
// into blocks: too far apart to read in place, so the plain renderer draws.
// Switching to that from frames copied into blocks, and back, must show each
// map as it is, never what the blocks held before.
TEST_F(GroundFast, FramesNeitherCopiedNorReadInPlace)
{
    Seed(12);
    const Pose pose{1000.0f, 1000.0f, 14, 700, 100};
    auto mixedWidths = [&] {
        world.Tiles.clear();
        world.Tiles.push_back(RandomImage(random, 64, 32));
        world.Tiles.push_back(RandomImage(random, 96, 32));
        world.TileCount = 2;
        RandomCells(random, world, 2, 3);
    };
    mixedWidths();
    for (int level : FastLevels())
        ASSERT_TRUE(SameAsPlain(world, ground, level, pose, start.get(), 0, 8, 180)) << "frames in blocks";

    BitmapPtr wide(create_bitmap_ex(16, 1 << 20, 32));
    ASSERT_TRUE(wide);
    clear_to_color(wide.get(), 0x1234);
    for (int frame = 0; frame < 100; ++frame)
        for (int texel = 0; texel < 64; ++texel)
            putpixel(wide.get(), frame * 32 + static_cast<int>(random() % 32), static_cast<int>(random() % 32),
                     static_cast<int>(random() & 0xFFFF));
    world.Tiles.clear();
    world.Tiles.push_back(std::move(wide));
    world.TileCount = 1;
    for (auto& column : world.Cells)
        for (MapCell& cell : column) {
            cell.Tile = 0;
            cell.Frame = static_cast<uint8_t>(random() % 100);
        }
    for (int level : FastLevels())
        ASSERT_TRUE(SameAsPlain(world, ground, level, pose, start.get(), 0, 8, 180)) << "frames neither";

    mixedWidths();
    for (int level : FastLevels())
        ASSERT_TRUE(SameAsPlain(world, ground, level, pose, start.get(), 0, 8, 180)) << "frames in blocks again";
}

TEST_F(GroundFast, MatchesThePlainRendererAtTheEdges)
{
    Seed(7);
    // Five usable tiles of four frames, then a map that uses all of them.
    GiveRandomTiles(random, world, 5, 128);
    RandomCells(random, world, 5, 4);

    const float places[] = {0.0f,    -0.0f,   0.5f,    -0.5f,   0.999f,   -0.999f,  1.0f,
                            -1.0f,   31.99f,  32.0f,   2047.9f, 2048.0f,  -2048.0f, 3045.0f,
                            -3045.0f, 1024.5f, 2e6f,   -2e6f,   GroundPositionLimit, -GroundPositionLimit};
    const int headings[] = {0, 1, 239, 240, 719, 720, 721, 1440, 2160, 2639, 2640, 2879};
    const int heights[] = {0, 1, 14, 99};
    int turn = 0;
    for (float x : places)
        for (float y : {0.5f, -0.5f, 1024.0f, -3045.0f, 3045.0f, 2048.0f})
            for (int heading : headings) {
                const Pose pose{x, y, heights[turn++ % 4], heading, 100};
                for (int level : FastLevels())
                    ASSERT_TRUE(SameAsPlain(world, ground, level, pose, start.get(), 10, 8, 180));
            }

    // Every horizon from above the view's top to below its bottom.
    for (int horizon = -3; horizon <= 183; ++horizon)
        for (int level : FastLevels())
            ASSERT_TRUE(SameAsPlain(world, ground, level, Pose{480.0f, 480.0f, 14, (7 * horizon + 2880) % 2880, horizon}, start.get(), 10,
                                    8, 180));
    // Horizons so far up that k passes the reciprocal table and the rows
    // divide, on a view as tall as the back buffer.
    for (int horizon : {-GroundReciprocalRows - 200, -GroundReciprocalRows + 1, -GroundReciprocalRows - 1,
                        -GroundReciprocalRows + 100, -100000})
        for (int level : FastLevels())
            ASSERT_TRUE(SameAsPlain(world, ground, level, Pose{480.0f, 480.0f, 99, 100, horizon}, start.get(), 0, 0, 480));
    // Every ColumnBase, with the whole width from column 0.
    for (int base = 0; base < 640; base += 37) {
        world.ColumnBase = base;
        for (int level : FastLevels())
            ASSERT_TRUE(SameAsPlain(world, ground, level, Pose{-0.5f, 2047.5f, 99, 1500, 50}, start.get(), 0, 100, 200));
    }
    world.ColumnBase = 639;
    for (int level : FastLevels())
        ASSERT_TRUE(SameAsPlain(world, ground, level, Pose{100.0f, 100.0f, 14, 0, 10}, start.get(), 0, 0, 40));
}

// Ground points that land exactly on a whole unit: x + Dc / k an integer,
// so that a quotient one unit in the last place too low truncates to the
// unit below. Random poses almost never meet one; here every pose has a
// column and a row that do, found from the tables the renderer reads.
TEST_F(GroundFast, MatchesThePlainRendererOnExactUnitBorders)
{
    Seed(11);
    GiveRandomTiles(random, world, 3, 64);
    RandomCells(random, world, 3, 2);

    int borders = 0;
    for (int heading = 0; heading < AngleSteps && borders < 400; heading += 7) {
        const int height = 1 + heading % 99;
        for (int n = static_cast<int>(random() % 40); n < 480; n += 40) {
            const int a = (heading - 240 + n + AngleSteps) % AngleSteps;
            const int r = (n - 240 + AngleSteps) % AngleSteps;
            const double d = static_cast<double>(ViewHeight[height]) * RCosTable[r];
            const bool alongX = n % 2 == 0;
            const float reach = static_cast<float>(d * (alongX ? CosTable[a] : SinTable[a]));
            for (int k = 3; k < 78; k += 2) {
                const double q = static_cast<double>(reach) / k;
                if (reach == 0.0f || std::fma(q, k, -static_cast<double>(reach)) != 0.0)
                    continue;  // not an exact quotient
                // x = N - q, or y = N + q, for a whole N near 500.
                const double whole = alongX ? std::floor(500.0 + q) : std::floor(500.0 - q);
                const double place = alongX ? whole - q : whole + q;
                const float position = static_cast<float>(place);
                if (static_cast<double>(position) != place ||
                    (alongX ? position + q : position - q) != whole)
                    continue;
                const Pose pose{alongX ? position : 480.5f, alongX ? 480.5f : position, height, heading, 100};
                for (int level : FastLevels())
                    ASSERT_TRUE(SameAsPlain(world, ground, level, pose, start.get(), 10, 8, 180)) << "ray " << n << " k " << k;
                ++borders;
                break;
            }
        }
    }
    EXPECT_GE(borders, 400);
}

// The fast renderer keeps its texel table from one draw to the next; every
// change that the plain renderer would show must show at once.
TEST_F(GroundFast, ChangesBetweenDrawsShowAtOnce)
{
    Seed(99);
    GiveRandomTiles(random, world, 4, 96);
    const Pose pose{1000.0f, 1000.0f, 60, 300, 100};
    const Pose outside{-500.0f, -500.0f, 14, 1440, 100};

    auto check = [&](const char* change) {
        for (int level : FastLevels()) {
            EXPECT_TRUE(SameAsPlain(world, ground, level, pose, start.get(), 10, 8, 180)) << change;
            EXPECT_TRUE(SameAsPlain(world, ground, level, outside, start.get(), 10, 8, 180)) << change;
        }
    };
    check("first draw");
    for (auto& column : world.Cells)
        for (MapCell& cell : column)
            cell.Frame = 2;
    check("every frame");
    world.Cells[30][30].Tile = 3;
    world.Cells[31][30].Frame = 1;
    check("one cell");
    world.AnimFrame = 2;
    check("global frame");
    world.AnimFrame = 258;
    check("global frame past 255");
    world.Tiles[3] = RandomImage(random, 96, 32);
    check("a tile image replaced");
    world.Tiles[2] = RandomImage(random, 64, 32);
    check("a tile image of another width");
    world.Tiles[1] = RandomImage(random, 20000, 32);
    check("a tile image wider than the compact form takes");
    world.Tiles[1] = RandomImage(random, 30, 32);
    check("an unusable tile image");
    world.TileCount = 2;
    check("fewer tiles");
    world.TileCount = 0;
    check("no tiles");
    world.TileCount = 4;
    reinterpret_cast<uint16_t*>(world.Tiles[0]->line[5])[7] ^= 0x5555;
    check("a texel changed");
}

TEST_F(GroundFast, RefusesWhatThePlainRendererRefuses)
{
    random.seed(3);
    world.Tiles.push_back(RandomImage(random, 32, 32));
    world.TileCount = 1;
    BitmapPtr back = MakeSolidBitmap(640, 480, 0x7777);
    BitmapPtr narrow(create_sub_bitmap(back.get(), 0, 0, 400, 180));
    BitmapPtr alone = MakeSolidBitmap(480, 180, 0x7777);
    BitmapPtr view(create_sub_bitmap(back.get(), 10, 8, 480, 180));
    for (int level : FastLevels()) {
        ground.SetLevel(level);
        EXPECT_DEBUG_DEATH(ground.Draw(world, narrow.get(), 480.0f, 480.0f, 14, 0, 100), "view");
        EXPECT_DEBUG_DEATH(ground.Draw(world, alone.get(), 480.0f, 480.0f, 14, 0, 100), "view");
        EXPECT_DEBUG_DEATH(ground.Draw(world, view.get(), 480.0f, 480.0f, 14, 2880, 100), "");
        EXPECT_DEBUG_DEATH(ground.Draw(world, view.get(), 480.0f, 480.0f, 100, 0, 100), "");
        EXPECT_DEBUG_DEATH(ground.Draw(world, view.get(), NAN, 480.0f, 14, 0, 100), "");
        EXPECT_DEBUG_DEATH(ground.Draw(world, view.get(), 480.0f, 3.0e9f, 14, 0, 100), "");
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                ASSERT_EQ(PixelAt(back.get(), x, y), 0x7777) << GroundLevelName(level);
    }
}
