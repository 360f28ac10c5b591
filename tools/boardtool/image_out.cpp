// Writing boardtool's pictures: encoded in memory as PNG or BMP, then
// written through the file layer, whole or not at all.
#include "image_out.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "command.h"
#include "files.h"
#include "image_file.h"
#include "tiled_map.h"  // Required for: EncodePng()

namespace {

enum class ImageFormat { Unknown, Png, Bmp };

ImageFormat FormatOf(const std::string& path)
{
    const size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.')
        return ImageFormat::Unknown;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "png")
        return ImageFormat::Png;
    if (extension == "bmp")
        return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

}  // namespace

bool ImageExtensionKnown(const std::string& path)
{
    return FormatOf(path) != ImageFormat::Unknown;
}

int RefuseImageName(const std::string& path)
{
    return Refuse(path + ": the name must end in .png or .bmp, which chooses the format");
}

// The picture as the bytes of a PNG file: its pixels widened to 8 bits a
// channel as Allegro widens them, fully opaque.
static std::vector<uint8_t> EncodePngOf(BITMAP* image)
{
    Image pixels;
    pixels.Width = image->w;
    pixels.Height = image->h;
    pixels.Rgba.reserve(size_t(image->w) * size_t(image->h) * 4);
    for (int y = 0; y < image->h; y++) {
        for (int x = 0; x < image->w; x++) {
            const int colour = getpixel(image, x, y);
            pixels.Rgba.insert(pixels.Rgba.end(), {uint8_t(getr(colour)), uint8_t(getg(colour)),
                                                   uint8_t(getb(colour)), 255});
        }
    }
    return EncodePng(pixels);
}

int WriteImage(const std::string& path, BITMAP* image, const std::string& board, const World& world)
{
    const ImageFormat format = FormatOf(path);
    if (format == ImageFormat::Unknown)
        return RefuseImageName(path);
    std::vector<std::string> read = {HostPath(board.c_str()), HostPath(world.SkyName)};
    for (int k = 0; k < world.TileCount; k++)
        read.push_back(HostPath(world.TileNames[k]));
    for (const std::string& input : read)
        if (SameFile(path, input))
            return Refuse(path + ": not written: it is " + input + ", which this command reads");

    std::vector<uint8_t> bytes;
    if (format == ImageFormat::Png)
        bytes = EncodePngOf(image);
    else if (!EncodeBmp(image, bytes))
        bytes.clear();
    if (bytes.empty())
        return Refuse(path + ": not written: cannot encode the picture");
    std::string error;
    if (!WriteFileAtomically(path, bytes, error))
        return Refuse(path + ": not written: " + error);
    return 0;
}
