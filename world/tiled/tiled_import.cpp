// A Tiled map made into a board: each distinct tile appearance (tile, flips,
// animation) becomes one tile image, a strip of 32 x 32 frames composed from
// the tilesets' images; a map written by our export brings back the board it
// came from wherever it was left alone.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
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

// One layer's tile in a cell: its gid (flips included) and the look of its
// layer (an index among the layers' distinct opacities and tints).
struct StackEntry {
    uint32_t Gid;
    int Look;
    bool operator<(const StackEntry& other) const
    {
        return Gid != other.Gid ? Gid < other.Gid : Look < other.Look;
    }
};
// What a cell shows, bottom to top; empty: the background colour alone.
using Stack = std::vector<StackEntry>;

// A layer's opacity and tint, shared by the layers that have the same.
struct LayerLook {
    double Opacity = 1;
    uint8_t Tint[4] = {255, 255, 255, 255};
    bool Plain() const { return Opacity == 1 && Tint[0] == 255 && Tint[1] == 255 && Tint[2] == 255 && Tint[3] == 255; }
};

// How a stack animates: the strip's frames, each `Step` ticks long, and for
// every entry the frame of its animation that each strip frame shows.
struct Timeline {
    int Step = 1;
    int Length = 1;
    std::vector<std::vector<uint32_t>> Tiles;  // [entry][strip frame]: local tile id
};

// One tile appearance composed: its strip and the animation of its cells.
struct Composed {
    Image Strip;
    int Delay = 0;
    int LastFrame = 0;
};

class Importer {
public:
    Importer(TiledDocument& doc, const std::string& imagesDir, const TiledOptions& options, TiledImport& out)
        : doc(doc), imagesDir(imagesDir), options(options), out(out)
    {
    }
    void Run();

private:
    [[noreturn]] void Refuse(const std::string& what) { throw Refusal{Error{doc.FileName, what}}; }
    const TiledTileset& SetOf(uint32_t gid, uint32_t& local);
    std::string TileName(const TiledTileset& set, uint32_t local);
    const Image& Picture(const std::string& path, const TiledTileset& set);
    void TilePixels(const TiledTileset& set, uint32_t local, std::vector<uint8_t>& rgba);
    Timeline TimelineOf(const Stack& stack, bool warn);
    Composed Compose(const Stack& stack);
    void MergeSimilar(std::vector<int>& slotMap);
    bool BoardLookOf(uint32_t gid, BoardLook& look);
    int SlotFor(const Stack& stack);
    int BoardSlot(int tile);
    bool IntProperty(const char* name, int32_t& value);
    void ReadBoardProperty();
    uint32_t OutsideGid();
    Stack StackAt(int tx, int ty);
    bool Covers(uint32_t gid, int look);

