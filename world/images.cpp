// Image files and the placeholders that stand in for the ones that cannot be
// loaded; also Allegro's start-up for programs without a display.
#include "world.h"

#include <loadpng.h>  // Required for: register_png_file_type(); needs allegro.h first

#include <cerrno>

#include "image_file.h"

BitmapPtr LoadImage(const char* name, std::string& error)
{
    Image image;
    if (!DecodeImageFile(name, image, error))
        return nullptr;
    BitmapPtr bitmap = ImageToBitmap(image);
    if (!bitmap)
        error = HostPath(name) + ": no memory for a bitmap of " + std::to_string(image.Width) + " x " +
                std::to_string(image.Height) + " pixels";
    return bitmap;
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

bool EncodeBmp(BITMAP* image, std::vector<uint8_t>& bytes)
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

bool SaveBmpFile(const std::string& path, BITMAP* image, std::string& error)
{
    std::vector<uint8_t> bytes;
    if (!EncodeBmp(image, bytes)) {
        error = path + ": not written: cannot encode the picture";
        return false;
    }
    if (!WriteFileAtomically(path, bytes, error)) {
        error = path + ": not written: " + error;
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

bool StartAllegroHeadless(std::string& error)
{
    if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
        error = allegro_error;
        return false;
    }
    set_color_depth(16);
    set_color_conversion(COLORCONV_TOTAL);
    register_png_file_type();
    return true;
}
