// A map of either kind opened for inspection: a board file as InspectBoard
// opens it, or a Tiled map as the board that import would make of it, its
// composed tile images taken from memory.
#pragma once

#include <string>

#include "inspect.h"
#include "tiled/open_map.h"

// Reads the map `name` through the viewer's opener and loads its images,
// each kept null when it cannot be loaded. On failure `error` names the
// file and the fault.
bool InspectMap(const std::string& name, InspectedBoard& out, MapKind& kind, Error& error);
