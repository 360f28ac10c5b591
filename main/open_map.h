// Opening the map the viewer shows: a board file, or a Tiled map read into
// memory, chosen by the file name's extension.
#pragma once

#include <string>

#include "core/world.h"

// True when `name` ends in .tmx, .tmj or .json (in either case of letters).
bool IsTiledMapName(const std::string& name);

// Loads the map `name` into `world`. On failure returns false with `error`
// naming the file and the fault, and `world` is left as it was.
bool OpenMap(World& world, const std::string& name, Error& error);
