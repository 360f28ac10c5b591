// Pixels meet Allegro here: decoded images made into bitmaps of the screen's
// depth, PCX files read by Allegro's reader, bitmaps encoded as BMP, the
// placeholders that stand in for images that cannot be loaded, and Allegro's
// start-up for programs without a display.
#include "core/bitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/files.h"
#include "image/image_file.h"

namespace {

// An Allegro PACKFILE reading from bytes in memory.
struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t at;
};

int MemClose(void*)
{
    return 0;
}

int MemGetc(void* user)
{
    MemoryReader* r = static_cast<MemoryReader*>(user);
    return r->at < r->size ? r->data[r->at++] : EOF;
}

int MemUngetc(int c, void* user)
{
    MemoryReader* r = static_cast<MemoryReader*>(user);
    if (r->at == 0)
        return EOF;
    r->at--;
    return c;
}

long MemRead(void* p, long n, void* user)
{
    MemoryReader* r = static_cast<MemoryReader*>(user);
    const size_t count = std::min(static_cast<size_t>(n), r->size - r->at);
    std::memcpy(p, r->data + r->at, count);
    r->at += count;
    return static_cast<long>(count);
}

int MemPutc(int, void*)
{
    return EOF;
}

long MemWrite(const void*, long, void*)
{
    return 0;
}

int MemSeek(void* user, int offset)
{
    MemoryReader* r = static_cast<MemoryReader*>(user);
    if (offset < 0 || static_cast<size_t>(offset) > r->size - r->at)
        return -1;
    r->at += static_cast<size_t>(offset);
    return 0;
}

int MemEof(void* user)
{
    MemoryReader* r = static_cast<MemoryReader*>(user);
    return r->at >= r->size;
}

int MemError(void*)
{
    return 0;
}

PACKFILE_VTABLE MemoryVtable = {MemClose, MemGetc, MemUngetc, MemRead, MemPutc, MemWrite, MemSeek, MemEof, MemError};

// Decodes a PCX file already checked by CheckPcx with Allegro's reader,
// unconverted, so that its pixels come out as the file holds them.
bool DecodePcx(const uint8_t* data, size_t size, Image& image, std::string& why)
{
    MemoryReader reader{data, size, 0};
    PACKFILE* file = pack_fopen_vtable(&MemoryVtable, &reader);
    if (!file) {
        why = "cannot decode: out of memory";
        return false;
    }
    // Cleared first: every colour the file does not give stays black.
    PALETTE palette = {};
    const int conversion = get_color_conversion();
    set_color_conversion(COLORCONV_NONE);
    BitmapPtr bitmap(load_pcx_pf(file, palette));
    set_color_conversion(conversion);
    pack_fclose(file);
    if (!bitmap) {
        why = "cannot decode the PCX";
        return false;
    }
    const int depth = bitmap_color_depth(bitmap.get());
    image.Width = bitmap->w;
    image.Height = bitmap->h;
    image.Rgba.resize(size_t(image.Width) * size_t(image.Height) * 4);
    uint8_t* p = image.Rgba.data();
    for (int y = 0; y < image.Height; y++)
        for (int x = 0; x < image.Width; x++, p += 4) {
            const int c = getpixel(bitmap.get(), x, y);
            if (depth == 8) {
                // Allegro keeps 6 bits a channel; the top bits are repeated
                // below, and ImageToBitmap takes exactly those 6 bits back.
                const RGB& entry = palette[c];
                p[0] = static_cast<uint8_t>(entry.r << 2 | entry.r >> 4);
                p[1] = static_cast<uint8_t>(entry.g << 2 | entry.g >> 4);
                p[2] = static_cast<uint8_t>(entry.b << 2 | entry.b >> 4);
            } else {
                p[0] = static_cast<uint8_t>(getr_depth(depth, c));
                p[1] = static_cast<uint8_t>(getg_depth(depth, c));
                p[2] = static_cast<uint8_t>(getb_depth(depth, c));
            }
            p[3] = 255;
        }
    return true;
}

// Constant-initialised: a function pointer, set before any code runs.
const ImageReaders Readers{DecodePcx};

}  // namespace

const ImageReaders& AllegroReaders()
{
    return Readers;
}

