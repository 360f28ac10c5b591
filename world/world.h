// The World: one map held in memory (64 x 64 cells, the tile images they
// show, the sky panorama, the animation state) and every operation on it:
// board files, tile lists, animation and the two renderers.
#pragma once

#include <allegro.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables.h"

constexpr int MapSize = 64;        // cells on a side
constexpr int CellSize = 32;       // world units per cell; texels per tile side
constexpr int MaxTiles = 100;      // slots in TileNames
constexpr int NameSlotSize = 128;  // a name of at most 127 characters and its NUL
constexpr int SkyPlaceholderWidth = 2880;  // one column per angle step
constexpr int SkyPlaceholderHeight = 101;  // the view's rows down to the horizon

// One map cell. Every field but Frame is stored in the board file; the Extra
// fields are carried through load and save and mean nothing to this program.
struct MapCell {
    int32_t ExtraA;
    int32_t ExtraB;
    uint8_t ExtraC;
    int8_t Delay;      // a frame lasts Delay + 1 ticks
    uint8_t ExtraD;
    int8_t Tick;       // ticks counted towards the next frame
    uint8_t Flags;     // bit 0x04: the cell is animated
    uint8_t Frame;     // current animation frame; run-time state only
    uint8_t LastFrame; // frames run 0..LastFrame
    uint8_t Tile;      // index into Tiles
};
static_assert(sizeof(MapCell) == 16, "MapCell is 16 bytes in memory");

constexpr uint8_t CellAnimated = 0x04;

struct BitmapDeleter {
    void operator()(BITMAP* bitmap) const
    {
        if (bitmap)
            destroy_bitmap(bitmap);
    }
};
// A bitmap with exactly one owner, destroyed with it.
using BitmapPtr = std::unique_ptr<BITMAP, BitmapDeleter>;

class World {
public:
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Every operation that can fail returns 0 on success and non-zero on
    // failure; LastError() then says which file and what is wrong. A failed
    // operation leaves the World as it was.

    // Fills the World from a board file and loads the images it names (a
    // placeholder stands in for each image that cannot be loaded).
    int LoadMap(const char* name);
    // Writes the map into the body of an existing board file, keeping its
    // header, the gap before the body and whatever lies after the new body.
    int SaveMap(const char* name);
    // Writes the map as a new board file (header byte 0, body at offset 5).
    // Refuses to replace an existing file.
    int CreateMap(const char* name);
    // Replaces the map by a fresh one built from a tile list.
    int NewMap(const char* list);
    // Replaces the sky image; a placeholder stands in when it cannot be loaded.
    int LoadSky(const char* name);

    // One animation tick for the global animation and every animated cell.
    void AnimateTiles();
    // Puts every animation back to its first frame.
    void ZeroFrames();

    // The perspective ground below the horizon, pixel for pixel as the plain
    // reference below, by the fastest path this machine has.
    void DrawGround(BITMAP* view, float x, float y, int height, int angle, int horizon);
    // The reference ground renderer: the arithmetic written out plainly.
    void DrawGroundPlain(BITMAP* view, float x, float y, int height, int angle, int horizon);
    // The sky panorama from the top of the view down to the horizon row.
    void DrawSky(BITMAP* view, float x, float y, int height, int angle, int horizon);

    const std::string& LastError() const { return Error; }

    std::vector<BitmapPtr> Tiles;    // tile n is Tiles[n], n < TileCount
    BitmapPtr Sky;                   // the sky panorama; null until loaded or made
    MapCell Cells[MapSize][MapSize]; // indexed [tx][ty]
    char TileNames[MaxTiles][NameSlotSize];
    char SkyName[NameSlotSize];
    int32_t TileCount;
    int32_t ColumnBase;     // first column counter of the ground renderer: 160
    int32_t AnimFrame;      // global animation frame: the ground outside the map
    int32_t AnimLastFrame;  // 0 switches the global animation off
    int32_t AnimDelay;      // a global frame lasts AnimDelay + 1 ticks
    int32_t AnimTick;
    float ExtraFloat;       // carried in the board file; not interpreted

private:
    // Records a failure for LastError() and returns the failure status.
    int Fail(std::string message);
    // Takes `image` as the sky and copies `name` with its NUL into SkyName;
    // the bytes after the NUL keep what SkyName held. `name` fits the slot.
    void ReplaceSky(const char* name, BitmapPtr image);

    std::string Error;
};

// A file name as stored in a board file or tile list, mapped for opening on
// this platform: a backslash separates directories.
std::string HostPath(const char* name);

// Loads an image file, converted to the current colour depth; null on failure.
BitmapPtr LoadImage(const char* name);

// The images that stand in for a tile or sky image that cannot be loaded: a
// cleared bitmap marked with a red "X X".
BitmapPtr MakeTilePlaceholder();
BitmapPtr MakeSkyPlaceholder();

// The sky image named `name`, or the sky placeholder when it cannot be
// loaded; null only when not even the placeholder can be made.
BitmapPtr LoadSkyImage(const char* name);

// Starts Allegro without a display for tools and tests: 16-bit colour, every
// loaded image converted to it, PNG registered beside BMP, PCX, TGA and LBM.
// Returns false with the reason in `error` when Allegro cannot start.
bool StartAllegroHeadless(std::string& error);
