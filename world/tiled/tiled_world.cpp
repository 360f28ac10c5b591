// LoadTiledMap: the import's map record taken into a World, with the tile
// images the import would write held in memory; the others are loaded as a
// board file's are.
#include "tiled/tiled_world.h"

#include <filesystem>
#include <new>

#include "core/world.h"
#include "tiled/tiled_map.h"

bool LoadTiledMap(World& world, const char* name, Error& error)
{
    TiledImport imported;
    // New images get the names the import would give them by default.
    const std::string imagesDir = std::filesystem::path(name).replace_extension().generic_string();
    if (!ImportTiledMap(name, imagesDir, imported, error))
        return false;
    ImagesInMemory made;
    for (const TiledImport::NewImage& image : imported.Images)
        made[image.Name] = &image.Pixels;
    try {
        if (world.LoadRecord(*imported.Map, name, made) != 0) {
            error = world.LastError();
            return false;
        }
    } catch (const std::bad_alloc&) {
        error = Error{name, "out of memory while loading the map's images"};
        return false;
    }
    return true;
}
