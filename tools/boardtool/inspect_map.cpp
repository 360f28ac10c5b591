// Opening a board file or a Tiled map for boardtool's info and check.
#include "inspect_map.h"

bool InspectMap(const std::string& name, InspectedBoard& out, MapKind& kind, Error& error)
{
    MapContents contents;
    if (!ReadMapContents(name, contents, error))
        return false;
    const ImagesInMemory made = contents.Made();
    InspectedBoard result;
    // Each image once, within the map's pixel budget, as the viewer takes
    // it: one held in memory (composed from a Tiled map), else the file.
    result.images = std::make_unique<MapImages>();
    auto image = [&](const char* file, std::string& why) {
        Error reason;
        const auto it = made.find(file);
        BitmapPtr bitmap = it != made.end() ? result.images->FromImage(file, *it->second, reason)
                                            : result.images->Load(file, reason);
        why = reason.Message();
        return bitmap;
    };
    for (int k = 0; k < contents.Board->TileCount; k++) {
        std::string why;
        result.tiles.push_back(image(contents.Board->TileNames[k], why));
        result.tileErrors.push_back(why);
    }
    result.sky = image(contents.Board->SkyName, result.skyError);
    result.board = std::move(contents.Board);
    kind = contents.Kind;
    out = std::move(result);
    return true;
}
