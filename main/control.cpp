// One logic tick of viewer control. Keys are held-down state sampled once per
// tick, so holding a key repeats its action 33 times a second.
#include "control.h"

#include "core/tables.h"  // Required for: SinTable, CosTable, WrapAngle

// One step of `length` along the heading (negative: backward). Each wrap
// test looks one step ahead, and the order matters: x before y, the far
// bound before the near one. A jump to -3045 lets the viewer run on
// towards the map from the other side.
static void Move(ViewerState& viewer, float length)
{
    // Step 720 points along -y, so a positive sine moves y down.
    const float dy = SinTable[viewer.angle] * -length;
    const float dx = CosTable[viewer.angle] * length;
    viewer.x += dx;
    viewer.y += dy;
    if (viewer.x + dx > PositionBound)
        viewer.x = -PositionBound;
    if (viewer.y + dy > PositionBound)
        viewer.y = -PositionBound;
    if (viewer.x + dx < -PositionBound)
        viewer.x = PositionBound;
    if (viewer.y + dy < -PositionBound)
        viewer.y = PositionBound;
}

void StepViewer(ViewerState& viewer, const TickKeys& keys, const ViewerState& start)
{
    if (keys.home)
        viewer = start;

    // Right then Left: both held cancel out, each wrap applied on its own.
    if (keys.right)
        viewer.angle = WrapAngle(viewer.angle - TurnStep);
    if (keys.left)
        viewer.angle = WrapAngle(viewer.angle + TurnStep);

    if (keys.up)
        Move(viewer, ForwardStep);
    if (keys.down)
        Move(viewer, -ForwardStep);

    if (keys.higher && viewer.height < MaxHeightIndex)
        viewer.height++;
    if (keys.lower && viewer.height > 0)
        viewer.height--;
}
