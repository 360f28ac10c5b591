// A board file opened for inspection: its decoded bytes and every image it
// names, each loaded exactly as the viewer loads it but kept null when it
// fails, so that a tool can tell a missing image from a placeholder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board/board_file.h"
#include "core/world.h"
#include "files/files.h"

struct InspectedBoard {
    std::unique_ptr<BoardFile> board;
    std::vector<BitmapPtr> tiles;         // null where the image cannot be loaded
    std::vector<std::string> tileErrors;  // then why, naming the file
    BitmapPtr sky;                        // null when the image cannot be loaded
    std::string skyError;                 // then why, naming the file
    std::unique_ptr<MapImages> images;    // each loaded once, with what their files hold
};

// Whole 32-pixel frames side by side in an image.
int WholeFrames(const BITMAP* image);

// A name as it can be printed on one line: bytes outside printable ASCII
// are written as \xNN.
std::string Printable(const char* name);
