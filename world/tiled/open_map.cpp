// Opening a board file or a Tiled map by its name, and listing the files it
// is made of for a viewer that follows every save.
#include "tiled/open_map.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "files/files.h"  // Required for: ReadWholeFile(), ReadFileStart(), HostPath(), LowerExtension()

namespace {

// Whether the first bytes of a file read as a board say XML or JSON text
// (after a UTF-8 byte order mark and white space): what a Tiled map under
// another name would hold. A board file's first byte is followed by its
// body offset, which no such text gives a sane value.
const char* TiledTextKind(const std::string& name)
{
    // (The file layer opens regular files only, never waiting on a FIFO.)
    std::vector<uint8_t> bytes;
    Error ignored;
    if (!ReadFileStart(name.c_str(), 64, bytes, ignored))
        return nullptr;
    const size_t size = bytes.size();
    size_t i = 0;
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        i = 3;
    while (i < size && std::isspace(bytes[i]))
        i++;
    const std::string start(reinterpret_cast<const char*>(bytes.data()) + i, std::min(size - i, size_t(5)));
    if (start == "<?xml" || start.rfind("<map", 0) == 0)
        return "XML";
    if (!start.empty() && start[0] == '{')
        return "JSON";
    return nullptr;
}

}  // namespace

MapKind MapKindOf(const std::string& name)
{
    const std::string extension = LowerExtension(name);
    return extension == "tmx" || extension == "tmj" || extension == "json" ? MapKind::Tiled : MapKind::Board;
}

ImagesInMemory MapContents::Made() const
{
    ImagesInMemory made;
    for (const TiledImport::NewImage& image : Images)
        made[image.Name] = &image.Pixels;
    return made;
}

bool ReadMapContents(const std::string& name, MapContents& out, Error& error)
{
    MapContents result;
    result.Kind = MapKindOf(name);
    result.Board = std::make_unique<BoardFile>();
    if (result.Kind == MapKind::Board) {
        if (!ReadBoardFile(name.c_str(), *result.Board, error)) {
            // Read as a board, a Tiled map gives a nonsense body offset:
            // say what it is instead.
            if (const char* text = TiledTextKind(HostPath(name.c_str())))
                error = Error{name, std::string("holds ") + text +
                                        " text, like a Tiled map, not a board file; a Tiled map is read "
                                        "by its name: .tmx for XML, .tmj or .json for JSON"};
            return false;
        }
    } else {
        TiledImport imported;
        // New images get the names the import would give them by default.
        const std::string imagesDir = std::filesystem::path(name).replace_extension().generic_string();
        if (!ImportTiledMap(name, imagesDir, imported, error))
            return false;
        static_cast<MapRecord&>(*result.Board) = *imported.Map;
        result.Board->HeaderByte = 0;
        result.Board->BodyOffset = static_cast<int32_t>(BoardHeaderSize);
        result.Board->FileSize = static_cast<uint64_t>(BoardHeaderSize + BoardBodySize(imported.Map->TileCount));
        result.Images = std::move(imported.Images);
        result.Warnings = std::move(imported.Warnings);
    }
    out = std::move(result);
    return true;
}

bool OpenMap(World& world, const std::string& name, Error& error)
{
    MapContents contents;
    if (!ReadMapContents(name, contents, error))
        return false;
    if (world.LoadRecord(*contents.Board, name, contents.Made()) != 0) {
        error = world.LastError();
        return false;
    }
    return true;
}

std::vector<std::string> MapSourceFiles(const std::string& name, const World* world)
{
    std::vector<std::string> files;
    std::set<std::string> seen;
    auto add = [&](const std::string& file) {
        if (!file.empty() && seen.insert(file).second)
            files.push_back(file);
    };
    add(HostPath(name.c_str()));

    if (MapKindOf(name) == MapKind::Tiled) {
        std::vector<uint8_t> bytes;
        Error error;
        if (ReadWholeFile(name.c_str(), MaxTiledFileBytes, bytes, error)) {
            // Every tileset asked for is listed, also one that fails to load.
            const TilesetLoader loader = [&](const std::string& path, std::vector<uint8_t>& data, Error& why) {
                add(path);
                return ReadTilesetFile(path, data, why);
            };
            TiledDocument doc;
            if (ParseTiledMap(bytes.data(), bytes.size(), name, loader, doc, error)) {
                for (const TiledTileset& set : doc.Tilesets) {
                    add(set.Image);
                    for (const auto& [id, image] : set.TileImages)
                        add(image);
                }
                for (const auto& [key, property] : doc.Properties)
                    if (property.Type == "file")
                        add(property.Text);
            }
        }
    }
    // What the loaded map names: for a board its images; for a Tiled map the
    // sky when it is a file (composed tiles are in memory and never exist).
    if (world) {
        for (int k = 0; k < world->TileCount && k < MaxTiles; k++)
            add(HostPath(world->TileNames[k]));
        add(HostPath(world->SkyName));
    }
    return files;
}
