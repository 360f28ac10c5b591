// Writing boardtool's pictures: encoded in memory as PNG or BMP, then
// written through the file layer, whole or not at all.
#include "image_out.h"

#include <vector>

#include "command.h"
#include "files/files.h"
#include "tiled/open_map.h"  // Required for: OpenMap(), MapSourceFiles()

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

int OpenMapAfterTicks(World& world, const std::string& board, int ticks, int maxTicks)
{
    if (ticks < 0 || ticks > maxTicks)
        return Refuse("--ticks " + std::to_string(ticks) + " is outside 0.." + std::to_string(maxTicks));
    Error error;
    if (!OpenMap(world, board, error))
        return Refuse(error);
    for (int tick = 0; tick < ticks; ++tick)
        world.AnimateTiles();
    return 0;
}

int WriteImage(const std::string& path, BITMAP* image, const std::string& board, const World& world)
{
    const PictureFormat format = PictureFormatOf(path);
    if (format == PictureFormat::Unknown)
        return RefuseImageName(path);
    // The map, every image the World names and, for a Tiled map, its
    // tilesets and their images.
    for (const std::string& input : MapSourceFiles(board, &world))
        if (SameFile(path, input))
            return Refuse(path + ": not written: it is " + input + ", which this command reads");

    Error error;
    if (!WritePicture(path, image, format, error))
        return Refuse(error);
    return 0;
}
