// Decoding image files: stb_image for BMP, PNG and TGA, the caller's reader
// for PCX, each only after our code has checked the file's header
// against its size, so that no header can make us allocate or read without
// bound, and no file cut short is shown as if it were whole.
#include "image/image_file.h"

#include <stb_image.h>        // Required for: stbi_info_from_memory(), stbi_load_from_memory()
#include <stb_image_write.h>  // Required for: stbi_write_png_to_func()
#include <zlib.h>             // Required for: inflate(), the PNG data checked before stb_image inflates it

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "files/files.h"
#include "image/gif_jpeg.h"

const char ImageFormats[] = "BMP, PNG, TGA, PCX, GIF and JPEG";

namespace {

uint16_t Get16le(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Get32le(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t Get32be(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

bool StartsWith(const uint8_t* data, size_t size, const char* magic)
{
    const size_t length = std::strlen(magic);
    return size >= length && std::memcmp(data, magic, length) == 0;
}

// What our own look at a file's header found.
struct HeaderFacts {
    const char* format = nullptr;
    int64_t width = 0;
    int64_t height = 0;
    bool fiveBit = false;
    int64_t fileBytes = 0;  // the whole file's size
    int64_t pixelsLeft = MaxMapPixels;  // what the map's budget has left
};

// Each check below returns false with `why` set when the file cannot be
// decoded whole: the fault and its numbers, without the file name.

bool Dimensions(const HeaderFacts& facts, std::string& why)
{
    if (facts.width <= 0 || facts.height <= 0) {
        why = std::string("a ") + facts.format + " of " + std::to_string(facts.width) + " x " +
              std::to_string(facts.height) + " pixels: no picture has that size";
        return false;
    }
    // Each side first, so that the product cannot overflow.
    if (facts.width > MaxImagePixels || facts.height > MaxImagePixels ||
        facts.width * facts.height > MaxImagePixels) {
        why = "too large: " + std::to_string(facts.width) + " x " + std::to_string(facts.height) +
              " pixels, an image may have at most " + std::to_string(MaxImagePixels);
        return false;
    }
    const int64_t pixels = facts.width * facts.height;
    if (pixels > facts.pixelsLeft) {
        why = "past the map's budget: " + std::to_string(facts.width) + " x " + std::to_string(facts.height) +
              " pixels, more than the " + std::to_string(std::max<int64_t>(facts.pixelsLeft, 0)) +
              " its images have left";
        return false;
    }
    if (pixels > PixelsAtAnySize && pixels > facts.fileBytes * MaxPixelsPerFileByte) {
        why = "too large for its size: " + std::to_string(facts.width) + " x " + std::to_string(facts.height) +
              " pixels from " + std::to_string(facts.fileBytes) + " bytes; beyond " +
              std::to_string(PixelsAtAnySize) + " pixels an image needs a byte of file for every " +
              std::to_string(MaxPixelsPerFileByte);
        return false;
    }
    return true;
}

std::string CutShort(int64_t size, int64_t needed)
{
    return "cut short: " + std::to_string(size) + " bytes, the picture needs " + std::to_string(needed);
}

// A BMP of 1, 4 or 8 bits a pixel: its colour table is what lies between
// the header and the pixels (as stb_image reads it, whatever the header
// claims), and every pixel's index must name one of its entries; stb_image
// keeps no colours beyond them.
bool CheckBmpIndices(const uint8_t* data, const HeaderFacts& facts, uint32_t infoSize, uint32_t offset, int bits,
                     int64_t rowBytes, std::string& why)
{
    const int64_t entries = infoSize == 12 ? (int64_t(offset) - 14 - 24) / 3 : (int64_t(offset) - 14 - infoSize) / 4;
    if (entries < 1 || entries > 256) {
        why = "a BMP of " + std::to_string(bits) + " bits a pixel whose colour table has room for " +
              std::to_string(std::max<int64_t>(entries, 0)) + " colours; it needs 1 to 256";
        return false;
    }
    if (entries >= (1 << bits))
        return true;  // no index can reach past it
    for (int64_t y = 0; y < facts.height; y++) {
        const uint8_t* row = data + offset + y * rowBytes;
        for (int64_t x = 0; x < facts.width; x++) {
            const int index = bits == 8 ? row[x] : bits == 4 ? (row[x / 2] >> (x % 2 ? 0 : 4)) & 15
                                                             : (row[x / 8] >> (7 - x % 8)) & 1;
            if (index >= entries) {
                why = "a pixel of colour index " + std::to_string(index) + " past the " + std::to_string(entries) +
                      " colours of its colour table";
                return false;
            }
        }
    }
    return true;
}

// BMP: the pixel rows of an uncompressed file must all be there.
bool CheckBmp(const uint8_t* data, size_t size, HeaderFacts& facts, std::string& why)
{
    facts.format = "BMP";
    if (size < 26) {
        why = CutShort(size, 26);
        return false;
    }
    const uint32_t offset = Get32le(data + 10);
    const uint32_t infoSize = Get32le(data + 14);
    int bits;
    uint32_t compression = 0;
    if (infoSize == 12) {  // the old OS/2 header: 16-bit sizes
        facts.width = Get16le(data + 18);
        facts.height = Get16le(data + 20);
        bits = Get16le(data + 24);
    } else {
        if (size < 34) {
            why = CutShort(size, 34);
            return false;
        }
        facts.width = static_cast<int32_t>(Get32le(data + 18));
        // A negative height marks rows stored from the top.
        const int64_t height = static_cast<int32_t>(Get32le(data + 22));
        facts.height = height < 0 ? -height : height;
        bits = Get16le(data + 28);
        compression = Get32le(data + 30);
    }
    if (!Dimensions(facts, why))
        return false;
    if (compression == 1 || compression == 2) {
        why = "a run-length compressed BMP, which is not read; save it uncompressed";
        return false;
    }
    // Any other value would be read as if uncompressed, the rows past the
    // file's end made up of zeros: a few bytes claiming millions of pixels.
    if (compression != 0 && compression != 3) {
        why = "a BMP of compression " + std::to_string(compression) + ", which is not read; save it uncompressed";
        return false;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        why = "a BMP of " + std::to_string(bits) + " bits a pixel, which is not read";
        return false;
    }
    const int64_t rowBytes = (facts.width * bits + 31) / 32 * 4;
    const int64_t needed = int64_t(offset) + rowBytes * facts.height;
    if (static_cast<int64_t>(size) < needed) {
        why = CutShort(size, needed);
        return false;
    }
    if (bits <= 8)
        return CheckBmpIndices(data, facts, infoSize, offset, bits, rowBytes, why);
    return true;
}

// PNG: the chunks must run whole up to IEND; the size comes from IHDR.
// Then the pixel data is inflated once, here, into a small window: it must
// hold exactly the bytes that the header's pixels need (stb_image would
// inflate whatever the stream holds, a kilobyte growing into a gigabyte),
// and in a palette image every index must name a colour the palette fills
// (stb_image's palette is not cleared beyond them).
struct PngChunks {
    int depth = 0;
    int colour = 0;
    int interlace = 0;
    int paletteEntries = -1;  // none given
    std::vector<std::pair<size_t, size_t>> data;  // each IDAT's offset and length
};

// Adam7's seven passes: first column and row, then the steps between them.
constexpr int Adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// The rows the pixel data holds: their count and width in pixels, pass by pass.
struct PngPass {
    int64_t columns = 0;
    int64_t rows = 0;
};

std::vector<PngPass> PngPasses(const HeaderFacts& facts, int interlace)
{
    if (!interlace)
        return {{facts.width, facts.height}};
    std::vector<PngPass> passes;
    for (const auto& p : Adam7) {
        PngPass pass;
        pass.columns = facts.width > p[0] ? (facts.width - p[0] + p[2] - 1) / p[2] : 0;
        pass.rows = facts.height > p[1] ? (facts.height - p[1] + p[3] - 1) / p[3] : 0;
        if (pass.columns && pass.rows)  // an empty pass has no rows at all
            passes.push_back(pass);
    }
    return passes;
}

// Follows the inflated bytes of a palette image row by row, undoing each
// row's filter (a palette pixel is one byte or less, so the filters work on
// single bytes), and finds the first index past the palette's entries.
class PaletteRows {
public:
    PaletteRows(std::vector<PngPass> passes, int depth, int entries)
        : passes(std::move(passes)), depth(depth), entries(entries)
    {
        Start();
    }

    // Takes the next inflated bytes; false with `why` set at a fault.
    bool Take(const uint8_t* bytes, size_t count, std::string& why)
    {
        for (size_t i = 0; i < count; i++) {
            if (pass >= passes.size())
                return true;  // beyond the pixels: the caller counts those
            if (at < 0) {
                filter = bytes[i];
                if (filter > 4) {
                    why = "a PNG row with filter " + std::to_string(filter) + ", which no PNG has";
                    return false;
                }
                at = 0;
                continue;
            }
            row[size_t(at++)] = bytes[i];
            if (at == int64_t(row.size()) && !EndRow(why))
                return false;
        }
        return true;
    }

private:
    void Start()
    {
        while (pass < passes.size() && passes[pass].rows == 0)
            pass++;
        if (pass < passes.size()) {
            row.assign(size_t((passes[pass].columns * depth + 7) / 8), 0);
            above.assign(row.size(), 0);
        }
        rowInPass = 0;
        at = -1;
    }

    bool EndRow(std::string& why)
    {
        for (size_t x = 0; x < row.size(); x++) {
            const int left = x ? row[x - 1] : 0, up = above[x], corner = x ? above[x - 1] : 0;
            int add = 0;
            switch (filter) {
            case 1: add = left; break;
            case 2: add = up; break;
            case 3: add = (left + up) / 2; break;
            case 4: {
                const int p = left + up - corner, pa = std::abs(p - left), pb = std::abs(p - up),
                          pc = std::abs(p - corner);
                add = pa <= pb && pa <= pc ? left : pb <= pc ? up : corner;
                break;
            }
            }
            row[x] = uint8_t(row[x] + add);
        }
        const int perByte = 8 / depth;
        for (int64_t x = 0; x < passes[pass].columns; x++) {
            const uint8_t byte = row[size_t(x / perByte)];
            const int shift = 8 - depth * int(x % perByte + 1);
            const int index = (byte >> shift) & ((1 << depth) - 1);
            if (index >= entries) {
                why = "a pixel of palette index " + std::to_string(index) + " past the " +
                      std::to_string(entries) + " colours its palette holds";
                return false;
            }
        }
        above.swap(row);
        at = -1;
        if (++rowInPass == passes[pass].rows) {
            pass++;
            Start();
        }
        return true;
    }

    std::vector<PngPass> passes;
    int depth;
    int entries;
    size_t pass = 0;
    int64_t rowInPass = 0;
    int64_t at = -1;  // the byte within the row; -1: its filter byte comes next
    int filter = 0;
    std::vector<uint8_t> row, above;
};

bool InflatePng(const uint8_t* data, const HeaderFacts& facts, const PngChunks& chunks, std::string& why)
{
    int channels = 0;
    bool depthFits = false;
    const int d = chunks.depth;
    switch (chunks.colour) {
    case 0: channels = 1; depthFits = d == 1 || d == 2 || d == 4 || d == 8 || d == 16; break;
    case 2: channels = 3; depthFits = d == 8 || d == 16; break;
    case 3: channels = 1; depthFits = d == 1 || d == 2 || d == 4 || d == 8; break;
    case 4: channels = 2; depthFits = d == 8 || d == 16; break;
    case 6: channels = 4; depthFits = d == 8 || d == 16; break;
    }
    if (!depthFits || chunks.interlace > 1) {
        why = "a PNG of colour type " + std::to_string(chunks.colour) + " at " + std::to_string(d) +
              " bits, interlace " + std::to_string(chunks.interlace) + ", which no PNG has";
        return false;
    }
    if (chunks.colour == 3 && chunks.paletteEntries < 1) {
        why = "a palette PNG without its palette";
        return false;
    }
    const std::vector<PngPass> passes = PngPasses(facts, chunks.interlace);
    int64_t needed = 0;
    for (const PngPass& pass : passes)
        needed += pass.rows * (1 + (pass.columns * channels * d + 7) / 8);

    std::unique_ptr<PaletteRows> palette;
    if (chunks.colour == 3)
        palette = std::make_unique<PaletteRows>(passes, d, chunks.paletteEntries);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        why = "cannot decode: no memory to inflate";
        return false;
    }
    std::unique_ptr<z_stream, int (*)(z_stream*)> ending(&stream, inflateEnd);
    std::vector<uint8_t> window(65536);
    int64_t inflated = 0;
    int status = Z_OK;
    for (const auto& [offset, length] : chunks.data) {
        stream.next_in = const_cast<Bytef*>(data + offset);
        stream.avail_in = uInt(length);
        while (stream.avail_in > 0 && status != Z_STREAM_END) {
            stream.next_out = window.data();
            stream.avail_out = uInt(window.size());
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                why = std::string("pixel data that does not inflate: ") + (stream.msg ? stream.msg : "zlib failed");
                return false;
            }
            const size_t got = window.size() - stream.avail_out;
            inflated += int64_t(got);
            // Checked as it grows: a bomb stops here, a window past the end.
            if (inflated > needed) {
                why = "pixel data that inflates past the " + std::to_string(needed) + " bytes its " +
                      std::to_string(facts.width) + " x " + std::to_string(facts.height) + " pixels need";
                return false;
            }
            if (palette && !palette->Take(window.data(), got, why))
                return false;
            if (status == Z_BUF_ERROR && got == 0)
                break;
        }
        if (status == Z_STREAM_END)
            break;
    }
    if (inflated < needed) {
        why = "cut short: its pixel data inflates to " + std::to_string(inflated) + " of the " +
              std::to_string(needed) + " bytes its pixels need";
        return false;
    }
    return true;
}

bool CheckPng(const uint8_t* data, size_t size, HeaderFacts& facts, std::string& why)
{
    facts.format = "PNG";
    if (size < 8 + 8 + 13 || std::memcmp(data + 12, "IHDR", 4) != 0) {
        why = "a PNG without its IHDR chunk";
        return false;
    }
    facts.width = Get32be(data + 16);
    facts.height = Get32be(data + 20);
    if (!Dimensions(facts, why))
        return false;
    PngChunks chunks;
    chunks.depth = data[24];
    chunks.colour = data[25];
    chunks.interlace = data[28];
    size_t at = 8;
    while (true) {
        if (size - at < 12) {
            why = "cut short: " + std::to_string(size) + " bytes, the chunks end before IEND";
            return false;
        }
        const uint64_t length = Get32be(data + at);
        if (std::memcmp(data + at + 4, "IEND", 4) == 0)
            break;
        if (length > size - at - 12) {
            why = "cut short: " + std::to_string(size) + " bytes, a chunk at offset " + std::to_string(at) +
                  " needs " + std::to_string(at + 12 + length);
            return false;
        }
        if (std::memcmp(data + at + 4, "IDAT", 4) == 0)
            chunks.data.emplace_back(at + 8, size_t(length));
        // The first palette is the one stb_image takes (it refuses a second).
        if (std::memcmp(data + at + 4, "PLTE", 4) == 0 && chunks.paletteEntries < 0)
            chunks.paletteEntries = length % 3 == 0 && length <= 768 ? int(length / 3) : 0;
        at += 12 + length;
    }
    return InflatePng(data, facts, chunks, why);
}

// TGA: the pixels, packed or run-length coded, must all be there.
bool CheckTga(const uint8_t* data, size_t size, HeaderFacts& facts, std::string& why)
{
    facts.format = "TGA";
    if (size < 18) {
        why = CutShort(size, 18);
        return false;
    }
    const int type = data[2];
    facts.width = Get16le(data + 12);
    facts.height = Get16le(data + 14);
    const int bits = data[16];
    facts.fiveBit = (type == 2 || type == 10) && (bits == 15 || bits == 16);
    if (!Dimensions(facts, why))
        return false;
    const int64_t mapBytes = data[1] ? int64_t(Get16le(data + 5)) * ((data[7] + 7) / 8) : 0;
    int64_t at = 18 + data[0] + mapBytes;
    const int64_t pixelBytes = (bits + 7) / 8;
    const int64_t pixels = facts.width * facts.height;
    if (type < 8) {
        const int64_t needed = at + pixels * pixelBytes;
        if (static_cast<int64_t>(size) < needed) {
            why = CutShort(size, needed);
            return false;
        }
        return true;
    }
    // Run-length packets: a count byte, then one pixel repeated or that many.
    int64_t done = 0;
    while (done < pixels) {
        if (at >= static_cast<int64_t>(size)) {
            why = "cut short: " + std::to_string(size) + " bytes hold " + std::to_string(done) + " of " +
                  std::to_string(pixels) + " pixels";
            return false;
        }
        const int packet = data[at++];
        const int64_t count = (packet & 0x7F) + 1;
        at += (packet & 0x80) ? pixelBytes : count * pixelBytes;
        done += count;
    }
    if (at > static_cast<int64_t>(size)) {
        why = CutShort(size, at);
        return false;
    }
    return true;
}

// PCX: 8 bits in 1 plane (with the 256-colour palette after the pixels) or
// in 3 planes; the run-length coded rows must all be there.
bool CheckPcx(const uint8_t* data, size_t size, HeaderFacts& facts, std::string& why)
{
    facts.format = "PCX";
    if (size < 128) {
        why = CutShort(size, 128);
        return false;
    }
    facts.width = int64_t(Get16le(data + 8)) - Get16le(data + 4) + 1;
    facts.height = int64_t(Get16le(data + 10)) - Get16le(data + 6) + 1;
    const int bits = data[3];
    const int planes = data[65];
    const int64_t lineBytes = Get16le(data + 66);
    if (!Dimensions(facts, why))
        return false;
    if (data[2] != 1 || bits != 8 || (planes != 1 && planes != 3)) {
        why = "a PCX of " + std::to_string(bits) + " bits in " + std::to_string(planes) +
              " planes; only 8 bits in 1 or 3 planes are read";
        return false;
    }
    if (lineBytes < facts.width) {
        why = "a PCX whose rows of " + std::to_string(lineBytes) + " bytes are shorter than its width " +
              std::to_string(facts.width);
        return false;
    }
    // Rows are decoded one at a time, and a run's count never carries into
    // the next row (a reader drops what a run holds past the row's end), so
    // a run that crosses a row's end is refused: what follows would be read
    // out of step, the palette from pixel bytes or past the file's end.
    const int64_t perRow = lineBytes * planes;
    size_t at = 128;
    for (int64_t y = 0; y < facts.height; y++) {
        int64_t done = 0;
        while (done < perRow) {
            if (at >= size) {
                why = "cut short: " + std::to_string(size) + " bytes hold " + std::to_string(y * perRow + done) +
                      " of the " + std::to_string(perRow * facts.height) + " bytes of pixels";
                return false;
            }
            const uint8_t c = data[at++];
            if (c >= 0xC0) {  // a run: the count, then the byte repeated
                at++;
                done += c & 0x3F;
            } else {
                done++;
            }
        }
        if (done > perRow) {
            why = "a PCX whose run crosses the end of row " + std::to_string(y) + " (" + std::to_string(done) +
                  " of its " + std::to_string(perRow) + " bytes)";
            return false;
        }
    }
    if (at > size) {
        why = CutShort(size, at);
        return false;
    }
    // The 256 colours follow the first byte 12 after the pixels.
    if (planes == 1) {
        const uint8_t* mark = static_cast<const uint8_t*>(std::memchr(data + at, 12, size - at));
        if (!mark || size_t(mark - data) + 769 > size) {
            why = CutShort(size, (mark ? size_t(mark - data) : at) + 769) + " (the palette after the pixels)";
            return false;
        }
    }
    return true;
}

// True when the first bytes could be a TGA header: TGA has no mark of its
// own, and one that stb_image could take for another format (GIF, JPEG,
// PNM, ...) is no TGA by these tests.
bool LooksLikeTga(const uint8_t* data, size_t size)
{
    if (size < 18)
        return false;
    const int type = data[2];
    const int bits = data[16];
    return data[1] <= 1 && (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11) &&
           (bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32);
}

// Looks at the header, checks it against the file's size and says the
// format. Only the formats Allegro's load_bitmap read are taken: stb_image
// reads more, but not all of its readers stand a file cut short.
bool CheckHeader(const uint8_t* data, size_t size, HeaderFacts& facts, std::string& why)
{
    facts.fileBytes = int64_t(size);
    if (StartsWith(data, size, "BM"))
        return CheckBmp(data, size, facts, why);
    if (StartsWith(data, size, "\x89PNG\r\n\x1a\n"))
        return CheckPng(data, size, facts, why);
    if (size > 3 && data[0] == 0x0A && data[2] == 1 && data[1] <= 5)
        return CheckPcx(data, size, facts, why);
    // GIF and JPEG: their decoders tell the size, which is checked before
    // any pixel is decoded.
    if (StartsWith(data, size, "GIF87a") || StartsWith(data, size, "GIF89a")) {
        facts.format = "GIF";
        return true;
    }
    if (StartsWith(data, size, "\xFF\xD8\xFF")) {
        facts.format = "JPEG";
        return true;
    }
    if (LooksLikeTga(data, size))
        return CheckTga(data, size, facts, why);
    why = std::string("not an image in a format we read (") + ImageFormats + ")";
    return false;
}

}  // namespace

namespace {

bool DecodeImageBytes(const uint8_t* data, size_t size, const std::string& fileName, const ImageReaders& readers,
                      Image& out, Error& error, int64_t pixelsLeft)
{
    auto fail = [&](const std::string& why) {
        error = Error{fileName, why};
        return false;
    };
    if (static_cast<int64_t>(size) > MaxImageFileBytes)
        return fail("too large: " + std::to_string(size) + " bytes, an image file may have at most " +
                    std::to_string(MaxImageFileBytes));
    HeaderFacts facts;
    facts.pixelsLeft = pixelsLeft;
    std::string why;
    if (!CheckHeader(data, size, facts, why))
        return fail(why);

    Image image;
    image.FiveBitChannels = facts.fiveBit;
    // Every decoder's pixels end here.
    const auto decoded = [&image, &out] {
        for (size_t i = 3; i < image.Rgba.size(); i += 4)
            if (image.Rgba[i] != 255) {
                image.HasAlpha = true;
                break;
            }
        out = std::move(image);
        return true;
    };
    if (std::strcmp(facts.format, "GIF") == 0 || std::strcmp(facts.format, "JPEG") == 0) {
        const SizeCheck check = [&facts](int64_t width, int64_t height, std::string& reason) {
            facts.width = width;
            facts.height = height;
            return Dimensions(facts, reason);
        };
        const bool gif = facts.format[0] == 'G';
        if (!(gif ? DecodeGif(data, size, check, image, why) : DecodeJpeg(data, size, check, image, why)))
            return fail(why);
        return decoded();
    }
    if (std::strcmp(facts.format, "PCX") == 0) {
        if (!readers.Pcx)
            return fail("a PCX file, which this program reads only with its graphics library");
        if (!readers.Pcx(data, size, image, why))
            return fail(why);
        return decoded();
    }

    const int length = static_cast<int>(size);
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, length, &width, &height, &channels))
        return fail(std::string("not an image in a format we read (") + ImageFormats + ")");
    // stb_image's own idea of the size is checked too: it is what it allocates.
    HeaderFacts stbFacts;
    stbFacts.format = facts.format;
    stbFacts.fileBytes = facts.fileBytes;
    stbFacts.pixelsLeft = facts.pixelsLeft;
    // (stb_image tells a top-down BMP by a negative height.)
    stbFacts.width = std::abs(int64_t(width));
    stbFacts.height = std::abs(int64_t(height));
    if (!Dimensions(stbFacts, why))
        return fail(why);
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(data, length, &width, &height, &channels, 4), stbi_image_free);
    if (!pixels)
        return fail(std::string("cannot decode: ") + stbi_failure_reason());
    image.Width = width;
    image.Height = height;
    image.Rgba.assign(pixels.get(), pixels.get() + size_t(width) * size_t(height) * 4);
    return decoded();
}

}  // namespace

