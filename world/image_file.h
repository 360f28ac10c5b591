// Image files decoded into plain pixels, with the file and its header checked
// before anything is allocated, and turned into bitmaps of the screen's depth
// with the colours Allegro's own loader would give them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "world.h"

constexpr int64_t MaxImageFileBytes = int64_t(256) << 20;  // larger files are refused unread
constexpr int64_t MaxImagePixels = int64_t(64) << 20;      // width x height of any image we load

// The formats read, for messages.
extern const char ImageFormats[];

// Pixels decoded from an image file: red, green, blue and alpha, one byte
// each, row by row from the top.
struct Image {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;  // Width * Height * 4 bytes
    bool HasAlpha = false;      // some pixel is not fully opaque
    // The file holds 5 bits a channel, which Allegro widens by repeating
    // their top bits; ImageToBitmap widens them so.
    bool FiveBitChannels = false;
};

// Decodes the image file `name` (a name as stored in a board file: a
// backslash separates directories). Only a regular file of at most
// MaxImageFileBytes is read, and one whose header claims more than
// MaxImagePixels, or more pixels than its bytes hold, is refused before
// decoding. On failure returns false with `error` naming the file as opened
// and the reason; `out` is then left as it was.
bool DecodeImageFile(const char* name, Image& out, std::string& error);

// The same for an image file's bytes in memory; `fileName` names it in
// messages.
bool DecodeImage(const uint8_t* data, size_t size, const std::string& fileName, Image& out, std::string& error);

// The image as a memory bitmap of the current colour depth, each pixel as
// Allegro's load_bitmap with COLORCONV_TOTAL converts it; alpha is dropped
// as it drops it. Null when the bitmap cannot be made.
BitmapPtr ImageToBitmap(const Image& image);
