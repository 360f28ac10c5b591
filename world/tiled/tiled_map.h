// Tiled maps (TMX and JSON, with TSX and TSJ tilesets): reading one into a
// map record with its tile images composed in memory, and writing a board
// as a Tiled map that comes back byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/map_record.h"
#include "image/image_file.h"

// A Tiled map or tileset file larger than this is refused unread.
constexpr int64_t MaxTiledFileBytes = int64_t(64) << 20;

// Bits 32, 31 and 30 of a gid: flipped horizontally, vertically and along
// the diagonal; bit 29 only means something on hexagonal maps.
constexpr uint32_t GidFlipH = 0x80000000u;
constexpr uint32_t GidFlipV = 0x40000000u;
constexpr uint32_t GidFlipD = 0x20000000u;
constexpr uint32_t GidHex120 = 0x10000000u;
constexpr uint32_t GidFlags = GidFlipH | GidFlipV | GidFlipD | GidHex120;

// A custom property as the file holds it. `Text` is the value as written
// (numbers formatted as JSON has them); a file property is already resolved
// against the file that holds it, relative to the working directory.
struct TiledProperty {
    std::string Type;  // string, int, float, bool, color, file, object, class
    std::string Text;
};
using TiledProperties = std::map<std::string, TiledProperty>;

struct TiledFrame {
    uint32_t TileId;
    int Duration;  // milliseconds
};

// A tileset with every path resolved against the file that names it.
struct TiledTileset {
    std::string Source;  // the file it was read from, for messages
    uint32_t FirstGid = 0;
    std::string Name;
    int TileWidth = 0, TileHeight = 0, Margin = 0, Spacing = 0, Columns = 0;
    int64_t TileCount = 0;
    std::string Image;        // the atlas image; empty for an image collection
    bool HasTrans = false;    // a colour that the image shows as transparent
    uint8_t Trans[3] = {0, 0, 0};
    std::map<uint32_t, std::string> TileImages;  // image collection: local id -> image
    struct Rect {
        int X = 0, Y = 0, Width = 0, Height = 0;
    };
    std::map<uint32_t, Rect> TileRects;  // image collection: the part of its image a tile shows, when given
    std::map<uint32_t, std::vector<TiledFrame>> Animations;
    TiledProperties Properties;
};

// Bounds on what one map may cost, checked before the work they bound.
// Parsing: a TMX or TSX file holds at most this many elements and
// attributes, a TMJ or TSJ file this many values, nested at most this deep.
constexpr int64_t MaxXmlElements = int64_t(1) << 20;
constexpr int64_t MaxXmlAttributes = int64_t(1) << 21;
constexpr int64_t MaxJsonValues = int64_t(1) << 22;
constexpr int MaxJsonDepth = 64;
// The cells of all tile layers and chunks of a map together (4 bytes each).
constexpr int64_t MaxMapCells = int64_t(1) << 22;
// Square tiles of at most this many pixels a side.
constexpr int MaxTileSize = 256;
// The frames of all composed tile appearances together (4 KB each).
constexpr int64_t MaxComposedFrames = 16384;
// Tile pixels drawn while composing them all (each frame's layers and its
// background, at the map's tile size).
constexpr int64_t MaxComposedPixels = int64_t(1) << 30;
// Appearances compared with each other by --merge-similar.
constexpr int MaxMergedAppearances = 1024;

// How to read a map: which 64 x 64 cells to take, and whether appearances
// beyond what a board holds are merged.
struct TiledOptions {
    bool HasRegion = false;  // else the top left of the painted cells, or the map's own 64 x 64
    int64_t RegionX = 0, RegionY = 0;
    bool MergeSimilar = false;
};

// A visible tile layer as it lies in the window: its opacity and tint with
// those of its groups, and its gids (0: empty).
struct TiledLayer {
    std::string Name;
    double Opacity = 1;
    uint8_t Tint[4] = {255, 255, 255, 255};  // RGBA multiplied with its tiles
    std::vector<uint32_t> Gids = std::vector<uint32_t>(MapSize * MapSize, 0);  // [ty * 64 + tx]
};

// What a map holds once read: its settings, its tilesets, and its visible
// tile layers bottom to top, cut to the 64 x 64 window taken.
struct TiledDocument {
    std::string FileName;
    int Width = 0, Height = 0, TileWidth = 0, TileHeight = 0;
    bool Infinite = false;
    bool HasBackground = false;
    uint8_t Background[3] = {0, 0, 0};  // what transparent pixels show; black unless given
    TiledProperties Properties;
    std::vector<TiledTileset> Tilesets;
    // The map's area in cells (an infinite map's: around its chunks), and
    // the map cell that is the board's cell (0, 0).
    int64_t AreaX = 0, AreaY = 0, AreaWidth = 0, AreaHeight = 0;
    int64_t WindowX = 0, WindowY = 0;
    std::vector<TiledLayer> Layers;
    std::vector<std::string> Warnings;
    // Whether board cell (tx, ty) lies inside the map's area.
    bool InArea(int tx, int ty) const
    {
        const int64_t x = WindowX + tx, y = WindowY + ty;
        return x >= AreaX && y >= AreaY && x < AreaX + AreaWidth && y < AreaY + AreaHeight;
    }
};

// `text` cut to a length that reads well in a message.
std::string Clipped(const std::string& text);