bool DecodeImage(const uint8_t* data, size_t size, const std::string& fileName, const ImageReaders& readers,
                 Image& out, Error& error, int64_t pixelsLeft)
{
    // Every size is checked before its memory is asked for; should the
    // memory still not be there, the image is refused like any other fault.
    try {
        return DecodeImageBytes(data, size, fileName, readers, out, error, pixelsLeft);
    } catch (const std::bad_alloc&) {
        error = Error{fileName, "cannot decode: not enough memory for its pixels"};
        return false;
    }
}

bool DecodeImageFile(const char* name, const ImageReaders& readers, Image& out, Error& error, int64_t pixelsLeft)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(name, MaxImageFileBytes, bytes, error))
        return false;
    return DecodeImage(bytes.data(), bytes.size(), HostPath(name), readers, out, error, pixelsLeft);
}

// Appends what the PNG encoder hands over to a byte vector.
static void AppendBytes(void* context, void* data, int size)
{
    std::vector<uint8_t>& bytes = *static_cast<std::vector<uint8_t>*>(context);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
}

std::vector<uint8_t> EncodePng(const Image& image)
{
    std::vector<uint8_t> bytes;
    // The encoder's sizes and row stride are ints.
    if (image.Width < 1 || image.Height < 1 || image.Width > std::numeric_limits<int>::max() / 4 ||
        image.Rgba.size() != size_t(image.Width) * size_t(image.Height) * 4)
        return bytes;
    if (!stbi_write_png_to_func(AppendBytes, &bytes, image.Width, image.Height, 4, image.Rgba.data(),
                                image.Width * 4))
        bytes.clear();
    return bytes;
}
