// Videos decoded back to pictures for the tests, through FFmpeg's libraries
// (not through anything boardtool video uses to make them): every frame as
// 8-bit RGB, and the peak signal-to-noise ratio between two pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb;  // rows of Width R, G, B triples, top first
};

struct DecodedVideo {
    int Frames = 0;
    int Width = 0;
    int Height = 0;
    std::string Codec;       // the codec's short name, e.g. "h264"
    double Seconds = 0;      // the stream's duration, from its time stamps
    std::vector<RgbPicture> Kept;  // the frames asked for
};

// Decodes every frame of `path` and keeps those whose index is in `keep`
// (-1: the last). False with the reason in `error` when it cannot.
bool DecodeVideo(const std::string& path, const std::vector<int>& keep, DecodedVideo& video, std::string& error);

// The rectangle at (left, top) of `picture` as large as `size`.
RgbPicture Crop(const RgbPicture& picture, int left, int top, int width, int height);

// Each `scale` x `scale` block of `picture` averaged into one pixel (rounded
// to nearest); empty when the picture is not made of whole blocks.
RgbPicture Shrink(const RgbPicture& picture, int scale);

// PSNR of `b` against `a` over every channel of every pixel, in dB; a large
// number (1000) when they are equal, -1 when their sizes differ.
double Psnr(const RgbPicture& a, const RgbPicture& b);
// The same over each pixel's luma (BT.601: 0.299 R + 0.587 G + 0.114 B),
// the measure video codecs are usually compared by.
double LumaPsnr(const RgbPicture& a, const RgbPicture& b);