    TiledDocument& doc;
    std::string imagesDir;
    const TiledOptions& options;
    TiledImport& out;
    std::vector<LayerLook> looks;
    std::vector<int> lookOfLayer;
    std::map<std::string, Image> pictures;
    std::unique_ptr<BoardFile> original;  // the board an export carried, if any
    std::vector<int> originalFrames;      // frames of each of its tiles, as its tilesets say
    bool outsideMoved = false;            // tile 0 is no longer the original's tile 0
    int movedZero = -1;                   // slot of the original tile 0 once moved
    std::vector<std::string> slotNames;   // board names of the slots that reuse one
    std::map<Stack, int> slotOfStack;
    std::map<int, Stack> stackOfSlot;     // the slots to compose
    std::map<int, Composed> composed;     // by slot
    std::vector<int> uses;                // cells showing each slot
    std::map<std::string, bool> opaqueTiles;  // tiles known to be opaque, or not
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

std::string Importer::TileName(const TiledTileset& set, uint32_t local)
{
    return "tile " + std::to_string(local) + " of tileset \"" + Clipped(set.Name) + "\"";
}

const Image& Importer::Picture(const std::string& path, const TiledTileset& set)
{
    auto it = pictures.find(path);
    if (it != pictures.end())
        return it->second;
    Image image;
    Error error;
    if (path.empty())
        Refuse("tileset \"" + Clipped(set.Name) + "\" has no image");
    if (!DecodeImageFile(path.c_str(), AllegroReaders(), image, error))
        throw Refusal{Error{set.Source, "tileset \"" + Clipped(set.Name) + "\": image " + error.Message()}};
    return pictures.emplace(path, std::move(image)).first->second;
}

// The tile's pixels at the map's tile size, RGBA, the tileset's transparent
// colour made transparent.
void Importer::TilePixels(const TiledTileset& set, uint32_t local, std::vector<uint8_t>& rgba)
{
    const int t = doc.TileWidth;
    const std::string where = TileName(set, local);
    const Image* image;
    int x0 = 0, y0 = 0;
    if (set.Image.empty()) {
        const auto found = set.TileImages.find(local);
        if (found == set.TileImages.end())
            Refuse(where + " does not exist");
        image = &Picture(found->second, set);
        const auto rect = set.TileRects.find(local);
        if (rect != set.TileRects.end()) {
            const TiledTileset::Rect& r = rect->second;
            if (r.Width != t || r.Height != t)
                Refuse(where + " shows " + std::to_string(r.Width) + " x " + std::to_string(r.Height) +
                       " pixels of its image; the map's tiles are " + std::to_string(t) + " x " + std::to_string(t));
            if (r.X < 0 || r.Y < 0 || int64_t(r.X) + t > image->Width || int64_t(r.Y) + t > image->Height)
                Refuse(where + " shows pixels (" + std::to_string(r.X) + ", " + std::to_string(r.Y) + ") to (" +
                       std::to_string(int64_t(r.X) + t - 1) + ", " + std::to_string(int64_t(r.Y) + t - 1) +
                       "), outside its image of " + std::to_string(image->Width) + " x " +
                       std::to_string(image->Height));
            x0 = r.X, y0 = r.Y;
        } else if (image->Width != t || image->Height != t) {
            Refuse(where + ": its image is " + std::to_string(image->Width) + " x " + std::to_string(image->Height) +
                   " pixels, the map's tiles " + std::to_string(t) + " x " + std::to_string(t));
        }
    } else {
        if (set.TileWidth != t || set.TileHeight != t)
            Refuse("tileset \"" + Clipped(set.Name) + "\" has tiles of " + std::to_string(set.TileWidth) + " x " +
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
    rgba.resize(size_t(t) * size_t(t) * 4);
    for (int y = 0; y < t; y++) {
        for (int x = 0; x < t; x++) {
            const uint8_t* p = image->Rgba.data() + (size_t(y0 + y) * size_t(image->Width) + size_t(x0 + x)) * 4;
            uint8_t* q = rgba.data() + (size_t(y) * size_t(t) + size_t(x)) * 4;
            std::memcpy(q, p, 4);
            if (set.HasTrans && p[0] == set.Trans[0] && p[1] == set.Trans[1] && p[2] == set.Trans[2])
                q[3] = 0;
        }
    }
}

// Each frame lasts its duration in whole ticks: with g the ticks that all
// durations of all the stack's animations share, the cell steps every g
// ticks and the strip holds one frame per step until every animation has
// come round at once. When that needs more than 256 frames, every frame
// lasts the average duration instead.
Timeline Importer::TimelineOf(const Stack& stack, bool warn)
{
    struct Animated {
        std::vector<uint32_t> tiles;
        std::vector<int> ticks;
    };
    std::vector<Animated> entries;
    int step = 0;
    int64_t sum = 0, count = 0;
    std::string named;
    for (const StackEntry& entry : stack) {
        uint32_t local;
        const TiledTileset& set = SetOf(entry.Gid, local);
        Animated animated;
        const auto animation = set.Animations.find(local);
        if (animation != set.Animations.end() && !animation->second.empty()) {
            if (animation->second.size() > size_t(MaxFrames))
                Refuse("the animation of " + TileName(set, local) + " has " + std::to_string(animation->second.size()) +
                       " frames; a board's cell shows at most 256");
            for (const TiledFrame& frame : animation->second) {
                animated.tiles.push_back(frame.TileId);
                animated.ticks.push_back(DurationTicks(frame.Duration));
            }
        } else {
            animated.tiles.push_back(local);
        }
        if (animated.tiles.size() > 1) {
            for (int ticks : animated.ticks) {
                step = std::gcd(step, ticks);
                sum += ticks, count++;
            }
            named = TileName(set, local);
        }
        entries.push_back(std::move(animated));
    }
    Timeline line;
    line.Tiles.resize(entries.size());
    if (count == 0) {
        for (size_t e = 0; e < entries.size(); e++)
            line.Tiles[e] = entries[e].tiles;
        return line;
    }
    // The strip's length: the steps after which every animation is back at
    // its start.
    int64_t length = 1;
    for (const Animated& animated : entries) {
        const int64_t period = std::accumulate(animated.ticks.begin(), animated.ticks.end(), int64_t(0)) / step;
        if (animated.tiles.size() > 1)
            length = std::min<int64_t>(std::lcm(length, period), MaxFrames + 1);
    }
    bool even = false;
    if (length > MaxFrames) {
        even = true;
        step = int(std::max<int64_t>(1, sum / count));
        length = 1;
        for (const Animated& animated : entries)
            length = std::min<int64_t>(std::lcm(length, int64_t(animated.tiles.size())), MaxFrames);
        if (warn)
            out.Warnings.push_back(doc.FileName + ": the animation of " + named + (stack.size() > 1 ? " and the tiles under or over it" : "") +
                                   " would need more than 256 frames to keep its durations; every frame lasts " +
                                   std::to_string(std::min(step, 127)) + " ticks");
    }
    if (step > 127) {
        if (warn)
            out.Warnings.push_back(doc.FileName + ": frames of " + named + " last " + std::to_string(step) +
                                   " ticks; shortened to 127");
        step = 127;
    }
    line.Step = step;
    line.Length = int(length);
    for (size_t e = 0; e < entries.size(); e++) {
        const Animated& animated = entries[e];
        std::vector<uint32_t>& tiles = line.Tiles[e];
        if (animated.tiles.size() == 1) {
            tiles.assign(size_t(length), animated.tiles[0]);
            continue;
        }
        // Strip frame k shows the frame under way k steps into the loop.
        size_t frame = 0;
        int64_t frameEnd = even ? 1 : animated.ticks[0] / line.Step;
        const int64_t period = even ? int64_t(animated.tiles.size())
                                    : std::accumulate(animated.ticks.begin(), animated.ticks.end(), int64_t(0)) / line.Step;
        for (int64_t k = 0; k < length; k++) {
            const int64_t at = k % period;
            if (at == 0)
                frame = 0, frameEnd = even ? 1 : animated.ticks[0] / line.Step;
            while (at >= frameEnd) {
                frame++;
                frameEnd += even ? 1 : animated.ticks[frame] / line.Step;
            }
            tiles.push_back(animated.tiles[frame]);
        }
    }
    return line;
}

// The strip of a stack: each frame its layers drawn bottom to top over the
// background colour as Tiled draws them (flips, the tileset's transparent
// colour, the layer's tint and opacity), then made 32 x 32.
Composed Importer::Compose(const Stack& stack)
{
    const Timeline line = TimelineOf(stack, true);
    Composed result;
    result.Delay = line.Step - 1;
    result.LastFrame = line.Length - 1;
    Image& image = result.Strip;
    image.Width = CellSize * line.Length;
    image.Height = CellSize;
    image.Rgba.assign(size_t(image.Width) * CellSize * 4, 255);

    const int t = doc.TileWidth;
    const size_t area = size_t(t) * size_t(t);
    std::vector<float> canvas(area * 3);
    std::vector<uint8_t> rgba;
    std::vector<uint8_t> rgb(area * 3);
    for (int column = 0; column < line.Length; column++) {
        for (size_t i = 0; i < area; i++)
            for (int c = 0; c < 3; c++)
                canvas[i * 3 + size_t(c)] = doc.Background[c];
        for (size_t e = 0; e < stack.size(); e++) {
            uint32_t local;
            const TiledTileset& set = SetOf(stack[e].Gid, local);
            const uint32_t shown = line.Tiles[e][size_t(column)];
            if (shown != local && set.Image.empty() && !set.TileImages.count(shown))
                Refuse("the animation of " + TileName(set, local) + " shows tile " + std::to_string(shown) +
                       ", which does not exist");
            TilePixels(set, shown, rgba);
            const LayerLook& look = looks[size_t(stack[e].Look)];
            const uint32_t gid = stack[e].Gid;
            const bool h = gid & GidFlipH, v = gid & GidFlipV, d = gid & GidFlipD;
            const bool tinted = look.Tint[0] < 255 || look.Tint[1] < 255 || look.Tint[2] < 255;
            for (int oy = 0; oy < t; oy++) {
                for (int ox = 0; ox < t; ox++) {
                    // As Tiled draws: the diagonal flip (x and y swapped)
                    // first, then the horizontal and the vertical ones.
                    const int ty = v ? t - 1 - oy : oy, tx = h ? t - 1 - ox : ox;
                    const int sx = d ? ty : tx, sy = d ? tx : ty;
                    const uint8_t* p = rgba.data() + (size_t(sy) * size_t(t) + size_t(sx)) * 4;
                    const float own = float(p[3]) / 255.0f;
                    const float alpha = own * float(look.Tint[3]) / 255.0f * float(look.Opacity);
                    if (alpha <= 0)
                        continue;
                    float* q = canvas.data() + (size_t(oy) * size_t(t) + size_t(ox)) * 3;
                    for (int c = 0; c < 3; c++) {
                        // Tiled multiplies the tile, as if over white, by
                        // the tint, keeping the tile's alpha; the tint's
                        // own alpha works as opacity.
                        const float colour = tinted ? float(look.Tint[c]) / 255.0f * (float(p[c]) * own + 255.0f * (1 - own))
                                                    : float(p[c]);
                        q[c] = colour * alpha + q[c] * (1 - alpha);
                    }
                }
            }
        }
        for (size_t i = 0; i < area * 3; i++)
            rgb[i] = uint8_t(std::lround(std::clamp(canvas[i], 0.0f, 255.0f)));
        // Made 32 x 32: smaller tiles repeat their pixels, others are
        // averaged over the area each pixel of the tile covers (a tile of
        // 64 gives each pixel the mean of 2 x 2).
        for (int oy = 0; oy < CellSize; oy++) {
            for (int ox = 0; ox < CellSize; ox++) {
                uint8_t* q = image.Rgba.data() + (size_t(oy) * size_t(image.Width) + size_t(column * CellSize + ox)) * 4;
                if (CellSize % t == 0) {
                    const int scale = CellSize / t;
                    std::memcpy(q, rgb.data() + (size_t(oy / scale) * size_t(t) + size_t(ox / scale)) * 3, 3);
                    continue;
                }
                // In 32nds of a tile pixel: output pixel o covers o * t ..
                // (o + 1) * t, tile pixel i covers i * 32 .. (i + 1) * 32.
                uint64_t sums[3] = {0, 0, 0};
                for (int sy = oy * t / CellSize; sy * CellSize < (oy + 1) * t; sy++) {
                    const int wy = std::min((sy + 1) * CellSize, (oy + 1) * t) - std::max(sy * CellSize, oy * t);
                    for (int sx = ox * t / CellSize; sx * CellSize < (ox + 1) * t; sx++) {
                        const int wx = std::min((sx + 1) * CellSize, (ox + 1) * t) - std::max(sx * CellSize, ox * t);
                        const uint8_t* p = rgb.data() + (size_t(sy) * size_t(t) + size_t(sx)) * 3;
                        for (int c = 0; c < 3; c++)
                            sums[c] += uint64_t(wx) * uint64_t(wy) * p[c];
                    }
                }
                const uint64_t total = uint64_t(t) * uint64_t(t);
                for (int c = 0; c < 3; c++)
                    q[c] = uint8_t((sums[c] + total / 2) / total);
            }
        }
    }
    return result;
}

// With more appearances than a board holds, the two most alike (same frames
// and timing, least mean colour difference) become one, again and again
// until the board holds them: the one fewer cells show takes the other's
// image. `slotMap` gives each slot the slot it became.
void Importer::MergeSimilar(std::vector<int>& slotMap)
{
    const int slots = int(slotNames.size());
    struct Pair {
        double difference;
        int a, b;
        bool operator<(const Pair& other) const
        {
            return difference != other.difference ? difference < other.difference
                                                  : std::make_pair(a, b) < std::make_pair(other.a, other.b);
        }
    };
    std::vector<Pair> pairs;
    for (auto i = composed.begin(); i != composed.end(); ++i) {
        for (auto j = std::next(i); j != composed.end(); ++j) {
            const Composed &a = i->second, &b = j->second;
            if (a.Delay != b.Delay || a.LastFrame != b.LastFrame)
                continue;
            uint64_t sum = 0;
            for (size_t k = 0; k < a.Strip.Rgba.size(); k += 4)
                for (size_t c = 0; c < 3; c++)
                    sum += uint64_t(std::abs(int(a.Strip.Rgba[k + c]) - int(b.Strip.Rgba[k + c])));
            pairs.push_back({double(sum) / double(a.Strip.Rgba.size() / 4 * 3), i->first, j->first});
        }
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<int> into(static_cast<size_t>(slots));
    std::iota(into.begin(), into.end(), 0);
    const auto root = [&](int k) {
        while (into[size_t(k)] != k)
            k = into[size_t(k)];
        return k;
    };
    int left = slots, merged = 0;
    double largest = 0;
    for (const Pair& pair : pairs) {
        if (left <= MaxTiles)
            break;
        const int a = root(pair.a), b = root(pair.b);
        if (a != b) {
            // Tile 0 stays tile 0; else the more used image stays.
            const bool keepA = a == 0 || (b != 0 && uses[size_t(a)] >= uses[size_t(b)]);
            const int keep = keepA ? a : b, gone = keepA ? b : a;
            into[size_t(gone)] = keep;
            uses[size_t(keep)] += uses[size_t(gone)];
            left--, merged++;
            largest = std::max(largest, pair.difference);
        }
    }
    if (left > MaxTiles)
        Refuse("the map needs " + std::to_string(slots) + " tile images; merging the most alike still leaves " +
               std::to_string(left) + ", and a board holds at most " + std::to_string(MaxTiles));
    // The slots that stay, renumbered in order.
    slotMap.assign(size_t(slots), -1);
    std::vector<std::string> names;
    std::map<int, Composed> kept;
    for (int k = 0; k < slots; k++) {
        if (root(k) != k)
            continue;
        slotMap[size_t(k)] = int(names.size());
        names.push_back(slotNames[size_t(k)]);
        const auto it = composed.find(k);
        if (it != composed.end())
            kept[int(names.size()) - 1] = std::move(it->second);
    }
    for (int k = 0; k < slots; k++)
        slotMap[size_t(k)] = slotMap[size_t(root(k))];
    slotNames = std::move(names);
    composed = std::move(kept);
    char difference[32];
    std::snprintf(difference, sizeof difference, "%.1f", largest);
    out.Warnings.push_back(doc.FileName + ": " + std::to_string(merged) + " tile appearances merged into others alike to fit " +
                           std::to_string(MaxTiles) + " tile images; the largest mean colour difference merged is " +
                           difference + " of 255");
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

// The slot of a composed appearance, made on first use; composed later.
int Importer::SlotFor(const Stack& stack)
{
    const auto found = slotOfStack.find(stack);
    if (found != slotOfStack.end())
        return found->second;
    const int slot = int(slotNames.size());
    slotNames.emplace_back();
    stackOfSlot[slot] = stack;
    slotOfStack[stack] = slot;
    return slot;
}

// Whether the tile `gid` hides what lies under it: every pixel of every
// frame opaque, on a layer drawn whole. Each tile's pixels are looked at
// once, however many tilesets name its file and animations show it.
bool Importer::Covers(uint32_t gid, int look)
{
    const LayerLook& drawn = looks[size_t(look)];
    if (drawn.Opacity < 1 || drawn.Tint[3] < 255)
        return false;
    uint32_t local;
    const TiledTileset& set = SetOf(gid, local);
    const std::string file = set.Source == doc.FileName ? std::to_string(&set - doc.Tilesets.data()) : set.Source;
    std::vector<uint32_t> tiles = {local};
    const auto animation = set.Animations.find(local);
    if (animation != set.Animations.end() && !animation->second.empty()) {
        tiles.clear();
        for (const TiledFrame& frame : animation->second)
            tiles.push_back(frame.TileId);
    }
    std::vector<uint8_t> rgba;
    for (uint32_t tile : tiles) {
        if (tile != local && set.Image.empty() && !set.TileImages.count(tile))
            return false;  // refused when composed
        const std::string key = file + "#" + std::to_string(tile);
        auto known = opaqueTiles.find(key);
        if (known == opaqueTiles.end()) {
            TilePixels(set, tile, rgba);
            bool opaque = true;
            for (size_t i = 3; i < rgba.size() && opaque; i += 4)
                opaque = rgba[i] == 255;
            known = opaqueTiles.emplace(key, opaque).first;
        }
        if (!known->second)
            return false;
    }
    return true;
}

// The tiles of every visible layer at board cell (tx, ty), bottom to top,
// from the topmost that hides what lies under it.
Stack Importer::StackAt(int tx, int ty)
{
    Stack stack;
    for (size_t l = 0; l < doc.Layers.size(); l++)
        if (const uint32_t gid = doc.Layers[l].Gids[size_t(ty * MapSize + tx)] & ~GidHex120)
            stack.push_back({gid, lookOfLayer[l]});
    // A tile alone is not looked at here: one of an exported board's
    // tilesets stands for the board's own image, which may not be readable.
    for (size_t e = stack.size(); e-- > 1;) {
        if (Covers(stack[e].Gid, stack[e].Look)) {
            stack.erase(stack.begin(), stack.begin() + ptrdiff_t(e));
            break;
        }
    }
    return stack;
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
        Refuse(std::string("property ") + name + " is \"" + Clipped(it->second.Text) + "\", not a 32-bit integer");
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
    // By default the ground goes on as the map's most used tile: the first
    // gid of the most used stack of one plain layer's tile.
    std::map<uint32_t, int> counts;
    uint32_t best = 0;
    for (int ty = 0; ty < MapSize; ty++)
        for (int tx = 0; tx < MapSize; tx++)
            if (doc.InArea(tx, ty))
                for (const TiledLayer& layer : doc.Layers)
                    if (const uint32_t gid = layer.Gids[size_t(ty * MapSize + tx)] & ~GidHex120)
                        if (++counts[gid] > counts[best])
                            best = gid;
    if (!best)
        Refuse("cells (" + std::to_string(doc.WindowX) + ", " + std::to_string(doc.WindowY) + ") to (" +
               std::to_string(doc.WindowX + MapSize - 1) + ", " + std::to_string(doc.WindowY + MapSize - 1) +
               ") hold no tile on any visible tile layer");
    return best;
}

void Importer::Run()
{
    ReadBoardProperty();
    auto map = std::make_unique<MapRecord>();
    std::memset(map.get(), 0, sizeof *map);
    // Layers that look alike share their look, so that their stacks match.
    for (const TiledLayer& layer : doc.Layers) {
        LayerLook look;
        look.Opacity = layer.Opacity;
        std::memcpy(look.Tint, layer.Tint, 4);
        size_t k = 0;
        while (k < looks.size() && !(looks[k].Opacity == look.Opacity && !std::memcmp(looks[k].Tint, look.Tint, 4)))
            k++;
        if (k == looks.size())
            looks.push_back(look);
        lookOfLayer.push_back(int(k));
    }
    // A gid alone on a plain layer, as an exported map has them.
    const auto single = [&](const Stack& stack) {
        return stack.size() == 1 && looks[size_t(stack[0].Look)].Plain() ? stack[0].Gid : 0u;
    };
    const int plain = int(std::find_if(looks.begin(), looks.end(), [](const LayerLook& l) { return l.Plain(); }) -
                          looks.begin());
    if (plain == int(looks.size()))
        looks.emplace_back();

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
            const Stack outside = {{OutsideGid() & ~GidHex120, plain}};
            slotNames[0].clear();
            stackOfSlot[0] = outside;
            slotOfStack[outside] = 0;
        }
    } else {
        SlotFor({{OutsideGid() & ~GidHex120, plain}});
    }

    // Each cell's slot; -1 where the cell is whole already.
    std::vector<int> slotOfCell(size_t(MapSize * MapSize), -1);
    for (int ty = 0; ty < MapSize; ty++) {
        for (int tx = 0; tx < MapSize; tx++) {
            MapCell& cell = map->Cells[tx][ty];
            const bool inside = doc.InArea(tx, ty);
            const Stack stack = inside ? StackAt(tx, ty) : Stack{};
            const uint32_t gid = single(stack);
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
            // Beyond the map: the outside tile; inside it, what its layers
            // show, the background colour alone where none has a tile.
            slotOfCell[size_t(ty * MapSize + tx)] = inside ? SlotFor(stack) : 0;
        }
    }
    uses.assign(slotNames.size(), 0);
    for (int slot : slotOfCell)
        if (slot >= 0)
            uses[size_t(slot)]++;

    // What composing will cost, known before any of it is done.
    const size_t needed = slotNames.size();
    const std::string window = "cells (" + std::to_string(doc.WindowX) + ", " + std::to_string(doc.WindowY) + ") to (" +
                               std::to_string(doc.WindowX + MapSize - 1) + ", " +
                               std::to_string(doc.WindowY + MapSize - 1) + ")";
    if (needed > size_t(MaxTiles) && !options.MergeSimilar)
        Refuse(window + " need " + std::to_string(needed) + " tile images (each distinct stack of tiles is one); a board holds at most " +
               std::to_string(MaxTiles) + ": --merge-similar merges the most alike, --region X,Y takes another part");
    if (needed > size_t(MaxMergedAppearances))
        Refuse(window + " need " + std::to_string(needed) + " tile images; --merge-similar compares at most " +
               std::to_string(MaxMergedAppearances));
    int64_t frames = 0, work = 0;
    const int64_t tileArea = int64_t(doc.TileWidth) * doc.TileWidth;
    for (const auto& [slot, stack] : stackOfSlot) {
        const int length = TimelineOf(stack, false).Length;
        frames += length;
        work += length * (int64_t(stack.size()) + 1) * std::max<int64_t>(tileArea, CellSize * CellSize);
    }
    if (work > MaxComposedPixels)
        Refuse(window + " need " + std::to_string(stackOfSlot.size()) + " composed tile images whose frames, " +
               std::to_string(doc.TileWidth) + " pixels a side, take " + std::to_string(work) +
               " pixels drawn in all; an import draws at most " + std::to_string(MaxComposedPixels));
    if (frames > MaxComposedFrames)
        Refuse(window + " need " + std::to_string(stackOfSlot.size()) + " composed tile images of " +
               std::to_string(frames) + " frames in all (" + std::to_string(frames * CellSize * CellSize * 4 >> 20) +
               " MB); an import composes at most " + std::to_string(MaxComposedFrames) + " frames");
    for (const auto& [slot, stack] : stackOfSlot)
        composed[slot] = Compose(stack);
    if (slotNames.size() > size_t(MaxTiles)) {
        std::vector<int> slotMap;
        MergeSimilar(slotMap);
        for (int& slot : slotOfCell)
            if (slot >= 0)
                slot = slotMap[size_t(slot)];
    }
    for (int ty = 0; ty < MapSize; ty++) {
        for (int tx = 0; tx < MapSize; tx++) {
            const int slot = slotOfCell[size_t(ty * MapSize + tx)];
            if (slot < 0)
                continue;
            MapCell& cell = map->Cells[tx][ty];
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
            Refuse(std::string("property ") + PropExtraFloat + " is \"" + Clipped(extra->second.Text) + "\", not a number");
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

bool ImportTiledMap(const std::string& fileName, const std::string& imagesDir, TiledImport& out, Error& error,
                    const TiledOptions& options)
{
    try {
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(fileName.c_str(), MaxTiledFileBytes, bytes, error))
            return false;
        TiledDocument doc;
        if (!ParseTiledMap(bytes.data(), bytes.size(), fileName, ReadTilesetFile, doc, error, options))
            return false;
        bytes = {};
        TiledImport result;
        result.Warnings = doc.Warnings;
        result.WindowX = doc.WindowX;
        result.WindowY = doc.WindowY;
        Importer(doc, imagesDir, options, result).Run();
        out = std::move(result);
        return true;
    } catch (const Refusal& refusal) {
        error = refusal.error;
    } catch (const std::bad_alloc&) {
        error = Error{fileName, "out of memory while making the board"};
    }
    return false;
}
