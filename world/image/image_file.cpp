// Decoding image files: stb_image for BMP, PNG and TGA, the caller's reader
// for PCX, each only after our code has checked the file's header
// against its size, so that no header can make us allocate or read without
// bound, and no file cut short is shown as if it were whole.
#include "image/image_file.h"

#include <stb_image.h>        // Required for: stbi_info_from_memory(), stbi_load_from_memory()
#include <stb_image_write.h>  // Required for: stbi_write_png_to_func()

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "files/files.h"

const char ImageFormats[] = "BMP, PNG, TGA and PCX";

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
    return true;
}

std::string CutShort(int64_t size, int64_t needed)
{
    return "cut short: " + std::to_string(size) + " bytes, the picture needs " + std::to_string(needed);
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
    if (compression == 0 || compression == 3) {
        const int64_t rowBytes = (facts.width * bits + 31) / 32 * 4;
        const int64_t needed = int64_t(offset) + rowBytes * facts.height;
        if (static_cast<int64_t>(size) < needed) {
            why = CutShort(size, needed);
            return false;
        }
    }
    return true;
}

// PNG: the chunks must run whole up to IEND; the size comes from IHDR.
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
    size_t at = 8;
    while (true) {
        if (size - at < 12) {
            why = "cut short: " + std::to_string(size) + " bytes, the chunks end before IEND";
            return false;
        }
        const uint64_t length = Get32be(data + at);
        if (std::memcmp(data + at + 4, "IEND", 4) == 0)
            return true;
        if (length > size - at - 12) {
            why = "cut short: " + std::to_string(size) + " bytes, a chunk at offset " + std::to_string(at) +
                  " needs " + std::to_string(at + 12 + length);
            return false;
        }
        at += 12 + length;
    }
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
    const int64_t wanted = lineBytes * planes * facts.height;
    int64_t done = 0;
    size_t at = 128;
    while (done < wanted) {
        if (at >= size) {
            why = "cut short: " + std::to_string(size) + " bytes hold " + std::to_string(done) + " of the " +
                  std::to_string(wanted) + " bytes of pixels";
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
    if (planes == 1 && at + 769 > size) {
        why = CutShort(size, at + 769) + " (the palette after the pixels)";
        return false;
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
    if (StartsWith(data, size, "BM"))
        return CheckBmp(data, size, facts, why);
    if (StartsWith(data, size, "\x89PNG\r\n\x1a\n"))
        return CheckPng(data, size, facts, why);
    if (size > 3 && data[0] == 0x0A && data[2] == 1 && data[1] <= 5)
        return CheckPcx(data, size, facts, why);
    if (LooksLikeTga(data, size))
        return CheckTga(data, size, facts, why);
    why = std::string("not an image in a format we read (") + ImageFormats + ")";
    return false;
}

}  // namespace

bool DecodeImage(const uint8_t* data, size_t size, const std::string& fileName, const ImageReaders& readers,
                 Image& out, Error& error)
{
    auto fail = [&](const std::string& why) {
        error = Error{fileName, why};
        return false;
    };
    if (static_cast<int64_t>(size) > MaxImageFileBytes)
        return fail("too large: " + std::to_string(size) + " bytes, an image file may have at most " +
                    std::to_string(MaxImageFileBytes));
    HeaderFacts facts;
    std::string why;
    if (!CheckHeader(data, size, facts, why))
        return fail(why);

    Image image;
    image.FiveBitChannels = facts.fiveBit;
    if (std::strcmp(facts.format, "PCX") == 0) {
        if (!readers.Pcx)
            return fail("a PCX file, which this program reads only with its graphics library");
        if (!readers.Pcx(data, size, image, why))
            return fail(why);
        out = std::move(image);
        return true;
    }

    const int length = static_cast<int>(size);
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, length, &width, &height, &channels))
        return fail(std::string("not an image in a format we read (") + ImageFormats + ")");
    // stb_image's own idea of the size is checked too: it is what it allocates.
    HeaderFacts decoded;
    decoded.format = facts.format;
    // (stb_image tells a top-down BMP by a negative height.)
    decoded.width = std::abs(int64_t(width));
    decoded.height = std::abs(int64_t(height));
    if (!Dimensions(decoded, why))
        return fail(why);
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(data, length, &width, &height, &channels, 4), stbi_image_free);
    if (!pixels)
        return fail(std::string("cannot decode: ") + stbi_failure_reason());
    image.Width = width;
    image.Height = height;
    image.Rgba.assign(pixels.get(), pixels.get() + size_t(width) * size_t(height) * 4);
    for (size_t i = 3; i < image.Rgba.size(); i += 4)
        if (image.Rgba[i] != 255) {
            image.HasAlpha = true;
            break;
        }
    out = std::move(image);
    return true;
}

bool DecodeImageFile(const char* name, const ImageReaders& readers, Image& out, Error& error)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(name, MaxImageFileBytes, bytes, error))
        return false;
    return DecodeImage(bytes.data(), bytes.size(), HostPath(name), readers, out, error);
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
