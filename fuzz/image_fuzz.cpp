// The image loader on arbitrary bytes: every header check, stb_image,
// giflib, libjpeg-turbo and Allegro's PCX reader behind it. An accepted file must give exactly the
// pixels its size says and a bitmap of that size; a refused one must leave
// the result untouched and name the file. No input may allocate more than
// the pixel limit allows (libFuzzer's -rss_limit_mb stops one that does).
#include <cstring>

#include "fuzz_support.h"
#include "image/image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Image image;
    image.Width = -7;  // a mark that a refusal must leave
    Error error;
    if (!DecodeImage(data, size, "fuzz.img", AllegroReaders(), image, error)) {
        Require(image.Width == -7 && image.Rgba.empty(), "a refused image changed the result");
        Require(error.Message().rfind("fuzz.img: ", 0) == 0, "a refusal does not name the file: " + error.Message());
        return 0;
    }
    Require(image.Width > 0 && image.Height > 0 && int64_t(image.Width) * image.Height <= MaxImagePixels,
            "accepted an image of " + std::to_string(image.Width) + " x " + std::to_string(image.Height));
    Require(image.Rgba.size() == size_t(image.Width) * size_t(image.Height) * 4, "pixels do not fill the image");
    Require(image.Frames >= 1, "an image of " + std::to_string(image.Frames) + " pictures");
    // Small images become bitmaps as the loader would make them.
    if (int64_t(image.Width) * image.Height <= 1 << 16) {
        BitmapPtr bitmap = ImageToBitmap(image);
        Require(bitmap && bitmap->w == image.Width && bitmap->h == image.Height, "the bitmap has another size");
    }
    return 0;
}
