// Writing boardtool's pictures: PNG through libloadpng, BMP through Allegro,
// each into a temporary file that takes the target's name only when whole.
#include "image_out.h"

#include <sys/stat.h>  // Required for: umask(), fchmod()
#include <unistd.h>    // Required for: close(), unlink()

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>  // Required for: mkstemp()

#include "command.h"

#include <loadpng.h>  // Required for: save_png(); needs allegro.h first

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

int WriteImage(const std::string& path, BITMAP* image)
{
    const ImageFormat format = FormatOf(path);
    if (format == ImageFormat::Unknown)
        return RefuseImageName(path);
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return Refuse("cannot write " + path + ": cannot create a file beside it");
    // mkstemp makes the file private; a picture gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    const bool permitted = fchmod(fd, 0666 & ~mask) == 0;
    close(fd);
    const int saved = format == ImageFormat::Png ? save_png(temporary.c_str(), image, nullptr)
                                                 : save_bmp(temporary.c_str(), image, nullptr);
    if (!permitted || saved != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return Refuse("cannot write " + path);
    }
    return 0;
}
