// The World's files: LoadMap, SaveMap and CreateMap on top of the board-file
// library, NewMap on top of the tile list. Everything that can fail is done
// into temporaries; the World changes only once all of it is in hand.
#include <cstring>
#include <memory>

#include "board/board_file.h"
#include "board/tile_list.h"
#include "core/world.h"
#include "files/files.h"
#include "image/image_file.h"

int World::LoadMap(const char* name)
{
    Error error;
    auto board = std::make_unique<BoardFile>();
    if (!ReadBoardFile(name, *board, error))
        return Fail(error);
    return LoadRecord(*board, HostPath(name));
}

int World::LoadMapFromMemory(const uint8_t* data, size_t size, const char* name)
{
    Error error;
    auto board = std::make_unique<BoardFile>();
    if (!ParseBoard(data, size, name, *board, error))
        return Fail(error);
    return LoadRecord(*board, name);
}

int World::LoadRecord(const MapRecord& map, const std::string& name, const ImagesInMemory& made)
{
    // An image held in memory, else the file, each decoded once for every
    // slot that names it; the placeholder says enough in the picture when
    // neither can be had.
    MapImages images;
    auto image = [&](const char* file, bool tile) {
        Error reason;
        const auto it = made.find(file);
        BitmapPtr loaded = it != made.end() ? images.FromImage(file, *it->second, reason) : images.Load(file, reason);
        if (loaded)
            return loaded;
        return tile ? MakeTilePlaceholder() : MakeSkyPlaceholder();
    };
    std::vector<BitmapPtr> tiles;
    tiles.reserve(static_cast<size_t>(map.TileCount));
    for (int k = 0; k < map.TileCount; k++) {
        BitmapPtr tile = image(map.TileNames[k], true);
        if (!tile)
            return Fail(Error{name, "cannot make a bitmap for tile " + std::to_string(k)});
        tiles.push_back(std::move(tile));
    }
    BitmapPtr sky = image(map.SkyName, false);
    if (!sky)
        return Fail(Error{name, "cannot make a bitmap for the sky"});

    Commit(map, std::move(tiles), std::move(sky));
    return 0;
}

void World::Commit(const MapRecord& map, std::vector<BitmapPtr> tiles, BitmapPtr sky)
{
    // Each cell keeps its Frame: the animation goes on where it was.
    for (int tx = 0; tx < MapSize; tx++) {
        for (int ty = 0; ty < MapSize; ty++) {
            const uint8_t frame = Cells[tx][ty].Frame;
            Cells[tx][ty] = map.Cells[tx][ty];
            Cells[tx][ty].Frame = frame;
        }
    }
    Tiles = std::move(tiles);  // the replaced images are destroyed here
    TileCount = map.TileCount;
    std::memcpy(TileNames, map.TileNames, sizeof TileNames[0] * static_cast<size_t>(TileCount));
    AnimDelay = map.AnimDelay;
    AnimLastFrame = map.AnimLastFrame;
    ExtraFloat = map.ExtraFloat;
    ReplaceSky(map.SkyName, std::move(sky));
}

int World::SaveMap(const char* name)
{
    Error error;
    if (!SaveBoardFile(name, *this, error))
        return Fail(error);
    return 0;
}

int World::CreateMap(const char* name)
{
    Error error;
    if (!CreateBoardFile(name, *this, error))
        return Fail(error);
    return 0;
}

int World::NewMap(const char* list)
{
    TileList parsed;
    Error error;
    if (!ReadTileList(list, parsed, error))
        return Fail(error);
    const std::string listName = HostPath(list);

    std::vector<BitmapPtr> tiles;
    tiles.reserve(parsed.Count);
    MapImages images;
    for (const std::string& name : parsed.Names) {
        Error reason;
        BitmapPtr image = images.Load(name.c_str(), reason);
        if (!image)
            image = MakeTilePlaceholder();
        if (!image)
            return Fail(Error{listName, "cannot make a placeholder for the missing " + name});
        tiles.push_back(std::move(image));
    }
    // A blank sky of the placeholder's size, without its mark.
    BitmapPtr sky(create_bitmap(SkyPlaceholderWidth, SkyPlaceholderHeight));
    if (!sky)
        return Fail(Error{listName, "cannot make the blank " + std::to_string(SkyPlaceholderWidth) +
                    " x " + std::to_string(SkyPlaceholderHeight) + " sky"});
    clear_to_color(sky.get(), 0);

    // Every cell shows tile 1 and stands still; ExtraA, ExtraB and LastFrame
    // stay as the map before left them.
    for (auto& column : Cells)
        for (MapCell& cell : column) {
            cell.Tile = 1;
            cell.Flags = 0;
            cell.ExtraC = 0;
            cell.Delay = 0;
            cell.ExtraD = 0;
            cell.Tick = 0;
            cell.Frame = 0;
        }
    // The used slots are zeroed past the name, so that nothing of an earlier
    // map ends up in a saved file; the slots after them stay as they were.
    TileCount = parsed.Count;
    for (int k = 0; k < parsed.Count; k++) {
        std::memset(TileNames[k], 0, NameSlotSize);
        std::memcpy(TileNames[k], parsed.Names[k].data(), parsed.Names[k].size());
    }
    // Moving in the new images destroys the ones they replace.
    Tiles = std::move(tiles);
    ExtraFloat = 0.5f;
    Sky = std::move(sky);
    return 0;
}
