// viewcheck: checks a screenshot of the viewer against the map it shows.
//
//   viewcheck pose SCREEN BOARD MAP MAX_STEPS
//     checks that SCREEN is 640 x 480 and equals the frame picture BOARD
//     outside the view, then finds the pose that the view shows: a heading
//     reached by turning (a multiple of 18 steps), then up to MAX_STEPS steps
//     forward from the start, after some number of animation ticks. Prints
//     "x y angle ticks" (the position to the last bit) and exits 0, or says
//     what did not match and exits 1. Run it in the directory holding data/.
//
//   viewcheck view SCREEN IMAGE
//     checks that SCREEN is 640 x 480 and that its view (all rows but the
//     last, which neither renderer draws) equals the 480 x 180 image IMAGE,
//     or the view of the 640 x 480 IMAGE.
//
//   viewcheck walk SCREEN MAP X Y HEADING HEIGHT MAX_STEPS
//     finds how many steps forward (positive) or backward (negative), at
//     most MAX_STEPS, from (X, Y) along HEADING at height index HEIGHT the
//     view in SCREEN shows, for the map MAP (a board or a Tiled map) as
//     loaded; prints the steps and the position they lead to, or says that none match and exits 1.
//
//   viewcheck height SCREEN MAP X Y HEADING
//     finds the height index 0..99 that the view in SCREEN shows at that
//     pose; prints it, or exits 1.
//
//   viewcheck alarm SCREEN
//     prints how many pixels of the status band at the frame's bottom have
//     the colour of an alarm line, and exits 1 when there are none.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "control.h"
#include "core/world.h"
#include "render/frame.h"
#include "tiled/open_map.h"

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "viewcheck: %s\n", message.c_str());
    return 1;
}

int Pixel(BITMAP* image, int x, int y)
{
    return reinterpret_cast<const uint16_t*>(image->line[y])[x];
}

// Loads the two pictures a check compares; false, having said why, when
// either cannot be loaded.
bool LoadBoth(const char* firstName, BitmapPtr& first, const char* secondName, BitmapPtr& second)
{
    Error error;
    first = LoadImage(firstName, error);
    if (first)
        second = LoadImage(secondName, error);
    if (!first || !second)
        Fail(error.Message());
    return first && second;
}

bool InView(int x, int y)
{
    return x >= ViewLeft && x < ViewLeft + ViewWidth && y >= ViewTop && y < ViewTop + ViewRows;
}

// True when rows [top, bottom) of the view in `screen` equal those of `view`.
bool ViewRowsEqual(BITMAP* screen, BITMAP* view, int top, int bottom)
{
    for (int y = top; y < bottom; y++)
        if (std::memcmp(screen->line[ViewTop + y] + 2 * ViewLeft, view->line[y], 2 * ViewWidth) != 0)
            return false;
    return true;
}

// Ticks after which every animation of the map is back where it started.
long AnimationPeriod(const World& world)
{
    long period = 1;
    if (world.AnimLastFrame > 0 && world.AnimDelay >= 0)
        period = std::lcm(period, static_cast<long>(world.AnimDelay + 1) * (world.AnimLastFrame + 1));
    for (const auto& column : world.Cells)
        for (const MapCell& cell : column)
            if ((cell.Flags & CellAnimated) && cell.Delay >= 0)
                period = std::lcm(period, static_cast<long>(cell.Delay + 1) * (cell.LastFrame + 1));
    return period;
}

int FindPose(const char* screenName, const char* boardName, const char* mapName, int maxSteps)
{
    BitmapPtr screenShot, board;
    if (!LoadBoth(screenName, screenShot, boardName, board))
        return 1;
    BITMAP* shot = screenShot.get();
    if (shot->w != 640 || shot->h != 480)
        return Fail(std::string(screenName) + " is " + std::to_string(shot->w) + "x" +
                    std::to_string(shot->h) + ", not 640x480");

    // Outside the view, and on its last row, the frame picture shows as it is.
    long differing = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const bool drawn = InView(x, y) && y < ViewTop + ViewRows - 1;
            if (!drawn && Pixel(shot, x, y) != Pixel(board.get(), x, y))
                differing++;
        }
    if (differing)
        return Fail(std::to_string(differing) + " pixels outside the view differ from " + boardName);

    World world;
    if (world.LoadMap(mapName) != 0)
        return Fail(world.LastError().Message());
    OffscreenFrame frame = MakeOffscreenFrame();
    BITMAP* view = frame.View.get();

    // The sky depends on the heading alone.
    std::vector<int> headings;
    for (int angle = 0; angle < AngleSteps; angle += TurnStep) {
        world.DrawSky(view, 0, 0, ViewHeightIndex, angle, Horizon);
        if (ViewRowsEqual(shot, view, 0, Horizon + 1))
            headings.push_back(angle);
    }
    if (headings.empty())
        return Fail("no heading in steps of 18 shows the sky of the screenshot");

    // The ground: the position after n steps, and the animation's phase.
    const long period = AnimationPeriod(world);
    for (long ticks = 0; ticks < period; ticks++) {
        for (int angle : headings) {
            ViewerState viewer;
            viewer.angle = angle;
            for (int steps = 0; steps <= maxSteps; steps++) {
                world.DrawGround(view, viewer.x, viewer.y, ViewHeightIndex, angle, Horizon);
                if (ViewRowsEqual(shot, view, Horizon + 1, ViewRows - 1)) {
                    std::printf("%.9g %.9g %d %ld\n", viewer.x, viewer.y, angle, ticks);
                    return 0;
                }
                StepViewer(viewer, TickKeys{false, false, true});
            }
        }
        world.AnimateTiles();
    }
    return Fail("no pose of heading " + std::to_string(headings.front()) + " and up to " +
                std::to_string(maxSteps) + " steps forward shows the ground of the screenshot");
}

