// GIF and JPEG, decoded by giflib and libjpeg-turbo: the image library's own
// readers for them, called by DecodeImage once the file's mark is seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "image/image_file.h"

// Says whether a picture of `width` x `height` may be decoded: false with
// `why` set when it may not. Called once the size is known, before any
// pixel is decoded.
using SizeCheck = std::function<bool(int64_t width, int64_t height, std::string& why)>;

// Progressive JPEG scans decoded at most: each costs a pass over the whole
// picture, and a small file can hold thousands.
constexpr int MaxJpegScans = 500;
// Pictures of an animated GIF counted at most (only the first is decoded).
constexpr int MaxGifFramesCounted = 4096;

// The first picture of a GIF, on its logical screen (transparent where the
// picture does not cover it); `out.Frames` counts the pictures, up to
// MaxGifFramesCounted. Every pixel's index must lie within the colour table
// that applies. On failure returns false with `why`, without the file name.
bool DecodeGif(const uint8_t* data, size_t size, const SizeCheck& check, Image& out, std::string& why);

// A baseline or progressive JPEG, grey or colour (CMYK is refused), as
// libjpeg-turbo decodes it by default; one cut short is refused.
bool DecodeJpeg(const uint8_t* data, size_t size, const SizeCheck& check, Image& out, std::string& why);
