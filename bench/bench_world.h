// The world the benchmarks draw: the default board file when the source tree
// has one, otherwise a map of the same kind made on the spot.
#pragma once

#include <string>

#include "core/world.h"

// A board file to benchmark with: data/test.brd of the source tree when it
// exists (the working directory then moves to data/.., where its image names
// are relative to), else a made map written into a fresh directory under
// /tmp that becomes the working directory. Empty with `error` set when
// neither works. `description` says which one it is.
std::string PrepareBenchBoard(std::string& description, Error& error);

// Writes the made map into `directory` as bench.brd with its images, named
// relative to that directory, which becomes the working directory.
bool MakeBenchBoard(const std::string& directory, Error& error);

// Removes the made map's directory, if one was made.
void RemoveBenchBoard();