// Fetches the bytes of the external tileset `path` (resolved against the
// map, relative to the working directory). On failure it returns false with
// the reason in `error`; an empty File there is filled with `path`.
using TilesetLoader = std::function<bool(const std::string& path, std::vector<uint8_t>& bytes, Error& error)>;

// The loader ImportTiledMap uses: reads the file, refusing one larger than
// MaxTiledFileBytes.
bool ReadTilesetFile(const std::string& path, std::vector<uint8_t>& bytes, Error& error);

// Reads a map held in memory; `fileName` names it in messages and decides the
// format (.tmx: XML; .tmj, .json: JSON) and where its tilesets and images
// lie. External tilesets come from `loadTileset`, so that a map parses from
// memory alone. Every fault is refused with a message naming the file and
// what is wrong; `out` is then unchanged.
bool ParseTiledMap(const uint8_t* data, size_t size, const std::string& fileName,
                   const TilesetLoader& loadTileset, TiledDocument& out, Error& error,
                   const TiledOptions& options = {});

// Decodes one layer's data (or one chunk's) into exactly `cells` gids:
// `encoding` "csv", "base64" or "" (the caller has read XML tile elements or
// a JSON array itself), `compression` "", "zlib", "gzip" or "zstd". Never
// inflates more than the cells need.
bool DecodeLayerData(const std::string& text, const std::string& encoding, const std::string& compression,
                     size_t cells, std::vector<uint32_t>& out, Error& error);

// A map made into a board: the record, and the images it needs that do not
// exist yet (composed tile strips and a default sky), each with the name
// that the record gives it.
struct TiledImport {
    struct NewImage {
        std::string Name;
        Image Pixels;
    };
    std::unique_ptr<MapRecord> Map;
    std::vector<NewImage> Images;
    std::vector<std::string> Warnings;
    int64_t WindowX = 0, WindowY = 0;  // the map cell at board cell (0, 0)
};

// Reads the Tiled map `fileName` and makes a board of it; new images are
// named "`imagesDir`/tileNN.png" and "`imagesDir`/sky.png". Nothing is
// written. On failure `error` names the file and the fault.
bool ImportTiledMap(const std::string& fileName, const std::string& imagesDir, TiledImport& out,
                    Error& error, const TiledOptions& options = {});

// The custom properties of the map that carry what Tiled has no field for.
constexpr char PropOutsideTile[] = "outside_tile";            // int: gid shown outside the map (tile 0)
constexpr char PropOutsideDelay[] = "outside_delay";          // int: AnimDelay
constexpr char PropOutsideLastFrame[] = "outside_last_frame";  // int: AnimLastFrame
constexpr char PropSky[] = "sky";                              // file: the sky panorama
constexpr char PropExtraFloat[] = "extra_float";              // float: ExtraFloat
// Written by export: the board's whole body, zlib-compressed and in base64,
// so that what Tiled leaves alone comes back byte for byte.
constexpr char PropBoard[] = "groundview_board";
// On each exported tileset: the board tile it shows.
constexpr char PropTile[] = "groundview_tile";

// A board as a Tiled map: the map file's text and the images written beside
// it (PNG copies of tile images that Tiled could not show as the board does).
struct TiledExport {
    struct File {
        std::string Path;
        std::vector<uint8_t> Bytes;
    };
    std::string Text;
    std::vector<File> Images;
};

class World;
// Makes a Tiled map of the board held in `world` (its images loaded) for the
// file `outPath` (.tmx: XML; .tmj, .json: JSON). Nothing is written.
bool ExportTiledMap(const World& world, const std::string& outPath, TiledExport& out, Error& error);

// The codecs under layer data, shared by reader and writer. Each refuses
// what does not decode, with the reason in `error` (its File left empty: the
// caller knows the layer and the file).
bool DecodeBase64(const std::string& text, std::vector<uint8_t>& out, Error& error);
std::string EncodeBase64(const std::vector<uint8_t>& bytes);
// Inflates `compression` ("zlib", "gzip" or "zstd") data to exactly
// `expected` bytes, refusing as soon as it would give more.
bool Inflate(const std::vector<uint8_t>& in, const std::string& compression, size_t expected,
             std::vector<uint8_t>& out, Error& error);
// Compresses `bytes` into a zlib stream; refuses when zlib cannot.
bool DeflateZlib(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& out, Error& error);

// How a board cell shows in Tiled: the board tile drawn, and the animation
// Tiled is given for it (LastFrame 0: still). Cells that look alike share
// one gid in an exported map.
struct BoardLook {
    int Tile = -1;
    int Delay = 0;
    int LastFrame = 0;
    bool operator==(const BoardLook& other) const
    {
        return Tile == other.Tile && Delay == other.Delay && LastFrame == other.LastFrame;
    }
};
// The look that export gives `cell`: tile `Tile`, or the last when Tile is
// beyond the count, as the renderer draws it; animated when the cell
// animates and its frames lie within the image's `frames[tile]`.
BoardLook ExportedLook(const MapCell& cell, int tileCount, const std::vector<int>& frames);

// Frame durations: ticks at 33 a second to Tiled's milliseconds and back
// (rounded to the nearest; a frame lasts at least one tick).
int FrameMilliseconds(int ticks);
int DurationTicks(int64_t milliseconds);