BitmapPtr LoadImage(const char* name, Error& error)
{
    Image image;
    if (!DecodeImageFile(name, AllegroReaders(), image, error))
        return nullptr;
    BitmapPtr bitmap = ImageToBitmap(image);
    if (!bitmap)
        error = Error{HostPath(name), "no memory for a bitmap of " + std::to_string(image.Width) + " x " +
                std::to_string(image.Height) + " pixels"};
    return bitmap;
}

BitmapPtr MapImages::Share(const Entry& entry, Error& error) const
{
    if (!entry.bitmap) {
        error = entry.error;
        return nullptr;
    }
    BITMAP* shown = entry.bitmap.get();
    BitmapPtr bitmap(create_sub_bitmap(shown, 0, 0, shown->w, shown->h), BitmapDeleter{entry.bitmap});
    if (!bitmap)
        error = Error{entry.error.File, "no memory for a bitmap"};
    return bitmap;
}

BitmapPtr MapImages::Load(const char* name, Error& error)
{
    const std::string path = HostPath(name);
    auto found = entries.find(path);
    if (found == entries.end()) {
        Entry entry;
        entry.error.File = path;
        Image image;
        if (DecodeImageFile(name, AllegroReaders(), image, entry.error, budget - pixels)) {
            BitmapPtr made = ImageToBitmap(image);
            if (made) {
                pixels += int64_t(image.Width) * image.Height;
                entry.bitmap = std::shared_ptr<BITMAP>(made.release(), BitmapDeleter{});
                image.Rgba = {};
                entry.facts = std::make_shared<Image>(std::move(image));
            } else {
                entry.error = Error{path, "no memory for a bitmap of " + std::to_string(image.Width) + " x " +
                                    std::to_string(image.Height) + " pixels"};
            }
        }
        found = entries.emplace(path, std::move(entry)).first;
    }
    return Share(found->second, error);
}

BitmapPtr MapImages::FromImage(const std::string& name, const Image& image, Error& error)
{
    auto found = entries.find(name);
    if (found == entries.end()) {
        Entry entry;
        entry.error = Error{name, "no memory for a bitmap of " + std::to_string(image.Width) + " x " +
                            std::to_string(image.Height) + " pixels"};
        BitmapPtr made = ImageToBitmap(image);
        if (made)
            entry.bitmap = std::shared_ptr<BITMAP>(made.release(), BitmapDeleter{});
        found = entries.emplace(name, std::move(entry)).first;
    }
    return Share(found->second, error);
}

const Image* MapImages::Facts(const char* name) const
{
    const auto found = entries.find(HostPath(name));
    return found == entries.end() ? nullptr : found->second.facts.get();
}

namespace {

// An Allegro PACKFILE that appends what is written to a byte vector.
int BytesClose(void*) { return 0; }
int BytesGetc(void*) { return EOF; }
int BytesUngetc(int, void*) { return EOF; }
long BytesRead(void*, long, void*) { return 0; }
int BytesPutc(int c, void* user)
{
    static_cast<std::vector<uint8_t>*>(user)->push_back(static_cast<uint8_t>(c));
    return c;
}
long BytesWrite(const void* p, long n, void* user)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(p);
    static_cast<std::vector<uint8_t>*>(user)->insert(static_cast<std::vector<uint8_t>*>(user)->end(), bytes,
                                                     bytes + n);
    return n;
}
int BytesSeek(void*, int) { return -1; }
int BytesEof(void*) { return 1; }
int BytesError(void*) { return 0; }
PACKFILE_VTABLE BytesVtable = {BytesClose, BytesGetc,  BytesUngetc, BytesRead, BytesPutc,
                               BytesWrite, BytesSeek, BytesEof,    BytesError};

}  // namespace

// The bitmap as the bytes of a BMP file, as save_bmp writes them.
static bool EncodeBmp(BITMAP* image, std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> encoded;
    PACKFILE* file = pack_fopen_vtable(&BytesVtable, &encoded);
    if (!file)
        return false;
    const bool saved = save_bmp_pf(file, image, nullptr) == 0;
    pack_fclose(file);
    if (saved)
        bytes = std::move(encoded);
    return saved;
}

