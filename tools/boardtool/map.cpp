// boardtool map: the whole map seen from above, each cell's tile at its frame
// after some ticks, texel for texel as the ground renderer shows it.
#include <memory>
#include <string>

#include "command.h"
#include "image_out.h"
#include "render/map_view.h"

namespace {

struct MapArguments {
    std::string board;
    std::string out;
    int ticks = 0;
    int scale = 1;
};

// An hour of animation at 33 ticks a second: far more than any cycle needs
// (a cell's cycle is at most 256 frames of 128 ticks), and still quick.
constexpr int MaxTicks = 33 * 3600;

int DrawMap(const MapArguments& args)
{
    if (args.scale < 1 || MapSide % args.scale != 0)
        return Refuse("--scale " + std::to_string(args.scale) +
                      " does not divide 2048: use 1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024 or 2048");
    if (!ImageExtensionKnown(args.out))
        return RefuseImageName(args.out);

    World world;
    if (const int refused = OpenMapAfterTicks(world, args.board, args.ticks, MaxTicks))
        return refused;

    const int side = MapViewSide(args.scale);
    BitmapPtr picture(create_bitmap_ex(16, side, side));
    if (!picture)
        return Refuse("out of memory for a " + std::to_string(side) + " x " + std::to_string(side) + " picture");
    DrawMapView(world, picture.get(), args.scale);
    return WriteImage(args.out, picture.get(), args.board, world);
}

}  // namespace

CommandRun SetupMap(CLI::App* command)
{
    const auto args = BoardOptions<MapArguments>(command);
    AddPictureArgument(command, args->out);
    command->add_option("--ticks", args->ticks, "animation ticks before drawing (default 0)");
    command->add_option("--scale", args->scale, "a whole factor down, each pixel the middle of its square (default 1)");
    return Runs(DrawMap, args);
}
