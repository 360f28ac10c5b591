// A deep snapshot of everything observable in a World, so that a test can
// assert that a refused operation left the World exactly as it was.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/world.h"

// What a test can see of one bitmap: its identity, size, depth and pixels.
struct BitmapState {
    const BITMAP* pointer = nullptr;
    int w = 0;
    int h = 0;
    int depth = 0;
    uint64_t pixelHash = 0;  // over every pixel's raw bytes

    bool operator==(const BitmapState& other) const;
};

struct WorldState {
    std::vector<MapCell> cells;  // [tx * MapSize + ty], every field including Frame
    std::vector<char> tileNames; // all MaxTiles slots, every byte
    std::vector<char> skyName;   // every byte
    int32_t tileCount, columnBase, animFrame, animLastFrame, animDelay, animTick;
    uint32_t extraFloatBits;     // compared bit for bit, so NaN equals itself
    std::vector<BitmapState> tiles;
    BitmapState sky;
};

WorldState Snapshot(const World& world);

// A readable list of what differs, at most a few lines per field; empty when
// the two states are equal.
std::string Difference(const WorldState& before, const WorldState& after);

// For EXPECT_TRUE(Unchanged(before, world)): fails with the difference.
testing::AssertionResult Unchanged(const WorldState& before, const World& world);
