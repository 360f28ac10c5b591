// A map's images against their budget: an image named by many slots is
// decoded once and shared (through the real boardtool, measured), and the
// images of one map together hold at most their budget, the one past it
// refused by name.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>  // Required for: compress(), crc32() of the PNG files made here

#include <chrono>

#include "image/image_file.h"
#include "test_support.h"

namespace {

// AddressSanitizer slows every load and store: times are held to a bound
// this many times longer there.
#if defined(__SANITIZE_ADDRESS__)
constexpr double Slower = 4;
#else
constexpr double Slower = 1;
#endif

// A blank grey PNG of `width` x `height`: a few kilobytes for millions of pixels.
Bytes BlankPng(uint32_t width, uint32_t height)
{
    const Bytes raw(size_t(width + 1) * height, 0);
    uLongf packedSize = compressBound(uLong(raw.size()));
    Bytes packed(packedSize);
    EXPECT_EQ(compress(packed.data(), &packedSize, raw.data(), uLong(raw.size())), Z_OK);
    packed.resize(packedSize);
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto put32 = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            png.push_back(uint8_t(v >> s));
    };
    auto chunk = [&](const char* type, const Bytes& data) {
        Bytes body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        put32(uint32_t(data.size()));
        png.insert(png.end(), body.begin(), body.end());
        put32(uint32_t(crc32(0, body.data(), uInt(body.size()))));
    };
    Bytes header;
    for (uint32_t v : {width, height})
        for (int s = 24; s >= 0; s -= 8)
            header.push_back(uint8_t(v >> s));
    header.insert(header.end(), {8, 0, 0, 0, 0});
    chunk("IHDR", header);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return png;
}

// A tile list of `names`.
void WriteList(const std::string& path, const std::vector<std::string>& names)
{
    std::string text = std::to_string(names.size());
    for (const std::string& name : names)
        text += " " + name;
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

struct Measured {
    int status = -1;
    std::string out;
    double seconds = 0;
    long peakKb = 0;  // the largest resident set the program had
};

// Runs boardtool with `args` in a process of its own and measures it.
Measured RunBoardtool(const std::vector<std::string>& args)
{
    Measured m;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open("measured.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        const std::string program = ProgramPath("boardtool");
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.peakKb = usage.ru_maxrss;
    const Bytes out = ReadBytes("measured.out");
    m.out.assign(out.begin(), out.end());
    return m;
}

}  // namespace

// 4096 x 4096 pixels named by 99 slots: 16 MB of 16-bit bitmap once, not
// 99 times (1.6 GB, and 99 decodes).
TEST(MapImages, AnImageNamedByManySlotsIsDecodedOnce)
{
    ScratchDir dir;
    WriteBytes("big.png", BlankPng(4096, 4096));
    SaveImage("t0.bmp", MakeSolidBitmap(32, 32, 0x1234).get());
    std::vector<std::string> names{"t0.bmp"};
    names.insert(names.end(), 99, "big.png");
    WriteList("tiles.txt", names);
    ASSERT_EQ(RunCommand(Boardtool("new tiles.txt big.brd")).status, 0);

    const Measured check = RunBoardtool({"check", "big.brd"});
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_LT(check.peakKb, 1 << 20) << "KB at the most, for " << check.out;
    EXPECT_LT(check.seconds, 10.0 * Slower);

    World world;
    ASSERT_EQ(world.LoadMap("big.brd"), 0) << world.LastError();
    ASSERT_EQ(world.Tiles.size(), 100u);
    for (size_t k = 1; k < 100; k++) {
        ASSERT_TRUE(world.Tiles[k] && world.Tiles[k]->w == 4096 && world.Tiles[k]->h == 4096);
        EXPECT_EQ(world.Tiles[k]->line[4095], world.Tiles[1]->line[4095]) << "tile " << k << " has pixels of its own";
    }
    // Each slot's bitmap is its own: dropping some leaves the others whole.
    world.Tiles.resize(50);
    EXPECT_EQ(PixelAt(world.Tiles[49].get(), 4095, 4095), PixelAt(world.Tiles[1].get(), 0, 0));
}

// Different files count each, the same file once: past the budget, the
// next image is refused by name before it is decoded, and the refusal
// stays with every slot that names it.
TEST(MapImages, TheImagesOfAMapHaveABudget)
{
    ScratchDir dir;
    SaveImage("a.bmp", MakeSolidBitmap(32, 32, 0x1234).get());
    SaveImage("b.bmp", MakeSolidBitmap(32, 32, 0x4321).get());
    SaveImage("wide.bmp", MakeSolidBitmap(64, 32, 0x1111).get());
    MapImages images(3000);  // room for two 32 x 32 images, not three
    Error error;
    EXPECT_TRUE(images.Load("a.bmp", error));
    for (int k = 0; k < 5; k++)
        EXPECT_TRUE(images.Load("a.bmp", error)) << "counted again";
    EXPECT_TRUE(images.Load("b.bmp", error));
    for (int k = 0; k < 2; k++) {
        EXPECT_FALSE(images.Load("wide.bmp", error));
        EXPECT_EQ(error.Message(), "wide.bmp: past the map's budget: 64 x 32 pixels, more than the 952 its images have left");
    }
    EXPECT_TRUE(images.Load("b.bmp", error));
    EXPECT_EQ(MapImages().Load("wide.bmp", error)->w, 64) << "the map's own budget: " << MaxMapPixels;
}
