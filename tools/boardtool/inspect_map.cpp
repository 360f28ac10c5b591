// Opening a board file or a Tiled map for boardtool's info and check.
#include "inspect_map.h"

bool InspectMap(const std::string& name, InspectedBoard& out, MapKind& kind, Error& error)
{
    MapContents contents;
    if (!ReadMapContents(name, contents, error))
        return false;
    const ImagesInMemory made = contents.Made();
    // An image held in memory, else the file, as the viewer takes it.
    auto image = [&](const char* file, std::string& why) {
        const auto it = made.find(file);
        if (it != made.end()) {
            BitmapPtr bitmap = ImageToBitmap(*it->second);
            if (!bitmap)
                why = std::string(file) + ": no memory for the composed image";
            return bitmap;
        }
        Error reason;
        BitmapPtr loaded = LoadImage(file, reason);
        why = reason.Message();
        return loaded;
    };
    InspectedBoard result;
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
