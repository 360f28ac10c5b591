// The World: one map held in memory (64 x 64 cells, the tile images they
// show, the sky panorama, the animation state) and its operations: loading
// and saving board files, a new map from a tile list, animation, and the two
// drawing methods (defined with the renderers in render/).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "board/map_record.h"
#include "core/bitmap.h"
#include "core/tables.h"
#include "core/view_geometry.h"

struct Image;

// Images already decoded in memory, by the name a map gives them; a load
// takes them instead of reading a file of that name.
using ImagesInMemory = std::map<std::string, const Image*>;

class World : public MapRecord {
public:
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Every operation that can fail returns 0 on success and non-zero on
    // failure; LastError() then says which file and what is wrong with it.
    // A failed operation leaves the World as it was.

    // Fills the World from a board file and loads the images it names (a
    // placeholder stands in for each image that cannot be loaded).
    int LoadMap(const char* name);
    // The same for a board file already read into memory; `name` is the
    // file's name for messages and nothing is read from it.
    int LoadMapFromMemory(const uint8_t* data, size_t size, const char* name);
    // The same for a map record already decoded (`name` for messages); the
    // images named in `made` are taken from memory, the others loaded.
    int LoadRecord(const MapRecord& map, const std::string& name, const ImagesInMemory& made = {});
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

    // The perspective ground below the horizon: the renderer's arithmetic
    // written out plainly, one ray per column (render/ground.cpp). The fast
    // renderer (render/fast) draws the same pixels.
    void DrawGround(BITMAP* view, float x, float y, int height, int angle, int horizon) const;
    // The sky panorama from the top of the view down to the horizon row
    // (render/sky.cpp).
    void DrawSky(BITMAP* view, float x, float y, int height, int angle, int horizon) const;

    const Error& LastError() const { return Failure; }

    // The stored fields (Cells, TileNames, SkyName, TileCount, AnimDelay,
    // AnimLastFrame, ExtraFloat) come from MapRecord.
    std::vector<BitmapPtr> Tiles;    // tile n is Tiles[n], n < TileCount
    BitmapPtr Sky;                   // the sky panorama; null until loaded or made
    // The ground renderer's first column counter: ray s fills view column
    // 639 - s, so a view as wide as ViewWidth starts at the frame's width
    // less its own.
    int32_t ColumnBase;
    int32_t AnimFrame;      // global animation frame: the ground outside the map
    int32_t AnimTick;

private:
    // Takes the map and its images, keeping each cell's Frame.
    void Commit(const MapRecord& map, std::vector<BitmapPtr> tiles, BitmapPtr sky);
    // Records a failure for LastError() and returns the failure status.
    int Fail(Error error);
    // Takes `image` as the sky and copies `name` with its NUL into SkyName;
    // the bytes after the NUL keep what SkyName held. `name` fits the slot.
    void ReplaceSky(const char* name, BitmapPtr image);

    Error Failure;
};

// The sky image named `name`, or the sky placeholder when it cannot be
// loaded; null only when not even the placeholder can be made.
BitmapPtr LoadSkyImage(const char* name);
