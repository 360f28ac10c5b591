// A Tiled map made into a board: each distinct tile appearance (tile, flips,
// animation) becomes one tile image, a strip of 32 x 32 frames composed from
// the tilesets' images; a map written by our export brings back the board it
// came from wherever it was left alone.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>

#include "board/board_file.h"
#include "core/bitmap.h"
#include "core/ticks.h"
#include "files/files.h"
#include "tiled/tiled_map.h"

BoardLook ExportedLook(const MapCell& cell, int tileCount, const std::vector<int>& frames)
{
    BoardLook look;
    look.Tile = std::min<int>(cell.Tile, tileCount - 1);
    // Delay 127 never advances and LastFrame 0 stays on frame 0: both still.
    if ((cell.Flags & CellAnimated) && cell.Delay != 127 && cell.LastFrame > 0 &&
        cell.LastFrame < frames[size_t(look.Tile)]) {
        look.Delay = std::max<int>(cell.Delay, 0);  // a negative delay advances every tick, as 0 does
        look.LastFrame = cell.LastFrame;
    }
    return look;
}

int FrameMilliseconds(int ticks)
{
    return int(std::lround(ticks * 1000.0 / TicksPerSecond));
}

int DurationTicks(int64_t milliseconds)
{
    return int(std::max<int64_t>(1, std::llround(double(milliseconds) * TicksPerSecond / 1000.0)));
}

namespace {

namespace fs = std::filesystem;

constexpr int MaxFrames = 256;  // a cell's LastFrame is 8 bits
constexpr uint8_t DefaultSky[3] = {135, 185, 235};

// Failures inside the importer, thrown to the one catch in ImportTiledMap.
struct Refusal {
    Error error;
};

// One tile appearance composed: its strip and the animation of its cells.
struct Composed {
    Image Strip;
    int Delay = 0;
    int LastFrame = 0;
};

class Importer {
public:
    Importer(TiledDocument& doc, const std::string& imagesDir, TiledImport& out)
        : doc(doc), imagesDir(imagesDir), out(out)
    {
    }
    void Run();

private:
    [[noreturn]] void Refuse(const std::string& what) { throw Refusal{Error{doc.FileName, what}}; }
    const TiledTileset& SetOf(uint32_t gid, uint32_t& local);
    const Image& Picture(const std::string& path, const TiledTileset& set);
    void TilePixels(const TiledTileset& set, uint32_t local, std::vector<uint8_t>& rgb);
    Composed Compose(uint32_t gid);
    bool BoardLookOf(uint32_t gid, BoardLook& look);
    int SlotFor(uint32_t gid);
    int BoardSlot(int tile);
    bool IntProperty(const char* name, int32_t& value);
    void ReadBoardProperty();
    uint32_t OutsideGid();