int CompareView(const char* screenName, const char* imageName)
{
    BitmapPtr shot, image;
    if (!LoadBoth(screenName, shot, imageName, image))
        return 1;
    if (shot->w != FrameWidth || shot->h != FrameHeight)
        return Fail(std::string(screenName) + " is " + std::to_string(shot->w) + "x" + std::to_string(shot->h) +
                    ", not 640x480");
    BitmapPtr view;
    if (image->w == 640 && image->h == 480)
        view.reset(create_sub_bitmap(image.get(), ViewLeft, ViewTop, ViewWidth, ViewRows));
    else if (image->w == ViewWidth && image->h == ViewRows)
        view.reset(create_sub_bitmap(image.get(), 0, 0, ViewWidth, ViewRows));
    else
        return Fail(std::string(imageName) + " is neither a view nor a whole screen");
    if (!ViewRowsEqual(shot.get(), view.get(), 0, ViewRows - 1))
        return Fail(std::string("the view in ") + screenName + " differs from " + imageName);
    return 0;
}

// The screenshot and the map loaded, and a frame to draw views into.
struct Scene {
    BitmapPtr shot;
    World world;
    OffscreenFrame frame;
};

bool LoadScene(const char* screenName, const char* mapName, Scene& scene)
{
    Error error;
    scene.shot = LoadImage(screenName, error);
    if (!scene.shot) {
        Fail(error.Message());
        return false;
    }
    if (!OpenMap(scene.world, mapName, error)) {
        Fail(error.Message());
        return false;
    }
    scene.frame = MakeOffscreenFrame();
    return scene.frame.View != nullptr;
}

bool GroundShown(Scene& scene, const ViewerState& viewer)
{
    BITMAP* view = scene.frame.View.get();
    scene.world.DrawGround(view, viewer.x, viewer.y, viewer.height, viewer.angle, Horizon);
    return ViewRowsEqual(scene.shot.get(), view, Horizon + 1, ViewRows - 1);
}

int FindWalk(const char* screenName, const char* mapName, float x, float y, int angle, int height, int maxSteps)
{
    Scene scene;
    if (!LoadScene(screenName, mapName, scene))
        return 1;
    for (int sign : {1, -1}) {
        ViewerState viewer;
        viewer.x = x;
        viewer.y = y;
        viewer.angle = angle;
        viewer.height = height;
        TickKeys keys;
        keys.up = sign > 0;
        keys.down = sign < 0;
        for (int steps = 0; steps <= maxSteps; steps++) {
            if (GroundShown(scene, viewer)) {
                std::printf("%d %.9g %.9g\n", sign * steps, viewer.x, viewer.y);
                return 0;
            }
            StepViewer(viewer, keys);
        }
    }
    return Fail("no walk of up to " + std::to_string(maxSteps) + " steps shows the ground of the screenshot");
}

int FindHeight(const char* screenName, const char* mapName, float x, float y, int angle)
{
    Scene scene;
    if (!LoadScene(screenName, mapName, scene))
        return 1;
    for (int height = 0; height < HeightSteps; height++) {
        ViewerState viewer;
        viewer.x = x;
        viewer.y = y;
        viewer.angle = angle;
        viewer.height = height;
        if (GroundShown(scene, viewer)) {
            std::printf("%d\n", height);
            return 0;
        }
    }
    return Fail("no height index shows the ground of the screenshot");
}

int CountAlarm(const char* screenName)
{
    Error error;
    BitmapPtr shot = LoadImage(screenName, error);
    if (!shot)
        return Fail(error.Message());
    const int alarm = StatusAlarmColour();
    long count = 0;
    for (int y = StatusTop; y < StatusTop + StatusHeight && y < shot->h; y++)
        for (int x = StatusLeft; x < StatusLeft + StatusWidth && x < shot->w; x++)
            count += Pixel(shot.get(), x, y) == alarm;
    std::printf("%ld\n", count);
    return count > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Error error;
    if (!StartAllegroHeadless(error))
        return Fail("cannot start Allegro: " + error.Reason);
    BuildTables();
    if (argc == 6 && std::strcmp(argv[1], "pose") == 0)
        return FindPose(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    if (argc == 4 && std::strcmp(argv[1], "view") == 0)
        return CompareView(argv[2], argv[3]);
    if (argc == 9 && std::strcmp(argv[1], "walk") == 0)
        return FindWalk(argv[2], argv[3], std::strtof(argv[4], nullptr), std::strtof(argv[5], nullptr),
                        std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8]));
    if (argc == 7 && std::strcmp(argv[1], "height") == 0)
        return FindHeight(argv[2], argv[3], std::strtof(argv[4], nullptr), std::strtof(argv[5], nullptr),
                          std::atoi(argv[6]));
    if (argc == 3 && std::strcmp(argv[1], "alarm") == 0)
        return CountAlarm(argv[2]);
    std::fputs("usage: viewcheck pose SCREEN BOARD MAP MAX_STEPS | viewcheck view SCREEN IMAGE |\n"
               "       viewcheck walk SCREEN MAP X Y HEADING HEIGHT MAX_STEPS |\n"
               "       viewcheck height SCREEN MAP X Y HEADING | viewcheck alarm SCREEN\n",
               stderr);
    return 2;
}
