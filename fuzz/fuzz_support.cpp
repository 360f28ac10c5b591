// Shared start-up and checks of the fuzz targets.
#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "render/frame.h"

void Require(bool condition, const std::string& what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

const char* const FuzzImages[] = {"a.bmp", "b.bmp", "s.bmp", nullptr};

static std::string ScratchPath;

static void RemoveScratch()
{
    if (ScratchPath.empty())
        return;
    for (int i = 0; FuzzImages[i]; i++)
        unlink((ScratchPath + "/" + FuzzImages[i]).c_str());
    // Files the targets write themselves.
    unlink((ScratchPath + "/fuzz.lst").c_str());
    unlink((ScratchPath + "/fuzz.tmx").c_str());
    unlink((ScratchPath + "/fuzz.tmj").c_str());
    rmdir(ScratchPath.c_str());
}

// A 16-bit image whose pixels differ from each other, saved as a BMP file.
static void WriteImage(const char* name, int width, int height)
{
    BitmapPtr image(create_bitmap_ex(16, width, height));
    Require(image != nullptr, std::string("cannot make the image ") + name);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            reinterpret_cast<uint16_t*>(image->line[y])[x] = static_cast<uint16_t>(x * 37 + y * 1021 + 1);
    Require(save_bitmap(name, image.get(), nullptr) == 0, std::string("cannot write the image ") + name);
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Error error;
    Require(StartAllegroHeadless(error), "cannot start Allegro: " + error.Reason);
    BuildTables();

    char path[] = "/tmp/groundview-fuzz-XXXXXX";
    Require(mkdtemp(path) != nullptr, "cannot make a scratch directory");
    ScratchPath = path;
    Require(chdir(path) == 0, "cannot enter the scratch directory");
    std::atexit(RemoveScratch);
    WriteImage("a.bmp", 64, 32);
    WriteImage("b.bmp", 1, 1);
    WriteImage("s.bmp", 300, 40);
    return 0;
}

void MarkWorld(World& world)
{
    uint8_t* cells = reinterpret_cast<uint8_t*>(world.Cells);
    for (size_t i = 0; i < sizeof world.Cells; i++)
        cells[i] = static_cast<uint8_t>(i * 7 + 3);
    for (int k = 0; k < MaxTiles; k++) {
        std::memset(world.TileNames[k], 'j', NameSlotSize);
        std::snprintf(world.TileNames[k], NameSlotSize, "marked-%d", k);
    }
    std::memset(world.SkyName, 'k', NameSlotSize);
    std::strcpy(world.SkyName, "marked-sky");
    world.Tiles.clear();
    world.Tiles.emplace_back(create_bitmap(CellSize, CellSize));
    clear_to_color(world.Tiles[0].get(), 0x1234);
    world.TileCount = 1;
    world.Sky.reset(create_bitmap(50, 20));
    clear_to_color(world.Sky.get(), 0x4321);
    world.AnimFrame = 5;
    world.AnimLastFrame = 9;
    world.AnimDelay = 2;
    world.AnimTick = 1;
    world.ExtraFloat = 1.25f;
}

template <class T>
static void Append(std::vector<uint8_t>& bytes, const T& value)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof value);
}

WorldCopy::WorldCopy(const World& world) : sky(world.Sky.get())
{
    Append(bytes, world.Cells);
    Append(bytes, world.TileNames);
    Append(bytes, world.SkyName);
    Append(bytes, world.TileCount);
    Append(bytes, world.ColumnBase);
    Append(bytes, world.AnimFrame);
    Append(bytes, world.AnimLastFrame);
    Append(bytes, world.AnimDelay);
    Append(bytes, world.AnimTick);
    Append(bytes, world.ExtraFloat);
    for (const BitmapPtr& tile : world.Tiles)
        tiles.push_back(tile.get());
}

bool WorldCopy::Same(const World& world) const
{
    const WorldCopy now(world);
    return bytes == now.bytes && tiles == now.tiles && sky == now.sky;
}

CheckedFrame MakeCheckedFrame()
{
    CheckedFrame frame;
    frame.Backbuffer.reset(create_bitmap_ex(16, FrameWidth, FrameHeight));
    Require(frame.Backbuffer != nullptr, "cannot make a back buffer");
    frame.View = MakeView(frame.Backbuffer.get());
    Require(frame.View != nullptr, "cannot make the view");
    return frame;
}

void FillCanary(const CheckedFrame& frame)
{
    clear_to_color(frame.Backbuffer.get(), Canary);
}

// True when `count` pixels from `row` on all hold the canary. One memcmp,
// so that the fuzzer's comparison tracing does not see every pixel.
static bool Untouched(const uint16_t* row, int count)
{
    static const std::vector<uint16_t> canaries(FrameWidth, Canary);
    return std::memcmp(row, canaries.data(), 2 * static_cast<size_t>(count)) == 0;
}

void RequireOnlyViewWritten(const CheckedFrame& frame, bool lastRowKept, const char* who)
{
    BITMAP* back = frame.Backbuffer.get();
    for (int y = 0; y < FrameHeight; y++) {
        const uint16_t* row = reinterpret_cast<const uint16_t*>(back->line[y]);
        bool clean;
        if (y < ViewTop || y >= ViewTop + ViewRows || (lastRowKept && y == ViewTop + ViewRows - 1))
            clean = Untouched(row, FrameWidth);
        else
            clean = Untouched(row, ViewLeft) &&
                    Untouched(row + ViewLeft + ViewWidth, FrameWidth - ViewLeft - ViewWidth);
        Require(clean, std::string(who) + " wrote outside the view, in back buffer row " + std::to_string(y));
    }
}

void DrawAndCompare(const World& world, float x, float y, int height, int angle, int horizon)
{
    static const CheckedFrame plain = MakeCheckedFrame();
    static const CheckedFrame fast = MakeCheckedFrame();
    const bool lastRowKept = horizon < ViewRows - 1;

    FillCanary(plain);
    world.DrawSky(plain.View.get(), x, y, height, angle, horizon);
    RequireOnlyViewWritten(plain, lastRowKept, "DrawSky");
    world.DrawGround(plain.View.get(), x, y, height, angle, horizon);
    RequireOnlyViewWritten(plain, lastRowKept, "DrawGround");

    FillCanary(fast);
    world.DrawSky(fast.View.get(), x, y, height, angle, horizon);
    GroundRenderer ground;
    ground.Draw(world, fast.View.get(), x, y, height, angle, horizon);
    for (int row = 0; row < FrameHeight; row++)
        Require(std::memcmp(plain.Backbuffer->line[row], fast.Backbuffer->line[row], 2 * FrameWidth) == 0,
                "the fast renderer and DrawGround differ in back buffer row " + std::to_string(row) + " (x " +
                    std::to_string(x) + ", y " + std::to_string(y) + ", height " + std::to_string(height) +
                    ", angle " + std::to_string(angle) + ", horizon " + std::to_string(horizon) + ")");
}
