// boardtool render: draws one view of a board file, exactly as the viewer
// draws it, and writes the view to a PNG or BMP file, without any display.
#include <cmath>
#include <string>

#include "command.h"
#include "render/frame.h"
#include "render/ground.h"  // Required for: GroundPositionLimit
#include "image_out.h"

namespace {

struct RenderArguments {
    std::string board;
    std::string out;
    float x = StartX;
    float y = StartY;
    int heading = StartAngle;
    int height = ViewHeightIndex;
    int ticks = 0;
    GroundOptions ground;
};

bool PositionAccepted(float value)
{
    return std::isfinite(value) && std::fabs(value) <= GroundPositionLimit;
}

// The most animation ticks a render runs before drawing: 8.4 hours of the
// viewer's time, far more than any animation cycle of a board file.
constexpr int MaxTicks = 1000000;

int Render(const RenderArguments& args)
{
    if (args.heading < 0 || args.heading >= AngleSteps)
        return Refuse("--heading " + std::to_string(args.heading) + " is outside 0..2879");
    if (args.height < 0 || args.height >= HeightSteps)
        return Refuse("--height " + std::to_string(args.height) + " is outside 0..99");
    if (!PositionAccepted(args.x) || !PositionAccepted(args.y))
        return Refuse("--x and --y must be numbers within -1073741824..1073741824");
    if (!ImageExtensionKnown(args.out))
        return RefuseImageName(args.out);

    World world;
    GroundRenderer ground;
    if (const int refused = ApplyGroundOptions(args.ground, ground))
        return refused;
    if (const int refused = OpenMapAfterTicks(world, args.board, args.ticks, MaxTicks))
        return refused;

    OffscreenFrame frame = MakeOffscreenFrame();
    if (!frame.View)
        return Refuse("out of memory for the back buffer");
    DrawView(world, ground, frame.View.get(), args.x, args.y, args.height, args.heading);
    return WriteImage(args.out, frame.View.get(), args.board, world);
}

}  // namespace

CommandRun SetupRender(CLI::App* command)
{
    const auto args = BoardOptions<RenderArguments>(command);
    AddPictureArgument(command, args->out);
    command->add_option("--x", args->x, "viewer position, world x, -1073741824..1073741824 (default 480)");
    command->add_option("--y", args->y, "viewer position, world y, -1073741824..1073741824 (default 480)");
    command->add_option("--heading", args->heading, "heading in 1/8 degree steps, 0..2879 (default 0)");
    command->add_option("--height", args->height, "height index, 0..99 (default 14)");
    command->add_option("--ticks", args->ticks, "animation ticks before drawing, 0..1000000 (default 0)");
    AddGroundOptions(command, args->ground);
    return Runs(Render, args);
}
