// The map as the board file stores it, without any image: the cells, the
// tile and sky names and the animation settings. Plain data, so that the
// board-file parser and other readers can fill one from bytes alone; the
// World holds one and adds the images and the running animation.
#pragma once

#include <cstdint>

constexpr int MapSize = 64;        // cells on a side
constexpr int CellSize = 32;       // world units per cell; texels per tile side
constexpr int MaxTiles = 100;      // slots in TileNames
constexpr int NameSlotSize = 128;  // a name of at most 127 characters and its NUL

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

// Every field a board file's body stores.
struct MapRecord {
    MapCell Cells[MapSize][MapSize]; // indexed [tx][ty]
    char TileNames[MaxTiles][NameSlotSize];
    char SkyName[NameSlotSize];
    int32_t TileCount;
    int32_t AnimLastFrame;  // 0 switches the global animation off
    int32_t AnimDelay;      // a global frame lasts AnimDelay + 1 ticks
    float ExtraFloat;       // carried in the board file; not interpreted
};
