// The renderers on arbitrary well-formed maps: any cells, tile images of any
// size and depth (1 x 1, a single frame, many frames, a window into a larger
// bitmap), any sky, any pose within the map's reach and beyond, any horizon,
// any animation state and ticks. Sky and ground are drawn into the view of a
// 640 x 480 back buffer: AddressSanitizer catches a read or write outside an
// image, the canary around the view a write outside the view inside the back
// buffer, and the fast ground renderer must draw what the plain one draws.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "fuzz_support.h"

namespace {

// Positions where the arithmetic changes: the map's edges, cell borders,
// zero from both sides, the pose's bounds.
constexpr float EdgePositions[] = {0.0f, -0.0f, -0.5f, -1.0f, 0.999f, 31.999f, 32.0f, 2047.999f, 2048.0f,
                                   2048.5f, -3045.0f, 3045.0f, 1024.0f};

int PickDepth(FuzzedDataProvider& in)
{
    // Mostly the depth images are converted to; now and then one the
    // renderers must refuse to read as 16-bit texels, or convert.
    static constexpr int Depths[] = {16, 16, 16, 16, 15, 8, 24, 32};
    return Depths[in.ConsumeIntegralInRange<size_t>(0, sizeof Depths / sizeof Depths[0] - 1)];
}

// A bitmap of the given size and depth whose pixels follow a pattern from
// the input; sometimes a window into a wider and taller parent, which then
// lands in `parents` and must outlive it.
BitmapPtr MakeImage(FuzzedDataProvider& in, int w, int h, bool everyPixel, std::vector<BitmapPtr>& parents)
{
    const int depth = PickDepth(in);
    const uint32_t seed = in.ConsumeIntegral<uint32_t>();
    BitmapPtr image;
    if (in.ConsumeBool()) {
        const int left = in.ConsumeIntegralInRange(0, 7);
        const int top = in.ConsumeIntegralInRange(0, 7);
        BitmapPtr parent(create_bitmap_ex(depth, w + left + in.ConsumeIntegralInRange(0, 7),
                                          h + top + in.ConsumeIntegralInRange(0, 7)));
        Require(parent != nullptr, "cannot make a parent bitmap");
        clear_to_color(parent.get(), static_cast<int>(seed & 0x7FFF));
        image.reset(create_sub_bitmap(parent.get(), left, top, w, h));
        parents.push_back(std::move(parent));
    } else {
        image.reset(create_bitmap_ex(depth, w, h));
    }
    Require(image != nullptr, "cannot make an image");
    // Every texel of a tile differs from its neighbours, so that a texel read
    // from the wrong place shows; a sky gets one colour a row, which is
    // quicker to fill at its size and enough for its plain copy.
    for (int y = 0; y < h; y++) {
        if (!everyPixel) {
            hline(image.get(), 0, y, w - 1, static_cast<int>((seed + y * 40503u) & 0x7FFF));
            continue;
        }
        const uint32_t rowSeed = seed + y * 40503u;
        if (depth == 15 || depth == 16) {
            uint16_t* row = reinterpret_cast<uint16_t*>(image->line[y]);
            for (int x = 0; x < w; x++)
                row[x] = static_cast<uint16_t>((rowSeed + x * 2654435761u) & 0x7FFF);
        } else {
            for (int x = 0; x < w; x++)
                putpixel(image.get(), x, y, static_cast<int>((rowSeed + x * 2654435761u) & 0x7FFF));
        }
    }
    return image;
}

// Most sizes are found quickly only when asked for: whole frames exactly
// 32 rows high, as tiles are drawn (the last texel row is then the last row
// of the image), a pixel more or less either way, the smallest images, and
// anything at all.
void PickTileSize(FuzzedDataProvider& in, int& w, int& h)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        w = CellSize * in.ConsumeIntegralInRange(1, 4);
        h = CellSize;
        break;
    case 1:
        w = CellSize * in.ConsumeIntegralInRange(1, 4) + in.ConsumeIntegralInRange(-1, 1);
        h = CellSize + in.ConsumeIntegralInRange(-1, 1);
        break;
    case 2:
        w = in.ConsumeIntegralInRange(1, 2);
        h = in.ConsumeIntegralInRange(1, 2);
        break;
    default:
        w = in.ConsumeIntegralInRange(1, 300);
        h = in.ConsumeIntegralInRange(1, 70);
        break;
    }
}

float PickPosition(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return EdgePositions[in.ConsumeIntegralInRange<size_t>(0, sizeof EdgePositions / sizeof(float) - 1)];
    case 1: {
        // Any float at all, NaN and infinities included: the renderer must
        // refuse what it cannot draw.
        const uint32_t bits = in.ConsumeIntegral<uint32_t>();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    default:
        return in.ConsumeFloatingPointInRange(-3045.0f, 3045.0f);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::vector<BitmapPtr> parents;  // destroyed after the World's images
    World world;

    // Tiles: a handful of images of any size, 1 x 1 up to several frames.
    const int tiles = in.ConsumeIntegralInRange(0, 10);
    for (int k = 0; k < tiles; k++) {
        int w, h;
        PickTileSize(in, w, h);
        world.Tiles.push_back(MakeImage(in, w, h, true, parents));
    }
    world.TileCount = tiles;

    // Cells: a few records repeated over the whole map in an order that
    // mixes neighbours, every byte of each record from the input.
    const int records = in.ConsumeIntegralInRange(1, 32);
    std::vector<MapCell> cells(static_cast<size_t>(records));
    for (MapCell& cell : cells) {
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(sizeof cell);
        std::memset(&cell, 0, sizeof cell);
        if (!bytes.empty())
            std::memcpy(&cell, bytes.data(), bytes.size());
    }
    const int stride = in.ConsumeIntegralInRange(1, 97);
    for (int i = 0; i < MapSize * MapSize; i++)
        world.Cells[i / MapSize][i % MapSize] = cells[static_cast<size_t>(i * stride % records)];

    world.AnimFrame = in.ConsumeIntegral<int32_t>();
    world.AnimLastFrame = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(0, 8);
    world.AnimDelay = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(0, 4);
    world.AnimTick = in.ConsumeIntegral<int32_t>();

    // The sky: absent now and then, otherwise any size up to a little more
    // than a whole turn and well below the view.
    if (in.ConsumeIntegralInRange(0, 15) != 0) {
        const int w = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 100) : in.ConsumeIntegralInRange(1, 3200);
        const int h = in.ConsumeIntegralInRange(1, 260);
        world.Sky = MakeImage(in, w, h, false, parents);
    }

    // Every counter may start anywhere, so a few ticks reach every state
    // that any number of ticks could.
    const int ticks = in.ConsumeIntegralInRange(0, 40);
    for (int t = 0; t < ticks; t++)
        world.AnimateTiles();

    const float x = PickPosition(in);
    const float y = PickPosition(in);
    const int height = in.ConsumeIntegralInRange(0, HeightSteps - 1);
    const int angle = in.ConsumeIntegralInRange(0, AngleSteps - 1);
    const int horizon = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange(-200, 400);
    DrawAndCompare(world, x, y, height, angle, horizon);
    return 0;
}
