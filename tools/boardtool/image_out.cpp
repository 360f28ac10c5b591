// Writing boardtool's pictures: encoded in memory as PNG or BMP, then
// written through the file layer, whole or not at all.
#include "image_out.h"

#include <vector>

#include "command.h"
#include "files/files.h"

void AddPictureArgument(CLI::App* command, std::string& out)
{
    command->add_option("OUT", out,
                        "picture to write: NAME.png or NAME.bmp; only a regular file is replaced, never\n"
                        "BOARD or an image it names, never through a symbolic link")
        ->required();
}

bool ImageExtensionKnown(const std::string& path)
{
    return PictureFormatOf(path) != PictureFormat::Unknown;
}

int RefuseImageName(const std::string& path)
{
    return Refuse(path + ": the name must end in .png or .bmp, which chooses the format");
}

int WriteImage(const std::string& path, BITMAP* image, const std::string& board, const World& world)
{
    const PictureFormat format = PictureFormatOf(path);
    if (format == PictureFormat::Unknown)
        return RefuseImageName(path);
    std::vector<std::string> read = {HostPath(board.c_str()), HostPath(world.SkyName)};
    for (int k = 0; k < world.TileCount; k++)
        read.push_back(HostPath(world.TileNames[k]));
    for (const std::string& input : read)
        if (SameFile(path, input))
            return Refuse(path + ": not written: it is " + input + ", which this command reads");

    Error error;
    if (!WritePicture(path, image, format, error))
        return Refuse(error);
    return 0;
}
