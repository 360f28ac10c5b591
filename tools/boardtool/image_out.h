// Pictures written by boardtool: the file name's extension chooses the
// format, and a failed write leaves whatever the file held before.
#pragma once

#include <allegro.h>
#include <CLI/CLI.hpp>

#include <string>

#include "core/world.h"

// Writes `image` to `path` as PNG (".png") or BMP (".bmp"), in either case of
// letters, whole or not at all, never over the map `board` or any file it
// is made of (a Tiled map's tilesets and their images too), never through a link nor over anything but a
// regular file. Returns 0, or prints why it cannot and returns 1; any other
// extension is refused before anything is written.
int WriteImage(const std::string& path, BITMAP* image, const std::string& board, const World& world);

// Opens the map `board` for a command that draws and runs its animation
// `ticks` ticks, 0..maxTicks: returns 0, or prints why not and returns 1.
int OpenMapAfterTicks(World& world, const std::string& board, int ticks, int maxTicks);

// The argument OUT of the commands that draw: the picture WriteImage writes.
void AddPictureArgument(CLI::App* command, std::string& out);

// True when `path` ends in an extension WriteImage knows.
bool ImageExtensionKnown(const std::string& path);
// Prints why `path` is no name for a picture and returns status 1.
int RefuseImageName(const std::string& path);
