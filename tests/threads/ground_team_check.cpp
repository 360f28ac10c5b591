// The fast ground renderer on two threads under ThreadSanitizer: the helper
// thread reads what the drawing thread set up and writes rows of the view
// that the drawing thread reads after the draw. Every draw must equal the
// plain renderer's, and the sanitizer must find no race, whether the helper
// is awake or has to be woken.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "ground_fast.h"
#include "ground_team.h"
#include "tables.h"
#include "world.h"

namespace {

BitmapPtr RandomImage(std::mt19937& random, int width, int height)
{
    BitmapPtr image(create_bitmap_ex(16, width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            reinterpret_cast<uint16_t*>(image->line[y])[x] = static_cast<uint16_t>(random());
    return image;
}

// Chunks that write plain memory the caller reads after the draw.
struct Chunks {
    int Values[64];
    std::thread::id RunBy[64];
};

void WriteChunk(void* context, int chunk)
{
    Chunks& chunks = *static_cast<Chunks*>(context);
    chunks.Values[chunk] = chunk + 1;
    chunks.RunBy[chunk] = std::this_thread::get_id();
    // Long enough for the helper to claim some.
    std::this_thread::sleep_for(std::chrono::microseconds(20));
}

}  // namespace

int main()
{
    std::string error;
    if (!StartAllegroHeadless(error)) {
        std::fprintf(stderr, "cannot start Allegro: %s\n", error.c_str());
        return 1;
    }
    BuildTables();
    SetGroundThreads(2);

    int byHelper = 0;
    for (int job = 0; job < 300; ++job) {
        Chunks chunks;
        std::memset(chunks.Values, 0, sizeof chunks.Values);
        const int count = 2 + job % 60;
        RunGroundChunks(WriteChunk, &chunks, count);
        for (int chunk = 0; chunk < count; ++chunk) {
            if (chunks.Values[chunk] != chunk + 1) {
                std::fprintf(stderr, "job %d: chunk %d did not run\n", job, chunk);
                return 1;
            }
            byHelper += chunks.RunBy[chunk] != std::this_thread::get_id();
        }
        if (job % 30 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (byHelper == 0) {
        std::fprintf(stderr, "the helper thread never ran a chunk\n");
        return 1;
    }

    std::mt19937 random(5);
    World world;
    for (int tile = 0; tile < 6; ++tile)
        world.Tiles.push_back(RandomImage(random, tile % 2 ? 128 : 32, 32));
    world.TileCount = 6;
    for (auto& column : world.Cells)
        for (MapCell& cell : column) {
            cell.Tile = static_cast<uint8_t>(random() % 6);
            cell.Frame = static_cast<uint8_t>(random() % 4);
        }

    // Draws back to back, as frames drawn as fast as they can be, so that
    // the helper joins in; then the same poses drawn by the plain renderer.
    constexpr int Burst = 4;
    BitmapPtr plain(create_bitmap_ex(16, 640, 480));
    BitmapPtr plainView(create_sub_bitmap(plain.get(), 160, 20, 480, 180));
    BitmapPtr fast[Burst];
    BitmapPtr fastView[Burst];
    for (int i = 0; i < Burst; ++i) {
        fast[i].reset(create_bitmap_ex(16, 640, 480));
        fastView[i].reset(create_sub_bitmap(fast[i].get(), 160, 20, 480, 180));
    }
    world.ColumnBase = 160;
    const uint64_t helped = GroundHelperChunks();
    const int bursts = 100;
    for (int burst = 0; burst < bursts; ++burst) {
        struct {
            float x, y;
            int height, angle;
        } poses[Burst];
        for (auto& pose : poses) {
            pose.x = std::uniform_real_distribution<float>(-200.0f, 2200.0f)(random);
            pose.y = std::uniform_real_distribution<float>(-200.0f, 2200.0f)(random);
            pose.height = static_cast<int>(random() % 100);
            pose.angle = static_cast<int>(random() % 2880);
        }
        for (int i = 0; i < Burst; ++i)
            world.DrawGround(fastView[i].get(), poses[i].x, poses[i].y, poses[i].height, poses[i].angle, 100);
        for (int i = 0; i < Burst; ++i) {
            world.DrawGroundPlain(plainView.get(), poses[i].x, poses[i].y, poses[i].height, poses[i].angle, 100);
            for (int row = 0; row < 480; ++row)
                if (std::memcmp(plain->line[row], fast[i]->line[row], 640 * 2) != 0) {
                    std::fprintf(stderr, "burst %d, draw %d: row %d differs from the plain renderer's\n", burst, i,
                                 row);
                    return 1;
                }
        }
        // Now and then long enough for the helper to fall asleep.
        if (burst % 10 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (GroundHelperChunks() == helped) {
        std::fprintf(stderr, "the helper thread never drew\n");
        return 1;
    }
    std::printf("helper ran %d chunks, then %llu chunks of %d draws, all equal to the plain renderer's\n",
                byHelper, static_cast<unsigned long long>(GroundHelperChunks() - helped), bursts * Burst);
    return 0;
}
