// A Tiled map shown in a World without writing a file.
#pragma once

#include "files/error.h"

class World;

// Fills `world` from a Tiled map (.tmx, .tmj or .json) as `boardtool import`
// would make it, with the composed tile images held in memory only: nothing
// is written. On failure returns false with `error` naming the file and the
// fault; `world` is then left as it was.
bool LoadTiledMap(World& world, const char* name, Error& error);
