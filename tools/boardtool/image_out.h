// Pictures written by boardtool: the file name's extension chooses the
// format, and a failed write leaves whatever the file held before.
#pragma once

#include <allegro.h>
#include <CLI/CLI.hpp>

#include <string>

#include "core/world.h"

// Writes `image` to `path` as PNG (".png") or BMP (".bmp"), in either case of
// letters, whole or not at all, never over the board file `board` or an
// image that `world` names, never through a link nor over anything but a
// regular file. Returns 0, or prints why it cannot and returns 1; any other
// extension is refused before anything is written.
int WriteImage(const std::string& path, BITMAP* image, const std::string& board, const World& world);

// The argument OUT of the commands that draw: the picture WriteImage writes.
void AddPictureArgument(CLI::App* command, std::string& out);

// True when `path` ends in an extension WriteImage knows.
bool ImageExtensionKnown(const std::string& path);
// Prints why `path` is no name for a picture and returns status 1.
int RefuseImageName(const std::string& path);
