// The World: one map held in memory (64 x 64 cells, the tile images they
// show, the sky panorama, the animation state) and every operation on it:
// board files, tile lists, animation and the two renderers.
#pragma once

#include <allegro.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "map_record.h"
#include "tables.h"

constexpr int SkyPlaceholderWidth = 2880;  // one column per angle step
constexpr int SkyPlaceholderHeight = 101;  // the view's rows down to the horizon

struct BitmapDeleter {
    void operator()(BITMAP* bitmap) const
    {
        if (bitmap)
            destroy_bitmap(bitmap);
    }
};
// A bitmap with exactly one owner, destroyed with it.
using BitmapPtr = std::unique_ptr<BITMAP, BitmapDeleter>;

class World : public MapRecord {
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
    // The same for a board file already read into memory; `name` is the
    // file's name for messages and nothing is read from it.
    int LoadMapFromMemory(const uint8_t* data, size_t size, const char* name);
    // Fills the World from a Tiled map (.tmx, .tmj or .json) as `boardtool
    // import` would make it, with the composed tile images held in memory
    // only: nothing is written.
    int LoadTiledMap(const char* name);
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

    // The stored fields (Cells, TileNames, SkyName, TileCount, AnimDelay,
    // AnimLastFrame, ExtraFloat) come from MapRecord.
    std::vector<BitmapPtr> Tiles;    // tile n is Tiles[n], n < TileCount
    BitmapPtr Sky;                   // the sky panorama; null until loaded or made
    int32_t ColumnBase;     // first column counter of the ground renderer: 160
    int32_t AnimFrame;      // global animation frame: the ground outside the map
    int32_t AnimTick;

private:
    // Takes the map and its images, keeping each cell's Frame.
    void Commit(const MapRecord& map, std::vector<BitmapPtr> tiles, BitmapPtr sky);
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
