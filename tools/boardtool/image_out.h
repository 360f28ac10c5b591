// Pictures written by boardtool: the file name's extension chooses the
// format, and a failed write leaves whatever the file held before.
#pragma once

#include <allegro.h>

#include <string>

// Writes `image` to `path` as PNG (".png") or BMP (".bmp"), in either case of
// letters, through a temporary file beside it. Returns 0, or prints why it
// cannot and returns 1; any other extension is refused before anything is
// written.
int WriteImage(const std::string& path, BITMAP* image);

// True when `path` ends in an extension WriteImage knows.
bool ImageExtensionKnown(const std::string& path);
// Prints why `path` is no name for a picture and returns status 1.
int RefuseImageName(const std::string& path);