Image BitmapToImage(BITMAP* bitmap)
{
    Image image;
    image.Width = bitmap->w;
    image.Height = bitmap->h;
    image.Rgba.resize(size_t(image.Width) * size_t(image.Height) * 4);
    const int depth = bitmap_color_depth(bitmap);
    uint8_t* p = image.Rgba.data();
    for (int y = 0; y < image.Height; y++) {
        for (int x = 0; x < image.Width; x++, p += 4) {
            const int c = getpixel(bitmap, x, y);
            p[0] = uint8_t(getr_depth(depth, c));
            p[1] = uint8_t(getg_depth(depth, c));
            p[2] = uint8_t(getb_depth(depth, c));
            p[3] = 255;
        }
    }
    return image;
}

PictureFormat PictureFormatOf(const std::string& path)
{
    const std::string extension = LowerExtension(path);
    if (extension == "png")
        return PictureFormat::Png;
    if (extension == "bmp")
        return PictureFormat::Bmp;
    return PictureFormat::Unknown;
}

bool EncodePicture(BITMAP* image, PictureFormat format, std::vector<uint8_t>& bytes)
{
    if (format == PictureFormat::Bmp)
        return EncodeBmp(image, bytes);
    if (format != PictureFormat::Png)
        return false;
    std::vector<uint8_t> png = EncodePng(BitmapToImage(image));
    if (png.empty())
        return false;
    bytes = std::move(png);
    return true;
}

bool WritePicture(const std::string& path, BITMAP* image, PictureFormat format, Error& error)
{
    std::vector<uint8_t> bytes;
    if (!EncodePicture(image, format, bytes)) {
        error = Error{path, "not written: cannot encode the picture"};
        return false;
    }
    if (!WriteWholeFile(path, bytes, WriteMode::Replace, error)) {
        error.Reason = "not written: " + error.Reason;
        return false;
    }
    return true;
}

// A cleared bitmap with the red "X X" centred on x = mark_x, its top at mark_y.
static BitmapPtr MakePlaceholder(int width, int height, int mark_x, int mark_y)
{
    BitmapPtr image(create_bitmap(width, height));
    if (!image)
        return image;
    clear_bitmap(image.get());
    textout_centre_ex(image.get(), font, "X X", mark_x, mark_y, makecol(255, 30, 30), -1);
    return image;
}

BitmapPtr MakeTilePlaceholder()
{
    return MakePlaceholder(CellSize, CellSize, 16, 16);
}

BitmapPtr MakeSkyPlaceholder()
{
    return MakePlaceholder(SkyPlaceholderWidth, SkyPlaceholderHeight, 10, 10);
}

bool StartAllegroHeadless(Error& error)
{
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        error = Error{"", allegro_error};
        return false;
    }
    set_color_depth(16);
    set_color_conversion(COLORCONV_TOTAL);
    return true;
}

// The 5 bits that a channel of a 5-bit file held (stb_image widens them to
// 8 bits in a way that keeps them on top), widened as Allegro widens them.
static int Widen5(uint8_t channel)
{
    const int bits = channel >> 3;
    return bits << 3 | bits >> 2;
}

// A file of 256 colours reaches Allegro's screen through its palette of 6
// bits a channel, widened again by _rgb_scale_6; every widened value k lies
// within 4k..4k+3, so its top 5 or 6 bits, all a 15- or 16-bit pixel keeps,
// are those of the file's own 8-bit value. The plain conversion below gives
// the same pixels (the corpus test holds both to it).
BitmapPtr ImageToBitmap(const Image& image)
{
    BitmapPtr bitmap(create_bitmap(image.Width, image.Height));
    if (!bitmap)
        return bitmap;
    const int depth = bitmap_color_depth(bitmap.get());
    const uint8_t* p = image.Rgba.data();
    for (int y = 0; y < image.Height; y++) {
        // A memory bitmap of 15 or 16 bits is written straight into its row:
        // a sky may have millions of pixels.
        uint16_t* row = reinterpret_cast<uint16_t*>(bitmap->line[y]);
        for (int x = 0; x < image.Width; x++, p += 4) {
            int r = p[0], g = p[1], b = p[2];
            if (image.FiveBitChannels) {  // the 5 bits stored, their top bits repeated below
                r = Widen5(p[0]);
                g = Widen5(p[1]);
                b = Widen5(p[2]);
            }
            if (depth == 16)
                row[x] = static_cast<uint16_t>(makecol16(r, g, b));
            else if (depth == 15)
                row[x] = static_cast<uint16_t>(makecol15(r, g, b));
            else
                putpixel(bitmap.get(), x, y, makecol_depth(depth, r, g, b));
        }
    }
    return bitmap;
}
