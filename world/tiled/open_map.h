// Opening a map, whatever kind it is: a board file, or a Tiled map (.tmx,
// .tmj, .json) read as `boardtool import` would make it, with its composed
// tile images held in memory and nothing written. The viewer and every
// boardtool command that reads a map open it here, so they read the same
// files the same way.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board/board_file.h"
#include "core/world.h"
#include "files/error.h"
#include "tiled/tiled_map.h"  // Required for: TiledImport

enum class MapKind { Board, Tiled };

// A Tiled map when `name` ends in .tmx, .tmj or .json (in either case of
// letters), else a board file.
MapKind MapKindOf(const std::string& name);

// A map as read, before any image is loaded.
struct MapContents {
    MapKind Kind = MapKind::Board;
    // The board file as decoded; for a Tiled map the board that import would
    // write (header byte 0, body at offset 5).
    std::unique_ptr<BoardFile> Board;
    // Tiled: the images the record names that exist only in memory.
    std::vector<TiledImport::NewImage> Images;
    std::vector<std::string> Warnings;

    // The in-memory images by the names the record gives them.
    ImagesInMemory Made() const;
};

// Reads the map `name`. On failure returns false with `error` naming the
// file and the fault; a file with another name that holds a Tiled map is
// refused with a hint to name it as one, rather than read as a board.
bool ReadMapContents(const std::string& name, MapContents& out, Error& error);

// Loads the map `name` into `world` with its images. On failure returns
// false with `error` naming the file and the fault, and `world` is left as
// it was.
bool OpenMap(World& world, const std::string& name, Error& error);

// Every file the map `name` is made of, as far as it can be read now: the
// map; for a Tiled map its external tilesets and every image they or the
// map's properties name; for a board its tile images and sky, as `world`
// (the map loaded, or null) names them. A map that cannot be read lists
// what was found before the fault (at least the map itself), so that a
// repair of any of them can be noticed. Each file once, as it is opened.
std::vector<std::string> MapSourceFiles(const std::string& name, const World* world);
