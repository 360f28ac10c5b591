// Image files decoded into plain pixels, with the file and its header checked
// before anything is allocated. No graphics library here: the pixels are
// plain bytes, and a format whose reader lives above (PCX) is read by the
// function the caller hands over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/error.h"


constexpr int64_t MaxImageFileBytes = int64_t(256) << 20;  // larger files are refused unread
constexpr int64_t MaxImagePixels = int64_t(64) << 20;      // width x height of any image we load
// Beyond this many pixels, an image must have a byte of file for every
// MaxPixelsPerFileByte of them: a few kilobytes of compressed data cannot
// make tens of millions of pixels (which only a blank picture would be).
// The decoded pixels of all the images one map loads together (its tiles
// and its sky, each file counted once however many slots name it).
constexpr int64_t MaxMapPixels = int64_t(128) << 20;
constexpr int64_t PixelsAtAnySize = int64_t(4) << 20;
constexpr int64_t MaxPixelsPerFileByte = 2048;

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
    // Pictures the file holds: more than 1 for an animation, of which only
    // the first is decoded.
    int Frames = 1;
};

// Reads the pixels of a file of a format that this library checks but does
// not decode itself; called only once the header has been checked against
// the file's size. On failure `why` gives the reason, without the file name.
using PixelReader = bool (*)(const uint8_t* data, size_t size, Image& out, std::string& why);

// The readers a decode may call beyond its own: a file of a format without
// one is refused.
struct ImageReaders {
    PixelReader Pcx = nullptr;
};

// Decodes the image file `name` (a name as stored in a board file: a
// backslash separates directories). Only a regular file of at most
// MaxImageFileBytes is read, and one whose header claims more than
// MaxImagePixels, or more pixels than its bytes hold, is refused before
// decoding. On failure returns false with `error` naming the file as opened
// and the reason; `out` is then left as it was.
// `pixelsLeft` is what a map's budget has left for this image: a header
// claiming more is refused too, naming the map's budget.
bool DecodeImageFile(const char* name, const ImageReaders& readers, Image& out, Error& error,
                     int64_t pixelsLeft = MaxMapPixels);

// The same for an image file's bytes in memory; `fileName` names it in
// messages.
bool DecodeImage(const uint8_t* data, size_t size, const std::string& fileName, const ImageReaders& readers,
                 Image& out, Error& error, int64_t pixelsLeft = MaxMapPixels);

// The bytes of a PNG file holding `image`, every channel of it; empty when
// it cannot be encoded (an image too large for the encoder, no memory).
std::vector<uint8_t> EncodePng(const Image& image);
