// What the fuzz targets share: Allegro started once without a display, a
// scratch directory holding a few small images, a World put into a state
// that a refused operation must leave exactly as it was, and a back buffer
// whose every pixel outside the view is checked after drawing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/world.h"

// Stops the run as a finding (libFuzzer saves the input) when `condition`
// does not hold.
void Require(bool condition, const std::string& what);

// Every fuzz target's LLVMFuzzerInitialize is the one in fuzz_support.cpp:
// it starts Allegro headless at 16 bits, builds the angle tables, and moves
// the working directory into a fresh scratch directory (removed at exit)
// that holds the images of FuzzImages.

// Images in the scratch directory, named as the seed inputs name them:
// "a.bmp" 64 x 32 (two frames), "b.bmp" 1 x 1, "s.bmp" a 300 x 40 sky.
// Any other name is missing and gets a placeholder.
extern const char* const FuzzImages[];

// Fills every field of `world` with values that no load or new map would
// produce by chance, and gives it one 32 x 32 tile and a sky, so that
// comparing before and after shows any change.
void MarkWorld(World& world);

// Everything observable in a World: every byte of its records, and the
// identity of its images (a refused operation must not even replace them).
struct WorldCopy {
    explicit WorldCopy(const World& world);
    bool Same(const World& world) const;

    std::vector<uint8_t> bytes;
    std::vector<const BITMAP*> tiles;
    const BITMAP* sky;
};

// A 640 x 480 back buffer and its 480 x 180 view at (10, 8).
struct CheckedFrame {
    BitmapPtr Backbuffer;
    BitmapPtr View;
};
CheckedFrame MakeCheckedFrame();

// Colour of every back buffer pixel before a draw; whatever a renderer
// writes outside the view shows up as a changed pixel.
constexpr int Canary = 0xF81F;
void FillCanary(const CheckedFrame& frame);
// Requires every back buffer pixel outside the view to hold the canary, and
// also the view's last row when `lastRowKept` is true.
void RequireOnlyViewWritten(const CheckedFrame& frame, bool lastRowKept, const char* who);

// Draws sky and ground with both ground renderers into two checked frames and
// requires that nothing outside the view changed and that both renderers
// drew the same pixels.
void DrawAndCompare(const World& world, float x, float y, int height, int angle, int horizon);
