// Image files decoded into plain pixels, with bounds checked before anything
// is allocated, and turned into bitmaps of the screen's depth.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "world.h"

constexpr int64_t MaxImageFileBytes = int64_t(256) << 20;  // larger files are refused unread
constexpr int64_t MaxImagePixels = int64_t(64) << 20;      // width x height of any image we load

// Pixels decoded from an image file: red, green, blue and alpha, one byte
// each, row by row from the top.
struct Image {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;  // Width * Height * 4 bytes
    bool HasAlpha = false;      // some pixel is not fully opaque
};

// Decodes the image file `name` (a name as stored in a board file: a
// backslash separates directories). On failure returns false with `error`
// naming the file and the reason; `out` is then left as it was.
bool DecodeImageFile(const char* name, Image& out, std::string& error);

// The image as a memory bitmap of the current colour depth; null when the
// bitmap cannot be made.
BitmapPtr ImageToBitmap(const Image& image);
