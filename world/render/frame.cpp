// One frame of the viewer's picture, shared by the viewer and the tools that
// render without a display, so that both draw exactly the same thing.
#include "render/frame.h"

BitmapPtr MakeView(BITMAP* backbuffer)
{
    return BitmapPtr(create_sub_bitmap(backbuffer, ViewLeft, ViewTop, ViewWidth, ViewRows));
}

void DrawView(const World& world, GroundRenderer& ground, BITMAP* view, float x, float y, int height, int angle)
{
    world.DrawSky(view, x, y, height, angle, Horizon);
    ground.Draw(world, view, x, y, height, angle, Horizon);
}

OffscreenFrame MakeOffscreenFrame()
{
    OffscreenFrame frame;
    frame.Backbuffer.reset(create_bitmap(FrameWidth, FrameHeight));
    if (!frame.Backbuffer)
        return frame;
    clear_to_color(frame.Backbuffer.get(), 0);
    frame.View = MakeView(frame.Backbuffer.get());
    if (!frame.View)
        frame.Backbuffer.reset();
    return frame;
}
