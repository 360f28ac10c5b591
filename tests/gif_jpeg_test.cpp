// GIF and JPEG images against ImageMagick: files made by its `convert`
// decode to the pixels `convert` itself reads back (a JPEG within the
// decoders' rounding), as tiles and as skies; an animated GIF gives its
// first picture and `boardtool check` says so; a GIF index past its colour
// table is refused.
#include <gtest/gtest.h>

#include <cstdlib>

#include "image/image_file.h"
#include "test_support.h"

namespace {

bool HaveConvert()
{
    return RunCommand("convert -version").status == 0;
}

// A 64 x 48 picture of 12 flat blocks of distinct colours (a GIF holds them
// exactly) or a smooth gradient (for JPEG), as raw RGB for `convert`.
Bytes Picture(bool blocks, int shift = 0)
{
    Bytes rgb;
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) {
            if (blocks) {
                const int b = (y / 16) * 4 + (x / 16) + shift;
                rgb.insert(rgb.end(), {uint8_t(b * 20), uint8_t(255 - b * 17), uint8_t((b * 97) & 255)});
            } else {
                rgb.insert(rgb.end(), {uint8_t(x * 4), uint8_t(y * 5), uint8_t((x + y) * 2)});
            }
        }
    return rgb;
}

// Makes `out` with convert from raw RGB pictures (several: an animation).
void Convert(const std::vector<Bytes>& pictures, const std::string& options, const std::string& out)
{
    std::string inputs;
    for (size_t k = 0; k < pictures.size(); k++) {
        const std::string name = "in" + std::to_string(k) + ".rgb";
        WriteBytes(name, pictures[k]);
        inputs += " " + name;
    }
    const CommandResult made =
        RunCommand("convert -size 64x48 -depth 8" + inputs + " " + options + " " + out);
    ASSERT_EQ(made.status, 0) << made.err;
}

// The RGBA pixels ImageMagick reads from the first picture of `file`.
Bytes Reference(const std::string& file)
{
    const CommandResult read = RunCommand("convert '" + file + "[0]' -depth 8 rgba:reference.rgba");
    EXPECT_EQ(read.status, 0) << read.err;
    return ReadBytes("reference.rgba");
}

// The largest difference of any channel between our pixels and ImageMagick's,
// colours compared only where both are opaque.
int LargestDifference(const Image& image, const Bytes& reference)
{
    EXPECT_EQ(image.Rgba.size(), reference.size());
    if (image.Rgba.size() != reference.size())
        return 256;
    int largest = 0;
    for (size_t i = 0; i < reference.size(); i += 4) {
        largest = std::max(largest, std::abs(int(image.Rgba[i + 3]) - int(reference[i + 3])));
        if (reference[i + 3] == 0)
            continue;
        for (size_t c = 0; c < 3; c++)
            largest = std::max(largest, std::abs(int(image.Rgba[i + c]) - int(reference[i + c])));
    }
    return largest;
}

Image Decoded(const std::string& file)
{
    Image image;
    Error error;
    EXPECT_TRUE(DecodeImageFile(file.c_str(), AllegroReaders(), image, error)) << error.Message();
    return image;
}

}  // namespace