    TiledDocument& doc;
    std::string imagesDir;
    TiledImport& out;
    std::map<std::string, Image> pictures;
    std::unique_ptr<BoardFile> original;  // the board an export carried, if any
    std::vector<int> originalFrames;      // frames of each of its tiles, as its tilesets say
    bool outsideMoved = false;            // tile 0 is no longer the original's tile 0
    int movedZero = -1;                   // slot of the original tile 0 once moved
    std::vector<std::string> slotNames;   // board names of the slots that reuse one
    std::map<uint32_t, int> slotOfGid;
    std::map<int, Composed> composed;     // by slot
};

const TiledTileset& Importer::SetOf(uint32_t gid, uint32_t& local)
{
    const uint32_t id = gid & ~GidFlags;
    for (size_t i = doc.Tilesets.size(); i-- > 0;) {
        const TiledTileset& set = doc.Tilesets[i];
        if (set.FirstGid <= id) {
            local = id - set.FirstGid;
            return set;
        }
    }
    Refuse("tile id " + std::to_string(id) + " belongs to no tileset");
}

const Image& Importer::Picture(const std::string& path, const TiledTileset& set)
{
    auto it = pictures.find(path);
    if (it != pictures.end())
        return it->second;
    Image image;
    Error error;
    if (path.empty())
        Refuse("tileset \"" + set.Name + "\" has no image");
    if (!DecodeImageFile(path.c_str(), AllegroReaders(), image, error))
        throw Refusal{Error{set.Source, "tileset \"" + set.Name + "\": image " + error.Message()}};
    return pictures.emplace(path, std::move(image)).first->second;
}

// The tile's pixels at the map's tile size, RGB over the background colour.
void Importer::TilePixels(const TiledTileset& set, uint32_t local, std::vector<uint8_t>& rgb)
{
    const int t = doc.TileWidth;
    const std::string where = "tile " + std::to_string(local) + " of tileset \"" + set.Name + "\"";
    const Image* image;
    int x0 = 0, y0 = 0;
    if (set.Image.empty()) {
        const auto found = set.TileImages.find(local);
        if (found == set.TileImages.end())
            Refuse(where + " does not exist");
        image = &Picture(found->second, set);
        if (image->Width != t || image->Height != t)
            Refuse(where + ": its image is " + std::to_string(image->Width) + " x " + std::to_string(image->Height) +
                   " pixels, the map's tiles " + std::to_string(t) + " x " + std::to_string(t));
    } else {
        if (set.TileWidth != t || set.TileHeight != t)
            Refuse("tileset \"" + set.Name + "\" has tiles of " + std::to_string(set.TileWidth) + " x " +
                   std::to_string(set.TileHeight) + " pixels, the map " + std::to_string(t) + " x " + std::to_string(t));
        image = &Picture(set.Image, set);
        const int64_t columns = (int64_t(image->Width) - 2 * set.Margin + set.Spacing) / (t + set.Spacing);
        const int64_t rows = (int64_t(image->Height) - 2 * set.Margin + set.Spacing) / (t + set.Spacing);
        if (columns <= 0 || rows <= 0 || local >= columns * rows)
            Refuse(where + " lies outside its image (" + std::to_string(std::max<int64_t>(columns, 0)) + " x " +
                   std::to_string(std::max<int64_t>(rows, 0)) + " tiles)");
        x0 = int(set.Margin + int64_t(local % columns) * (t + set.Spacing));
        y0 = int(set.Margin + int64_t(local / columns) * (t + set.Spacing));
    }
    rgb.resize(size_t(t) * size_t(t) * 3);
    for (int y = 0; y < t; y++) {
        for (int x = 0; x < t; x++) {
            const uint8_t* p = image->Rgba.data() + (size_t(y0 + y) * size_t(image->Width) + size_t(x0 + x)) * 4;
            const bool keyed = set.HasTrans && p[0] == set.Trans[0] && p[1] == set.Trans[1] && p[2] == set.Trans[2];
            const int alpha = keyed ? 0 : p[3];
            uint8_t* q = rgb.data() + (size_t(y) * size_t(t) + size_t(x)) * 3;
            for (int c = 0; c < 3; c++)
                q[c] = uint8_t((p[c] * alpha + doc.Background[c] * (255 - alpha) + 127) / 255);
        }
    }
}

Composed Importer::Compose(uint32_t gid)
{
    uint32_t local;
    const TiledTileset& set = SetOf(gid, local);
    std::vector<TiledFrame> frames;
    const auto animation = set.Animations.find(local);
    if (animation != set.Animations.end() && !animation->second.empty())
        frames = animation->second;
    else
        frames.push_back({local, 0});

    // Each frame lasts its duration in whole ticks: with g the ticks all
    // durations share, the cell steps every g ticks and the strip repeats a
    // frame of d ticks d / g times.
    Composed result;
    std::vector<int> repeats(frames.size(), 1);
    int step = 1;
    if (frames.size() > size_t(MaxFrames))
        Refuse("the animation of tile " + std::to_string(local) + " of tileset \"" + set.Name + "\" has " +
               std::to_string(frames.size()) + " frames; a board's cell shows at most 256");
    if (frames.size() > 1) {
        step = 0;
        int64_t sum = 0, total = 0;
        for (const TiledFrame& frame : frames) {
            step = std::gcd(step, DurationTicks(frame.Duration));
            sum += DurationTicks(frame.Duration);
        }
        for (size_t i = 0; i < frames.size(); i++)
            total += repeats[i] = DurationTicks(frames[i].Duration) / step;
        if (total > MaxFrames) {
            step = int(std::min<int64_t>(sum / int64_t(frames.size()), 127));
            std::fill(repeats.begin(), repeats.end(), 1);
            out.Warnings.push_back(doc.FileName + ": the animation of tile " + std::to_string(local) + " of tileset \"" +
                                   set.Name + "\" would need more than 256 frames to keep its durations; every frame lasts " +
                                   std::to_string(step) + " ticks");
        }
        if (step > 127) {
            out.Warnings.push_back(doc.FileName + ": frames of tile " + std::to_string(local) + " of tileset \"" +
                                   set.Name + "\" last " + std::to_string(step) + " ticks; shortened to 127");
            step = 127;
        }
    }
    const int strip = std::accumulate(repeats.begin(), repeats.end(), 0);
    result.Delay = step - 1;
    result.LastFrame = strip - 1;
    Image& image = result.Strip;
    image.Width = CellSize * strip;
    image.Height = CellSize;
    image.Rgba.assign(size_t(image.Width) * CellSize * 4, 255);

    const int t = doc.TileWidth, scale = CellSize / t;
    const bool h = gid & GidFlipH, v = gid & GidFlipV, d = gid & GidFlipD;
    std::vector<uint8_t> rgb;
    int column = 0;
    for (size_t i = 0; i < frames.size(); i++) {
        if (frames[i].TileId != local && set.Image.empty() && !set.TileImages.count(frames[i].TileId))
            Refuse("the animation of tile " + std::to_string(local) + " of tileset \"" + set.Name +
                   "\" shows tile " + std::to_string(frames[i].TileId) + ", which does not exist");
        TilePixels(set, frames[i].TileId, rgb);
        for (int r = 0; r < repeats[i]; r++, column++) {
            for (int oy = 0; oy < CellSize; oy++) {
                for (int ox = 0; ox < CellSize; ox++) {
                    // As Tiled draws: the diagonal flip (x and y swapped)
                    // first, then the horizontal and the vertical ones.
                    const int ty = v ? t - 1 - oy / scale : oy / scale;
                    const int tx = h ? t - 1 - ox / scale : ox / scale;
                    const int sx = d ? ty : tx, sy = d ? tx : ty;
                    const uint8_t* p = rgb.data() + (size_t(sy) * size_t(t) + size_t(sx)) * 3;
                    uint8_t* q = image.Rgba.data() + (size_t(oy) * size_t(image.Width) + size_t(column * CellSize + ox)) * 4;
                    std::memcpy(q, p, 3);
                }
            }
        }
    }
    return result;
}

// The board look of a gid that points at a tileset our export wrote: its
// first tile, unflipped, still or animated as export animates.
bool Importer::BoardLookOf(uint32_t gid, BoardLook& look)
{
    if (!original || gid == 0 || (gid & GidFlags))
        return false;
    uint32_t local;
    const TiledTileset& set = SetOf(gid, local);
    const auto tile = set.Properties.find(PropTile);
    if (local != 0 || tile == set.Properties.end())
        return false;
    char* end;
    const long k = std::strtol(tile->second.Text.c_str(), &end, 10);
    if (*end || k < 0 || k >= original->TileCount)
        return false;
    look = BoardLook{int(k), 0, 0};
    const auto animation = set.Animations.find(0);
    if (animation == set.Animations.end() || animation->second.empty())
        return true;
    const std::vector<TiledFrame>& frames = animation->second;
    for (size_t i = 0; i < frames.size(); i++)
        if (frames[i].TileId != i || frames[i].Duration != frames[0].Duration)
            return false;
    if (frames.size() == 1 || frames.size() > size_t(MaxFrames) || DurationTicks(frames[0].Duration) > 128)
        return false;
    look.Delay = DurationTicks(frames[0].Duration) - 1;
    look.LastFrame = int(frames.size()) - 1;
    return true;
}

// The slot of the original board tile `tile`.
int Importer::BoardSlot(int tile)
{
    if (tile != 0 || !outsideMoved)
        return tile;
    if (movedZero < 0) {
        movedZero = int(slotNames.size());
        slotNames.push_back(original->TileNames[0]);
    }
    return movedZero;
}

// The slot of a composed appearance, made on first use.
int Importer::SlotFor(uint32_t gid)
{
    gid &= ~GidHex120;
    const auto found = slotOfGid.find(gid);
    if (found != slotOfGid.end())
        return found->second;
    const int slot = int(slotNames.size());
    slotNames.emplace_back();
    composed[slot] = Compose(gid);
    slotOfGid[gid] = slot;
    return slot;
}

bool Importer::IntProperty(const char* name, int32_t& value)
{
    const auto it = doc.Properties.find(name);
    if (it == doc.Properties.end())
        return false;
    char* end;
    errno = 0;
    const long long number = std::strtoll(it->second.Text.c_str(), &end, 10);
    if (it->second.Text.empty() || *end || errno || number < INT32_MIN || number > INT32_MAX)
        Refuse(std::string("property ") + name + " is \"" + it->second.Text + "\", not a 32-bit integer");
    value = int32_t(number);
    return true;
}

void Importer::ReadBoardProperty()
{
    const auto it = doc.Properties.find(PropBoard);
    if (it == doc.Properties.end())
        return;
    std::vector<uint8_t> packed, body;
    Error error;
    if (!DecodeBase64(it->second.Text, packed, error) ||
        !Inflate(packed, "zlib", size_t(BoardBodySize(MaxTiles)), body, error))
        Refuse(std::string("property ") + PropBoard + ": " + error.Reason);
    std::vector<uint8_t> file = {0, uint8_t(BoardHeaderSize), 0, 0, 0};
    file.insert(file.end(), body.begin(), body.end());
    auto board = std::make_unique<BoardFile>();
    if (!ParseBoard(file.data(), file.size(), doc.FileName + ": property " + PropBoard, *board, error) ||
        board->TileCount < 1 || int64_t(file.size()) != board->BodyEnd())
        Refuse(std::string("property ") + PropBoard + " does not hold a board with tiles" +
               (error.Reason.empty() ? "" : ": " + error.Message()));
    original = std::move(board);
    // Each tile's frames as its exported tileset gives them.
    originalFrames.assign(size_t(original->TileCount), 1);
    for (const TiledTileset& set : doc.Tilesets) {
        const auto tile = set.Properties.find(PropTile);
        if (tile == set.Properties.end())
            continue;
        const long k = std::strtol(tile->second.Text.c_str(), nullptr, 10);
        if (k >= 0 && k < original->TileCount && set.Animations.empty())
            originalFrames[size_t(k)] = std::max(1, set.Columns);
    }
}

uint32_t Importer::OutsideGid()
{
    int32_t gid;
    if (IntProperty(PropOutsideTile, gid)) {
        if (gid == 0)
            Refuse(std::string("property ") + PropOutsideTile + " is 0; it must name a tile");
        return uint32_t(gid);
    }
    // By default the ground goes on as the map's most used tile.
    std::map<uint32_t, int> uses;
    uint32_t best = 0;
    for (uint32_t gid : doc.Gids)
        if (gid && ++uses[gid] > uses[best])
            best = gid;
    if (!best)
        Refuse("the map has no tile on any visible tile layer");
    return best;
}

void Importer::Run()
{
    ReadBoardProperty();
    auto map = std::make_unique<MapRecord>();
    std::memset(map.get(), 0, sizeof *map);
    const int width = doc.Infinite ? MapSize : doc.Width, height = doc.Infinite ? MapSize : doc.Height;

    // Tile 0: the ground outside the map.
    BoardLook outsideLook;
    const bool outsideGiven = doc.Properties.count(PropOutsideTile) != 0;
    if (original) {
        if (outsideGiven) {
            const uint32_t gid = OutsideGid();
            outsideMoved = !(BoardLookOf(gid, outsideLook) && outsideLook == BoardLook{0, 0, 0});
        }
        for (int k = 0; k < original->TileCount; k++)
            slotNames.push_back(original->TileNames[k]);
        if (outsideMoved) {
            slotNames[0].clear();
            composed[0] = Compose(OutsideGid());
            slotOfGid[OutsideGid() & ~GidHex120] = 0;
        }
    } else {
        SlotFor(OutsideGid());
    }

    for (int ty = 0; ty < MapSize; ty++) {
        for (int tx = 0; tx < MapSize; tx++) {
            MapCell& cell = map->Cells[tx][ty];
            const uint32_t gid = tx < width && ty < height ? doc.Gids[size_t(ty * MapSize + tx)] : 0;
            BoardLook look;
            const bool boardLook = BoardLookOf(gid, look);
            if (original) {
                const MapCell& before = original->Cells[tx][ty];
                if (boardLook && look == ExportedLook(before, original->TileCount, originalFrames)) {
                    cell = before;  // left alone: every field as it was
                    if (cell.Tile == 0)
                        cell.Tile = uint8_t(BoardSlot(0));
                    continue;
                }
            }
            if (boardLook) {
                cell.Tile = uint8_t(BoardSlot(look.Tile));
                cell.Flags = look.LastFrame ? CellAnimated : 0;
                cell.Delay = int8_t(look.Delay);
                cell.LastFrame = uint8_t(look.LastFrame);
                continue;
            }
            const int slot = gid ? SlotFor(gid) : 0;
            if (slot >= 256)
                continue;  // refused below with the count
            cell.Tile = uint8_t(slot);
            const auto it = composed.find(slot);
            if (it != composed.end() && it->second.LastFrame > 0) {
                cell.Flags = CellAnimated;
                cell.Delay = int8_t(it->second.Delay);
                cell.LastFrame = uint8_t(it->second.LastFrame);
            }
        }
    }
    if (slotNames.size() > size_t(MaxTiles))
        Refuse("the map needs " + std::to_string(slotNames.size()) + " tile images; a board holds at most " +
               std::to_string(MaxTiles));

    map->TileCount = int32_t(slotNames.size());
    if (original)  // the original slots whole, bytes after the name included
        std::memcpy(map->TileNames, original->TileNames, sizeof map->TileNames);
    for (size_t k = 0; k < slotNames.size(); k++) {
        const auto it = composed.find(int(k));
        std::string name = slotNames[k];
        if (it != composed.end()) {
            char file[16];
            std::snprintf(file, sizeof file, "tile%02d.png", int(k));
            name = (fs::path(imagesDir) / file).generic_string();
            out.Images.push_back({name, std::move(it->second.Strip)});
        }
        if (name.size() >= size_t(NameSlotSize))
            Refuse("the tile image name " + name + " is longer than 127 characters");
        if (it != composed.end() || !original || int(k) >= original->TileCount) {
            std::memset(map->TileNames[k], 0, NameSlotSize);
            std::memcpy(map->TileNames[k], name.data(), name.size());
        }
    }

    // The outside animation: the properties, else the original board's,
    // else the animation of the outside tile.
    const auto zero = composed.find(0);
    map->AnimDelay = original ? original->AnimDelay : zero != composed.end() ? zero->second.Delay : 0;
    map->AnimLastFrame = original ? original->AnimLastFrame : zero != composed.end() ? zero->second.LastFrame : 0;
    if (original && outsideMoved && zero != composed.end()) {
        map->AnimDelay = zero->second.Delay;
        map->AnimLastFrame = zero->second.LastFrame;
    }
    IntProperty(PropOutsideDelay, map->AnimDelay);
    IntProperty(PropOutsideLastFrame, map->AnimLastFrame);

    map->ExtraFloat = original ? original->ExtraFloat : 0.5f;
    const auto extra = doc.Properties.find(PropExtraFloat);
    if (extra != doc.Properties.end()) {
        char* end;
        const float value = std::strtof(extra->second.Text.c_str(), &end);
        if (extra->second.Text.empty() || *end)
            Refuse(std::string("property ") + PropExtraFloat + " is \"" + extra->second.Text + "\", not a number");
        if (!(original && value == original->ExtraFloat))  // equal: keep the exact bits (-0, NaN payloads)
            map->ExtraFloat = value;
    }

    if (original)
        std::memcpy(map->SkyName, original->SkyName, NameSlotSize);
    const auto sky = doc.Properties.find(PropSky);
    std::string skyName;
    if (sky != doc.Properties.end() && !sky->second.Text.empty()) {
        const auto same = [](const std::string& a, const std::string& b) {
            std::error_code ignored;
            return fs::absolute(a, ignored).lexically_normal() == fs::absolute(b, ignored).lexically_normal();
        };
        if (!(original && same(sky->second.Text, HostPath(original->SkyName))))
            skyName = sky->second.Text;
    } else if (!original) {
        skyName = (fs::path(imagesDir) / "sky.png").generic_string();
        Image image;
        image.Width = SkyPlaceholderWidth;
        image.Height = SkyPlaceholderHeight;
        const uint8_t* colour = doc.HasBackground ? doc.Background : DefaultSky;
        for (int i = 0; i < image.Width * image.Height; i++)
            image.Rgba.insert(image.Rgba.end(), {colour[0], colour[1], colour[2], 255});
        out.Images.push_back({skyName, std::move(image)});
    }
    if (!skyName.empty()) {
        if (skyName.size() >= size_t(NameSlotSize))
            Refuse("the sky image name " + skyName + " is longer than 127 characters");
        std::memset(map->SkyName, 0, NameSlotSize);
        std::memcpy(map->SkyName, skyName.data(), skyName.size());
    }
    out.Map = std::move(map);
}

}  // namespace

bool ImportTiledMap(const std::string& fileName, const std::string& imagesDir, TiledImport& out, Error& error)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(fileName.c_str(), MaxTiledFileBytes, bytes, error))
        return false;
    TiledDocument doc;
    if (!ParseTiledMap(bytes.data(), bytes.size(), fileName, ReadTilesetFile, doc, error))
        return false;
    TiledImport result;
    result.Warnings = doc.Warnings;
    try {
        Importer(doc, imagesDir, result).Run();
    } catch (const Refusal& refusal) {
        error = refusal.error;
        return false;
    }
    out = std::move(result);
    return true;
}
