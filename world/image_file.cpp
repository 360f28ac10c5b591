// Decoding image files with stb_image, after the file and its header's
// dimensions have been checked, so that no header can make us allocate or
// read without bound.
#include "image_file.h"

#include <stb_image.h>  // Required for: stbi_info_from_memory(), stbi_load_from_memory()

#include <cstring>
#include <memory>

#include "board_file.h"

bool DecodeImageFile(const char* name, Image& out, std::string& error)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(name, bytes, error))
        return false;
    if (static_cast<int64_t>(bytes.size()) > MaxImageFileBytes) {
        error = std::string(name) + ": " + std::to_string(bytes.size()) + " bytes, an image may have at most " +
                std::to_string(MaxImageFileBytes);
        return false;
    }
    const int length = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(bytes.data(), length, &width, &height, &channels)) {
        error = std::string(name) + ": not an image in a format we read (" + stbi_failure_reason() + ")";
        return false;
    }
    if (width <= 0 || height <= 0 || int64_t(width) * height > MaxImagePixels) {
        error = std::string(name) + ": " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels, an image may have at most " + std::to_string(MaxImagePixels);
        return false;
    }
    int gotWidth = 0, gotHeight = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes.data(), length, &gotWidth, &gotHeight, &channels, 4), stbi_image_free);
    if (!pixels) {
        error = std::string(name) + ": cannot decode: " + stbi_failure_reason();
        return false;
    }
    Image image;
    image.Width = gotWidth;
    image.Height = gotHeight;
    image.Rgba.assign(pixels.get(), pixels.get() + size_t(gotWidth) * size_t(gotHeight) * 4);
    for (size_t i = 3; i < image.Rgba.size(); i += 4)
        if (image.Rgba[i] != 255) {
            image.HasAlpha = true;
            break;
        }
    out = std::move(image);
    return true;
}

BitmapPtr ImageToBitmap(const Image& image)
{
    BitmapPtr bitmap(create_bitmap(image.Width, image.Height));
    if (!bitmap)
        return bitmap;
    const uint8_t* p = image.Rgba.data();
    for (int y = 0; y < image.Height; y++)
        for (int x = 0; x < image.Width; x++, p += 4)
            putpixel(bitmap.get(), x, y, makecol(p[0], p[1], p[2]));
    return bitmap;
}