TEST(GifJpeg, FilesDecodeAsImageMagickReadsThem)
{
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick's convert is not installed (tools/install-deps.sh test)";
    ScratchDir dir;
    struct Case {
        const char* file;
        bool blocks;
        const char* options;
        int tolerance;
    };
    const Case cases[] = {
        {"plain.gif", true, "", 0},
        {"interlaced.gif", true, "-interlace GIF", 0},
        {"clear.gif", true, "-transparent 'rgb(20,238,97)'", 0},
        {"photo.jpg", false, "-quality 90", 2},
        {"progressive.jpg", false, "-quality 75 -interlace JPEG", 2},
        {"grey.jpg", false, "-colorspace Gray", 2},
        {"small.jpg", false, "-sampling-factor 2x2 -quality 60", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Convert({Picture(c.blocks)}, c.options, c.file);
        const Image image = Decoded(c.file);
        EXPECT_EQ(image.Width, 64);
        EXPECT_EQ(image.Height, 48);
        EXPECT_LE(LargestDifference(image, Reference(c.file)), c.tolerance);
        EXPECT_EQ(image.HasAlpha, std::string(c.file) == "clear.gif");
        EXPECT_EQ(image.Frames, 1);
    }
}

// A JPEG cut short is refused, not shown with grey where its data ended.
TEST(GifJpeg, AJpegCutShortIsRefused)
{
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick's convert is not installed (tools/install-deps.sh test)";
    ScratchDir dir;
    Convert({Picture(false)}, "-quality 90", "whole.jpg");
    Bytes cut = ReadBytes("whole.jpg");
    cut.resize(cut.size() / 2);
    WriteBytes("cut.jpg", cut);
    Image image;
    Error error;
    EXPECT_FALSE(DecodeImageFile("cut.jpg", AllegroReaders(), image, error));
    EXPECT_EQ(error.Message(), "cut.jpg: cut short: the JPEG data ends before its last row");
}

TEST(GifJpeg, AnAnimatedGifTileShowsItsFirstPictureAndCheckSaysSo)
{
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick's convert is not installed (tools/install-deps.sh test)";
    ScratchDir dir;
    Convert({Picture(true), Picture(true, 3), Picture(true, 5)}, "-delay 10", "anim.gif");
    const Image image = Decoded("anim.gif");
    EXPECT_EQ(image.Frames, 3);
    EXPECT_EQ(LargestDifference(image, Reference("anim.gif")), 0);

    // A board whose tile 1 is the animation and whose sky is a JPEG.
    Convert({Picture(true)}, "", "t0.gif");
    const std::string sky = "convert -size 2880x101 gradient:navy-skyblue sky.jpg";
    ASSERT_EQ(RunCommand(sky).status, 0);
    WriteBytes("tiles.txt", Bytes{'2', ' ', 't', '0', '.', 'g', 'i', 'f', ' ', 'a', 'n', 'i', 'm', '.', 'g', 'i', 'f'});
    ASSERT_EQ(RunCommand(Boardtool("new tiles.txt b.brd --sky sky.jpg")).status, 0);
    const CommandResult check = RunCommand(Boardtool("check b.brd"));
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("tile 1 (anim.gif): an animation of 3 pictures; only its first is shown"),
              std::string::npos)
        << check.out;

    World world;
    ASSERT_EQ(world.LoadMap("b.brd"), 0) << world.LastError();
    ASSERT_EQ(world.Sky->w, 2880);
    ASSERT_EQ(world.Sky->h, 101);
    const Bytes reference = Reference("sky.jpg");
    // The sky's top-left and bottom-right pixels, 16-bit, as the reference's.
    for (const size_t at : {size_t(0), size_t(2880 * 101 - 1)}) {
        const int pixel = PixelAt(world.Sky.get(), int(at % 2880), int(at / 2880));
        const int expected = makecol16(reference[at * 4], reference[at * 4 + 1], reference[at * 4 + 2]);
        EXPECT_LE(std::abs(getr16(pixel) - getr16(expected)), 8);
        EXPECT_LE(std::abs(getb16(pixel) - getb16(expected)), 8);
    }
}

// Pixels only from the file: a 2 x 2 GIF whose 2-colour table the pixels
// index past (indices 2 and 3, each code written out plainly: a clear code
// before every pair keeps the codes 3 bits wide).
TEST(GifJpeg, AGifIndexPastItsColourTableIsRefused)
{
    ScratchDir dir;
    Bytes gif{'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0};
    gif.insert(gif.end(), {0, 0, 0, 255, 255, 255});  // the 2 colours
    gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2});  // the picture, LZW codes of 2 bits + 1
    const int codes[] = {4, 0, 1, 4, 2, 3, 5};
    Bytes packed;
    uint32_t bits = 0;
    int count = 0;
    for (const int code : codes) {
        bits |= uint32_t(code) << count;
        count += 3;
        while (count >= 8) {
            packed.push_back(uint8_t(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count)
        packed.push_back(uint8_t(bits));
    gif.push_back(uint8_t(packed.size()));
    gif.insert(gif.end(), packed.begin(), packed.end());
    gif.insert(gif.end(), {0, 0x3B});
    WriteBytes("index.gif", gif);
    Image image;
    Error error;
    EXPECT_FALSE(DecodeImageFile("index.gif", AllegroReaders(), image, error));
    EXPECT_EQ(error.Message(), "index.gif: a pixel of colour index 2 past the 2 colours of its colour table");

    // A picture wider than the screen it lies on.
    Bytes wide = gif;
    wide[19 + 5] = 3;
    WriteBytes("wide.gif", wide);
    EXPECT_FALSE(DecodeImageFile("wide.gif", AllegroReaders(), image, error));
    EXPECT_EQ(error.Message(), "wide.gif: a GIF whose first picture, 3 x 2 at (0, 0), lies outside its 2 x 2 screen");

    // The same codes against 4 colours decode, each pixel its colour.
    gif[10] = 0x81;
    gif.insert(gif.begin() + 19, {10, 20, 30, 40, 50, 60});
    WriteBytes("four.gif", gif);
    ASSERT_TRUE(DecodeImageFile("four.gif", AllegroReaders(), image, error)) << error.Message();
    EXPECT_EQ(image.Rgba, (Bytes{0, 0, 0, 255, 255, 255, 255, 255, 10, 20, 30, 255, 40, 50, 60, 255}));
}
