// One logic tick of viewer control. Keys are held-down state sampled once per
// tick, so holding a key repeats its action 33 times a second.
#include "control.h"

#include "core/tables.h"  // Required for: SinTable, CosTable, WrapAngle

void StepViewer(ViewerState& viewer, const TickKeys& keys)
{
    // Right then Left: both held cancel out, each wrap applied on its own.
    if (keys.right)
        viewer.angle = WrapAngle(viewer.angle - TurnStep);
    if (keys.left)
        viewer.angle = WrapAngle(viewer.angle + TurnStep);

    if (keys.up) {
        // Step 720 points along -y, so a positive sine moves y down.
        const float dy = SinTable[viewer.angle] * -ForwardStep;
        const float dx = CosTable[viewer.angle] * ForwardStep;
        viewer.x += dx;
        viewer.y += dy;
        // Each test looks one step ahead, and the order matters: x before y,
        // the far bound before the near one. A jump to -3045 lets the viewer
        // run on towards the map from the other side.
        if (viewer.x + dx > PositionBound)
            viewer.x = -PositionBound;
        if (viewer.y + dy > PositionBound)
            viewer.y = -PositionBound;
        if (viewer.x + dx < -PositionBound)
            viewer.x = PositionBound;
        if (viewer.y + dy < -PositionBound)
            viewer.y = PositionBound;
    }
}
