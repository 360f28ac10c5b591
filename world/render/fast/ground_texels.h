// The fast ground renderer's texel cache: the texel table of the World kept
// from one draw to the next in a compact form of 32-bit distances, with the
// frames in use copied into blocks of one pitch where their images differ
// in width. Internal to the renderer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/ground.h"

// The table depends only on the tile images' places, the cells' tiles and
// frames and the low 8 bits of the global frame, which change once a tick at
// most, while frames are drawn many times a tick. Each draw compares those
// and rebuilds the table when anything differs.
//
// The compact form holds each entry as the distance of its first texel from
// Base, in texels. OnePitch when every entry has the same pitch, below
// GroundPitchLimit: Start holds the entries. Otherwise, with few frames in
// use, the frames are copied side by side into Blocks before each draw,
// 32 x 32 texels a block, and read from there in the one-pitch form
// (BlockFrom holds where each block's texels come from). Otherwise Rows:
// RowStart holds the first texel of each row of each entry, at
// entry * 32 + row. None when the frames read in place spread over 1 GiB or
// more, or a pitch is 2^20 or more.
struct GroundTexelCache {
    static constexpr uint32_t KeyBytes = 0xFF00FF00;  // little-endian: bytes 13 and 15

    enum Form { None, OnePitch, Rows };

    // Brings the table up to date with the World as it is now and copies the
    // blocks' texels; `wide`: with the AVX-512 level's loads and stores.
    void Update(const World& world, bool wide);

    Form Compact = None;
    int32_t Pitch = 0;  // the one pitch, with OnePitch
    uintptr_t Base = 0;
    int32_t Start[OffMapSource + 1];
    std::vector<int32_t> RowStart;

private:
    struct alignas(64) Block {
        uint16_t Texels[CellSize * CellSize];
    };

    bool Matches(const World& world, const TileImages& images, bool wide) const;
    void Rebuild(const World& world, const TileImages& images);
    void CopyBlocks(bool wide);
    bool GatherBlocks();
    void MakeCompact();
    void SetStarts(uintptr_t lowest);

    bool Built = false;
    TileImages Images;
    int32_t GlobalFrame = 0;
    uint32_t CellKeys[MapSize * MapSize];  // the key bytes of each cell, by CellSource
    TexelSources Sources;
    bool UseBlocks = false;
    std::vector<TexelSource> BlockFrom;
    std::vector<Block> Blocks;
};
