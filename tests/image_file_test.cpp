// The image loader against Allegro's own load_bitmap: a corpus of BMP, PNG,
// TGA and PCX files of every common kind, written by Allegro's writers and
// by hand, must give the same 16-bit (and 15-bit) pixels both ways; and the
// files Allegro's readers trusted blindly are refused with their reason.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>  // Required for: compress(), crc32() of the PNG files made here

#include <chrono>
#include <functional>

#include "image/image_file.h"
#include "test_support.h"

#include <loadpng.h>  // Required for: save_png(); needs allegro.h first

namespace {

constexpr int W = 16;  // 16 x 16 pixels: every byte value 0..255 once per channel
constexpr int H = 16;

// Pixel i of the corpus: every channel runs through all 256 values.
uint8_t Red(int i) { return static_cast<uint8_t>(i); }
uint8_t Green(int i) { return static_cast<uint8_t>(255 - i); }
uint8_t Blue(int i) { return static_cast<uint8_t>(i * 37); }
uint8_t Alpha(int i) { return static_cast<uint8_t>(i * 5); }

void Put16(Bytes& b, unsigned v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
void Put32(Bytes& b, uint32_t v) { Put16(b, v & 0xFFFF); Put16(b, v >> 16); }
void Put32be(Bytes& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(uint8_t(v >> s));
}

// A BMP of `bits` per pixel (a palette of 2^bits colours up to 8) with
// BITMAPINFOHEADER, rows from the bottom or, when `topDown`, from the top.
Bytes MakeBmp(int bits, bool topDown)
{
    const int colours = bits <= 8 ? 1 << bits : 0;
    const int rowBytes = (W * bits + 31) / 32 * 4;
    const uint32_t offset = 14 + 40 + colours * 4;
    Bytes b{'B', 'M'};
    Put32(b, offset + rowBytes * H);
    Put32(b, 0);
    Put32(b, offset);
    Put32(b, 40);
    Put32(b, W);
    Put32(b, static_cast<uint32_t>(topDown ? -H : H));
    Put16(b, 1);
    Put16(b, bits);
    Put32(b, 0);
    Put32(b, rowBytes * H);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, colours);
    Put32(b, 0);
    for (int c = 0; c < colours; c++) {  // palette entries: blue, green, red, 0
        const int i = c * (256 / colours) + (colours < 256 ? 7 : 0);
        b.insert(b.end(), {Blue(i), Green(i), Red(i), 0});
    }
    for (int row = 0; row < H; row++) {
        const int y = topDown ? row : H - 1 - row;
        Bytes line(rowBytes, 0);
        for (int x = 0; x < W; x++) {
            const int i = y * W + x;
            switch (bits) {
            case 1: line[x / 8] |= uint8_t((i & 1) << (7 - x % 8)); break;
            case 4: line[x / 2] |= uint8_t((i & 15) << (x % 2 ? 0 : 4)); break;
            case 8: line[x] = uint8_t(i); break;
            case 16: {
                const unsigned v = (Red(i) >> 3) << 10 | (Green(i) >> 3) << 5 | Blue(i) >> 3;
                line[x * 2] = uint8_t(v);
                line[x * 2 + 1] = uint8_t(v >> 8);
                break;
            }
            default:
                line[x * (bits / 8)] = Blue(i);
                line[x * (bits / 8) + 1] = Green(i);
                line[x * (bits / 8) + 2] = Red(i);
            }
        }
        b.insert(b.end(), line.begin(), line.end());
    }
    return b;
}

// A TGA of image `type` (1 colour-mapped, 2 true colour, 3 grey; +8 run-length
// coded) and `bits` per pixel.
Bytes MakeTga(int type, int bits)
{
    const bool mapped = (type & 7) == 1;
    Bytes b{0, uint8_t(mapped ? 1 : 0), uint8_t(type)};
    Put16(b, 0);
    Put16(b, mapped ? 256 : 0);
    b.push_back(mapped ? 24 : 0);
    Put16(b, 0);
    Put16(b, 0);
    Put16(b, W);
    Put16(b, H);
    b.push_back(uint8_t(bits));
    b.push_back(0x20 | (bits == 32 ? 8 : 0));  // rows from the top
    if (mapped)
        for (int c = 0; c < 256; c++)
            b.insert(b.end(), {Blue(c), Green(c), Red(c)});
    auto pixel = [&](int i) {
        if (bits == 8)
            return Bytes{mapped ? uint8_t(i) : Red(i)};
        Bytes p{Blue(i), Green(i), Red(i)};
        if (bits == 32)
            p.push_back(255);
        return p;
    };
    for (int i = 0; i < W * H; i++) {
        // Run-length coded: pairs of pixels as a raw packet, every fourth
        // pixel doubled as a run packet.
        if (type >= 8 && i % 4 == 0 && i + 1 < W * H) {
            b.push_back(0x81);
            const Bytes p = pixel(i);
            b.insert(b.end(), p.begin(), p.end());
            i++;
            continue;
        }
        if (type >= 8)
            b.push_back(0x00);
        const Bytes p = pixel(i);
        b.insert(b.end(), p.begin(), p.end());
    }
    return b;
}

// A 256-colour PCX with a palette of arbitrary bytes.
Bytes MakePcx()
{
    Bytes b(128, 0);
    b[0] = 0x0A;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    b[8] = W - 1;
    b[10] = H - 1;
    b[65] = 1;
    b[66] = W;
    for (int i = 0; i < W * H; i++) {
        if (i >= 0xC0)
            b.push_back(0xC1);
        b.push_back(uint8_t(i));
    }
    b.push_back(12);
    for (int c = 0; c < 256; c++)
        b.insert(b.end(), {Red(c), Green(c), Blue(c)});
    return b;
}

void PngChunk(Bytes& b, const char* type, const Bytes& data)
{
    Put32be(b, static_cast<uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    b.insert(b.end(), body.begin(), body.end());
    Put32be(b, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// A PNG of 8-bit channels of `colourType` (0 grey, 2 RGB, 3 palette,
// 4 grey and alpha, 6 RGBA).
Bytes MakePng(int colourType)
{
    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    Bytes raw;
    for (int y = 0; y < H; y++) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < W; x++) {
            const int i = y * W + x;
            const uint8_t all[4] = {colourType == 0 || colourType == 4 ? Green(i) : Red(i), Green(i), Blue(i),
                                    Alpha(i)};
            if (colourType == 3)
                raw.push_back(uint8_t(i));
            else if (colourType == 4)
                raw.insert(raw.end(), {all[0], all[3]});
            else
                raw.insert(raw.end(), all, all + channels);
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    EXPECT_EQ(compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
    packed.resize(packedSize);
    Bytes b{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    Put32be(header, W);
    Put32be(header, H);
    header.insert(header.end(), {8, uint8_t(colourType), 0, 0, 0});
    PngChunk(b, "IHDR", header);
    if (colourType == 3) {
        Bytes palette;
        for (int c = 0; c < 256; c++)
            palette.insert(palette.end(), {Red(c), Green(c), Blue(c)});
        PngChunk(b, "PLTE", palette);
    }
    PngChunk(b, "IDAT", packed);
    PngChunk(b, "IEND", {});
    return b;
}

// A bitmap of `depth` bits holding the corpus's pixels, with its palette.
BitmapPtr CorpusBitmap(int depth, PALETTE palette)
{
    BitmapPtr bitmap(create_bitmap_ex(depth, W, H));
    for (int c = 0; c < 256; c++)
        palette[c] = RGB{uint8_t(Red(c) >> 2), uint8_t(Green(c) >> 2), uint8_t(Blue(c) >> 2), 0};
    for (int i = 0; i < W * H; i++)
        putpixel(bitmap.get(), i % W, i / W,
                 depth == 8 ? i : makeacol_depth(depth, Red(i), Green(i), Blue(i), Alpha(i)));
    return bitmap;
}

// Every file of the corpus, written into the working directory.
std::vector<std::string> WriteCorpus()
{
    std::vector<std::string> names;
    auto put = [&](const std::string& name, const Bytes& bytes) {
        WriteBytes(name, bytes);
        names.push_back(name);
    };
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        put("bmp" + std::to_string(bits) + ".bmp", MakeBmp(bits, false));
        put("bmp" + std::to_string(bits) + "-top.bmp", MakeBmp(bits, true));
    }
    put("tga-mapped.tga", MakeTga(1, 8));
    put("tga24.tga", MakeTga(2, 24));
    put("tga32.tga", MakeTga(2, 32));
    put("tga-grey.tga", MakeTga(3, 8));
    put("tga-mapped-rle.tga", MakeTga(9, 8));
    put("tga24-rle.tga", MakeTga(10, 24));
    put("tga-grey-rle.tga", MakeTga(11, 8));
    put("pcx8.pcx", MakePcx());
    for (int type : {0, 2, 3, 4, 6})
        put("png-type" + std::to_string(type) + ".png", MakePng(type));

    // And what Allegro's own writers make of bitmaps of every depth.
    PALETTE palette;
    using Writer = int (*)(const char*, BITMAP*, const RGB*);
    const std::pair<const char*, Writer> writers[] = {
        {"bmp", save_bmp}, {"pcx", save_pcx}, {"tga", save_tga}, {"png", save_png}};
    for (int depth : {8, 15, 16, 24, 32}) {
        BitmapPtr bitmap = CorpusBitmap(depth, palette);
        for (const auto& [extension, writer] : writers) {
            const std::string name = "allegro" + std::to_string(depth) + "." + extension;
            EXPECT_EQ(writer(name.c_str(), bitmap.get(), palette), 0) << name;
            names.push_back(name);
        }
    }
    return names;
}

// Loads every file both ways at the current colour depth and compares.
// Allegro's BMP reader takes no file whose rows run from the top (it asks
// for a bitmap of negative height), so a "-top" file is held to what Allegro
// reads from its twin stored from the bottom.
void CompareCorpus(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Error error;
        BitmapPtr now = LoadImage(name.c_str(), error);
        ASSERT_TRUE(now) << error;
        std::string reference = name;
        const size_t top = reference.find("-top");
        if (top != std::string::npos)
            reference.erase(top, 4);
        BitmapPtr old(load_bitmap(reference.c_str(), nullptr));
        ASSERT_TRUE(old) << "Allegro's reader refuses " << reference;
        EXPECT_EQ(bitmap_color_depth(now.get()), bitmap_color_depth(old.get()));
        if (now->w != old->w || now->h != old->h) {
            ADD_FAILURE() << now->w << " x " << now->h << " pixels, Allegro's reader gives " << old->w << " x "
                          << old->h;
            continue;
        }
        int differing = 0;
        for (int y = 0; y < old->h; y++)
            for (int x = 0; x < old->w; x++)
                if (getpixel(now.get(), x, y) != getpixel(old.get(), x, y) && differing++ < 3)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << std::hex << getpixel(now.get(), x, y)
                                  << " where Allegro's reader gives " << getpixel(old.get(), x, y);
        EXPECT_EQ(differing, 0);
    }
}

TEST(ImageFile, EveryKindOfFileGivesAllegrosOwnPixels)
{
    ScratchDir dir;
    const std::vector<std::string> names = WriteCorpus();
    CompareCorpus(names);
    // The viewer's second choice of screen depth.
    set_color_depth(15);
    CompareCorpus(names);
    set_color_depth(16);
}

TEST(ImageFile, AlphaIsNotedAndDroppedAsAllegroDropsIt)
{
    ScratchDir dir;
    WriteBytes("rgba.png", MakePng(6));
    WriteBytes("rgb.png", MakePng(2));
    Image image;
    Error error;
    ASSERT_TRUE(DecodeImageFile("rgba.png", AllegroReaders(), image, error)) << error;
    EXPECT_TRUE(image.HasAlpha);
    ASSERT_TRUE(DecodeImageFile("rgb.png", AllegroReaders(), image, error)) << error;
    EXPECT_FALSE(image.HasAlpha);
}

// A file whose every refusal names the file and says why; nothing is
// allocated for what a header only claims.
struct Hostile {
    const char* name;
    std::function<Bytes()> make;
    const char* reason;  // after "NAME: "
};

Bytes Patched(Bytes bytes, size_t at, const Bytes& with)
{
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<long>(at));
    return bytes;
}

Bytes Cut(Bytes bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

TEST(ImageFile, HostileFilesAreRefusedWithTheirReason)
{
    ScratchDir dir;
    const Bytes bmp = MakeBmp(24, false);
    const Hostile cases[] = {
        {"huge.bmp", [&] { return Patched(bmp, 18, {0xA0, 0x86, 0x01, 0x00, 0x60, 0x79, 0xFE, 0xFF}); },
         "too large: 100000 x 100000 pixels, an image may have at most 67108864"},
        {"wide.bmp", [&] { return Patched(bmp, 18, {0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0}); },
         "too large: 2147483647 x 1 pixels, an image may have at most 67108864"},
        {"tall.bmp", [&] { return Patched(bmp, 18, {32, 0, 0, 0, 0x20, 0, 0x80, 0}); },
         "too large: 32 x 8388640 pixels, an image may have at most 67108864"},
        {"far.bmp", [&] { return Patched(bmp, 10, {0x36, 0x04, 0x00, 0x7F}); },
         "cut short: 822 bytes, the picture needs 2130708278"},
        {"cut.bmp", [&] { return Cut(bmp, bmp.size() - 1); }, "cut short: 821 bytes, the picture needs 822"},
        {"huge.png", [&] { return Patched(MakePng(2), 16, {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0}); },
         "too large: 100000 x 100000 pixels, an image may have at most 67108864"},
        {"widest.png", [&] { return Patched(MakePng(2), 16, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}); },
         "too large: 4294967295 x 4294967295 pixels, an image may have at most 67108864"},
        {"cut.png", [&] { Bytes png = MakePng(2); return Cut(png, png.size() - 20); },
         "cut short: "},
        {"cut.tga", [&] { Bytes tga = MakeTga(2, 24); return Cut(tga, tga.size() - 3); },
         "cut short: 783 bytes, the picture needs 786"},
        {"cut-rle.tga", [&] { Bytes tga = MakeTga(10, 24); return Cut(tga, tga.size() - 10); }, "cut short: "},
        {"cut.pcx", [&] { Bytes pcx = MakePcx(); return Cut(pcx, pcx.size() - 800); }, "cut short: "},
        {"nopal.pcx", [&] { Bytes pcx = MakePcx(); return Cut(pcx, pcx.size() - 1); }, "cut short: "},
        {"text.bmp", [] { return Bytes{'h', 'e', 'l', 'l', 'o'}; },
         "not an image in a format we read (BMP, PNG, TGA, PCX, GIF and JPEG)"},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(c.name, c.make());
        Error error;
        EXPECT_FALSE(LoadImage(c.name, error));
        const std::string expected = std::string(c.name) + ": " + c.reason;
        if (expected.back() == ' ')
            EXPECT_EQ(error.Message().rfind(expected, 0), 0u) << error;
        else
            EXPECT_EQ(error.Message(), expected);
    }

    // Not a regular file: refused at once, never opened to wait on.
    ASSERT_EQ(mkfifo("pipe.bmp", 0600), 0);
    ASSERT_EQ(mkdir("folder.bmp", 0700), 0);
    Error error;
    EXPECT_FALSE(LoadImage("pipe.bmp", error));
    EXPECT_EQ(error.Message(), "pipe.bmp: is a FIFO, not a regular file");
    EXPECT_FALSE(LoadImage("folder.bmp", error));
    EXPECT_EQ(error.Message(), "folder.bmp: is a directory, not a regular file");
    EXPECT_FALSE(LoadImage("absent.bmp", error));
    EXPECT_EQ(error.Message(), "absent.bmp: cannot open: No such file or directory");
}

// A PNG of `width` x `height` with its filtered rows `raw` packed as they
// stand, a palette of `entries` colours (colour c: Red(c), Green(c),
// Blue(c)) when `colourType` is 3.
Bytes MakePngOf(uint32_t width, uint32_t height, int depth, int colourType, const Bytes& raw, int entries = 0)
{
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    EXPECT_EQ(compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
    packed.resize(packedSize);
    Bytes b{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    Put32be(header, width);
    Put32be(header, height);
    header.insert(header.end(), {uint8_t(depth), uint8_t(colourType), 0, 0, 0});
    PngChunk(b, "IHDR", header);
    if (entries) {
        Bytes palette;
        for (int c = 0; c < entries; c++)
            palette.insert(palette.end(), {Red(c), Green(c), Blue(c)});
        PngChunk(b, "PLTE", palette);
    }
    PngChunk(b, "IDAT", packed);
    PngChunk(b, "IEND", {});
    return b;
}

// Loads `bytes` as the file `name`; the error's message, or "" when it loads.
std::string LoadRefusal(const char* name, const Bytes& bytes, Image* decoded = nullptr)
{
    WriteBytes(name, bytes);
    Image image;
    Error error;
    if (DecodeImageFile(name, AllegroReaders(), image, error)) {
        if (decoded)
            *decoded = std::move(image);
        return "";
    }
    return error.Message();
}

// Pixel data that inflates far beyond the pixels is stopped as it inflates,
// not inflated whole first; data that falls short is refused as cut short.
TEST(ImageFile, PngDataMustInflateToExactlyItsPixels)
{
    ScratchDir dir;
    const Bytes bomb(16 << 20, 0);  // 16 MiB of zeros: about 16 KB packed
    const Bytes png = MakePngOf(16, 16, 8, 0, bomb);
    EXPECT_LT(png.size(), 20000u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(LoadRefusal("bomb.png", png),
              "bomb.png: pixel data that inflates past the 272 bytes its 16 x 16 pixels need");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    EXPECT_EQ(LoadRefusal("short.png", MakePngOf(16, 16, 8, 0, Bytes(200, 0))),
              "short.png: cut short: its pixel data inflates to 200 of the 272 bytes its pixels need");
    // Exactly enough: 16 rows of a filter byte and 16 grey bytes.
    EXPECT_EQ(LoadRefusal("exact.png", MakePngOf(16, 16, 8, 0, Bytes(272, 0))), "");
}

// Every pixel comes from the file: an index past the colours a palette or
// colour table holds is refused rather than shown as whatever memory held.
TEST(ImageFile, IndicesPastThePaletteAreRefused)
{
    ScratchDir dir;
    // PNG, 8 bits: indices 0..255 against 16 colours, Sub-filtered so that
    // only undoing the filter shows the index (every stored byte is 1).
    Bytes subbed;
    for (int y = 0; y < 16; y++) {
        subbed.push_back(1);
        subbed.push_back(uint8_t(y * 16));
        subbed.insert(subbed.end(), 15, 1);
    }
    EXPECT_EQ(LoadRefusal("index.png", MakePngOf(16, 16, 8, 3, subbed, 16)),
              "index.png: a pixel of palette index 16 past the 16 colours its palette holds");
    // The same rows against all 256 colours load, each pixel its colour.
    Image image;
    EXPECT_EQ(LoadRefusal("full.png", MakePngOf(16, 16, 8, 3, subbed, 256), &image), "");
    ASSERT_EQ(image.Rgba.size(), 16u * 16 * 4);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(Bytes(image.Rgba.begin() + i * 4, image.Rgba.begin() + i * 4 + 4),
                  (Bytes{Red(i), Green(i), Blue(i), 255})) << i;
    // 2 bits a pixel against 3 colours: the fourth index is past them.
    Bytes packed;
    for (int y = 0; y < 4; y++)
        packed.insert(packed.end(), {0, uint8_t(y == 3 ? 0x1B : 0x1A)});  // 0,1,2,3 / 0,1,2,2
    EXPECT_EQ(LoadRefusal("two.png", MakePngOf(4, 4, 2, 3, packed, 3)),
              "two.png: a pixel of palette index 3 past the 3 colours its palette holds");
    EXPECT_EQ(LoadRefusal("three.png", MakePngOf(4, 3, 2, 3, Bytes(packed.begin(), packed.end() - 2), 3)), "");

    // BMP, 8 bits: a table of 16 colours (whatever the header says it
    // holds) before pixels of every index.
    Bytes bmp = MakeBmp(8, false);
    bmp.erase(bmp.begin() + 14 + 40 + 16 * 4, bmp.begin() + 14 + 40 + 256 * 4);
    bmp[10] = 14 + 40 + 16 * 4;
    bmp[11] = 0;
    EXPECT_EQ(LoadRefusal("table.bmp", bmp), "table.bmp: a pixel of colour index 240 past the 16 colours of its colour table");
    // A table with no room at all.
    Bytes none = MakeBmp(4, false);
    none[10] = 14 + 40;
    none.erase(none.begin() + 14 + 40, none.begin() + 14 + 40 + 16 * 4);
    EXPECT_EQ(LoadRefusal("none.bmp", none),
              "none.bmp: a BMP of 4 bits a pixel whose colour table has room for 0 colours; it needs 1 to 256");
}

// A run that crosses a row's end puts every later byte out of step with
// the rows as they are read, the palette last of all.
TEST(ImageFile, PcxRunsEndWithTheirRow)
{
    ScratchDir dir;
    Bytes pcx = MakePcx();
    pcx.resize(128);
    pcx.insert(pcx.end(), {0xC0 | 32, 5});  // rows 0 and 1 as one run
    for (int i = 2 * W; i < W * H; i++) {
        if (i >= 0xC0)
            pcx.push_back(0xC1);
        pcx.push_back(uint8_t(i));
    }
    pcx.push_back(12);
    pcx.insert(pcx.end(), 768, 7);
    EXPECT_EQ(LoadRefusal("cross.pcx", pcx), "cross.pcx: a PCX whose run crosses the end of row 0 (32 of its 16 bytes)");
    // The palette must follow the pixels whole.
    Bytes good = MakePcx();
    Image image;
    EXPECT_EQ(LoadRefusal("good.pcx", good, &image), "");
    good[good.size() - 769] = 11;
    EXPECT_EQ(LoadRefusal("nomark.pcx", good).rfind("nomark.pcx: cut short: ", 0), 0u);
}

// A few bytes may not claim tens of millions of pixels: a BMP whose
// compression field is no compression (read as if uncompressed, every row
// past its end), a 4 KB PNG of 8192 x 4096 blank pixels.
TEST(ImageFile, SmallFilesCannotClaimMillionsOfPixels)
{
    ScratchDir dir;
    const Bytes bmp{'B', 'M', 0x5A, 0, 0, 0, 0, 0, 0, 0, 0x23, 0, 0, 0, 0x28, 0, 0, 0, 4, 0, 0, 0, 0, 0,
                    0x5A, 0xFF, 1, 0, 0x18, 0, 0, 0xFF, 0xFF, 0xFF, 3};
    EXPECT_EQ(LoadRefusal("fuzzed.bmp", bmp),
              "fuzzed.bmp: too large for its size: 4 x 10878976 pixels from 35 bytes; beyond 4194304 pixels an "
              "image needs a byte of file for every 2048");
    EXPECT_EQ(LoadRefusal("mode.bmp", Patched(bmp, 22, {4, 0, 0, 0})),
              "mode.bmp: a BMP of compression 4294967040, which is not read; save it uncompressed");
    Bytes rows;
    for (int y = 0; y < 4096; y++)
        rows.insert(rows.end(), 1 + 8192 / 8, 0);
    const Bytes png = MakePngOf(8192, 4096, 1, 0, rows);
    EXPECT_EQ(LoadRefusal("blank.png", png),
              "blank.png: too large for its size: 8192 x 4096 pixels from " + std::to_string(png.size()) +
                  " bytes; beyond 4194304 pixels an image needs a byte of file for every 2048");
    // 2048 x 2048 is taken at any size.
    rows.clear();
    for (int y = 0; y < 2048; y++)
        rows.insert(rows.end(), 1 + 2048 / 8, 0);
    EXPECT_EQ(LoadRefusal("small.png", MakePngOf(2048, 2048, 1, 0, rows)), "");
}

}  // namespace
