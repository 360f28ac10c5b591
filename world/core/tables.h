// The process-wide angle and projection tables: every direction is a whole
// number of angle steps, and nothing that runs per tick or per frame calls a
// trigonometric function.
#pragma once

// One full turn is 2880 angle steps of 1/8 degree. Step 0 points along +x,
// step 720 along -y; turning left increases the step. Valid steps are
// 0..2879, brought back into range by one test each way.
constexpr int AngleSteps = 2880;
constexpr int HeightSteps = 100;

// A step that left 0..2879 by less than a turn, brought back into range.
inline int WrapAngle(int angle)
{
    if (angle < 0)
        angle += AngleSteps;
    if (angle > AngleSteps - 1)
        angle -= AngleSteps;
    return angle;
}

// Sine and cosine of each angle step, indexed 0..2879.
extern float SinTable[AngleSteps];
extern float CosTable[AngleSteps];
// 1000 / cos of each angle step: the ground renderer's distance scale for a
// ray that many steps off the heading. Huge (but finite) at 720 and 2160.
extern float RCosTable[AngleSteps];
// The viewer's height scale for each height index 0..99: i * 0.2718...
extern float ViewHeight[HeightSteps];

// Fills the four tables. Start-up calls it once; calling it again writes the
// same values.
void BuildTables();
