// The tile list: a text file holding a tile count and that many image file
// names, from which a new map is built. The parser works on bytes
// in memory, so that tests and fuzzers can feed it without files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "files/error.h"

// A tile list once read and checked: Names holds exactly the counted names,
// each 1 to 127 characters long, none containing white space or a NUL byte.
struct TileList {
    int Count = 0;
    std::vector<std::string> Names;
    size_t End = 0;  // offset just past the last name (past the count when it is 0)
};

// Reads a tile list the way fscanf reads it with "%i" for the count and then
// "%s" for each name: white space (space, tab, LF, CR, VT, FF) separates the
// tokens in any mix, a count may carry a sign and be written in decimal, in
// octal with a leading 0 or in hexadecimal with 0x, and it ends at the first
// character that cannot continue it ("12abc" is 12, then the name "abc").
// Whatever follows the last counted name is never looked at.
//
// Refuses, with a message naming `listName` and the fault, a list without a
// count at its start, a count below 0 or above MaxTiles (100), a "0x" with no
// hexadecimal digit after it, fewer names than the count, a name longer than
// 127 characters and a name holding a NUL byte. On refusal `out` is unchanged.
bool ParseTileList(const char* text, size_t size, const std::string& listName,
                   TileList& out, Error& error);

// Reads and parses the tile list stored as `name` (a backslash separates
// directories), reading no more than a list can need: a file whose count
// and names do not end within its first megabyte is refused.
bool ReadTileList(const char* name, TileList& out, Error& error);
