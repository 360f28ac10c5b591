// World::LoadTiledMap: a Tiled map shown without writing a file. The tile
// images the import would write are turned into bitmaps in memory; the
// others are loaded as a board file's are.
#include <filesystem>

#include "tiled_map.h"
#include "world.h"

int World::LoadTiledMap(const char* name)
{
    TiledImport imported;
    std::string error;
    // New images get the names the import would give them by default.
    const std::string imagesDir = std::filesystem::path(name).replace_extension().generic_string();
    if (!ImportTiledMap(name, imagesDir, imported, error))
        return Fail(error);
    std::map<std::string, const Image*> made;
    for (const TiledImport::NewImage& image : imported.Images)
        made[image.Name] = &image.Pixels;
    auto bitmap = [&](const char* file, bool tile) {
        const auto it = made.find(file);
        if (it != made.end())
            return ImageToBitmap(*it->second);
        return tile ? LoadImage(file) : LoadSkyImage(file);
    };
    const MapRecord& map = *imported.Map;
    std::vector<BitmapPtr> tiles;
    for (int k = 0; k < map.TileCount; k++) {
        BitmapPtr tile = bitmap(map.TileNames[k], true);
        if (!tile)
            tile = MakeTilePlaceholder();
        if (!tile)
            return Fail(std::string(name) + ": cannot make a bitmap for tile " + std::to_string(k));
        tiles.push_back(std::move(tile));
    }
    BitmapPtr sky = bitmap(map.SkyName, false);
    if (!sky)
        return Fail(std::string(name) + ": cannot make a bitmap for the sky");
    Commit(map, std::move(tiles), std::move(sky));
    return 0;
}
