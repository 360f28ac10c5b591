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
