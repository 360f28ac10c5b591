// One logic tick of viewer control, fed with key states instead of a keyboard.
#include <gtest/gtest.h>

#include "control.h"
#include "core/tables.h"

static ViewerState At(float x, float y, int angle)
{
    ViewerState viewer;
    viewer.x = x;
    viewer.y = y;
    viewer.angle = angle;
    return viewer;
}

static const TickKeys Right{true, false, false};
static const TickKeys Left{false, true, false};
static const TickKeys Up{false, false, true};

TEST(Control, StartsAtTheSpawnPoint)
{
    const ViewerState viewer;
    EXPECT_EQ(viewer.x, 480.0f);
    EXPECT_EQ(viewer.y, 480.0f);
    EXPECT_EQ(viewer.angle, 0);
}

TEST(Control, TurnsWrapAroundTheFullTurn)
{
    ViewerState viewer = At(480, 480, 0);
    StepViewer(viewer, Right);
    EXPECT_EQ(viewer.angle, 2862);

    viewer.angle = 2870;
    StepViewer(viewer, Left);
    EXPECT_EQ(viewer.angle, 8);

    viewer.angle = 10;
    StepViewer(viewer, Right);
    EXPECT_EQ(viewer.angle, 2872);

    viewer.angle = 2862;
    StepViewer(viewer, Left);
    EXPECT_EQ(viewer.angle, 0);

    // Turning never moves the viewer.
    EXPECT_EQ(viewer.x, 480.0f);
    EXPECT_EQ(viewer.y, 480.0f);
}

TEST(Control, LeftAndRightTogetherCancel)
{
    for (int angle : {0, 8, 17, 18, 1440, 2861, 2862, 2870, 2879}) {
        ViewerState viewer = At(480, 480, angle);
        StepViewer(viewer, TickKeys{true, true, false});
        EXPECT_EQ(viewer.angle, angle);
    }
}

TEST(Control, NoKeysNoChange)
{
    ViewerState viewer = At(12.5f, -7.25f, 1234);
    StepViewer(viewer, TickKeys{});
    EXPECT_EQ(viewer.x, 12.5f);
    EXPECT_EQ(viewer.y, -7.25f);
    EXPECT_EQ(viewer.angle, 1234);
}

TEST(Control, UpMovesSevenUnitsAlongTheHeading)
{
    ViewerState viewer;
    for (int tick = 1; tick <= 100; tick++) {
        StepViewer(viewer, Up);
        EXPECT_EQ(viewer.x, 480.0f + 7.0f * tick);
        EXPECT_EQ(viewer.y, 480.0f);
    }

    // A quarter turn to the left looks along -y.
    viewer = At(480, 480, 720);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.y, 473.0f);
    EXPECT_NEAR(viewer.x, 480.0f, 1e-4f);

    // The step is the table's float product, added as a float.
    viewer = At(480, 480, 414);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.x, 480.0f + CosTable[414] * 7.0f);
    EXPECT_EQ(viewer.y, 480.0f + SinTable[414] * -7.0f);
}

TEST(Control, TurnComesBeforeTheStep)
{
    ViewerState viewer = At(480, 480, 702);
    StepViewer(viewer, TickKeys{false, true, true});
    EXPECT_EQ(viewer.angle, 720);
    EXPECT_EQ(viewer.y, 473.0f);
}

TEST(Control, RunningPastTheFarBoundJumpsToTheOtherSide)
{
    // 3035 + 7 = 3042, and one more step would pass 3045: in the same tick
    // the viewer lands on -3045 and runs on from there towards the map.
    ViewerState viewer = At(3035, 480, 0);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.x, -3045.0f);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.x, -3038.0f);

    // One step short of the test: 3031 + 7 + 7 = 3045 is not beyond it.
    viewer = At(3031, 480, 0);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.x, 3038.0f);

    // The same along +y (heading 2160) and along -x and -y.
    viewer = At(480, 3035, 2160);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.y, -3045.0f);
    viewer = At(-3035, 480, 1440);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.x, 3045.0f);
    viewer = At(480, -3035, 720);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.y, 3045.0f);
}

TEST(Control, BoundTestsRunFarBeforeNear)
{
    // A viewer beyond the far bound walking back: the far test sends it to
    // -3045, and the near test, run after it, then sends it to +3045. Run the
    // other way round, the viewer would end on -3045.
    ViewerState viewer = At(3060, 480, 1440);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.x, 3045.0f);

    viewer = At(480, 3060, 720);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.y, 3045.0f);
}

TEST(Control, BothAxesWrapInOneTick)
{
    // Heading 360 (45 degrees left of +x) near the +x, -y corner: x passes its
    // far bound and y its near bound in the same tick, each on its own test.
    ViewerState viewer = At(3040, -3040, 360);
    StepViewer(viewer, Up);
    EXPECT_EQ(viewer.x, -3045.0f);
    EXPECT_EQ(viewer.y, 3045.0f);
}
