// Where the viewer starts and the geometry of what it sees: the 640 x 480
// frame (the back buffer, and the frame picture painted into it), the
// 480 x 180 view carved out of it, the horizon row and the viewer's height.
// The viewer, the tools that draw without a display and the default world's
// frame picture all take these from here.
#pragma once

constexpr int FrameWidth = 640;  // the back buffer, and the frame picture
constexpr int FrameHeight = 480;
constexpr int ViewLeft = 10;     // the view's place in the back buffer
constexpr int ViewTop = 8;
constexpr int ViewWidth = 480;
constexpr int ViewRows = 180;
constexpr int ViewHeightIndex = 14;  // the viewer's height: an index into ViewHeight
constexpr int Horizon = 100;         // the view row of the horizon

// Where the viewer starts: over cell (15, 15), looking along +x.
constexpr float StartX = 480.0f;
constexpr float StartY = 480.0f;
constexpr int StartAngle = 0;
