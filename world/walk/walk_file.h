// The walk file: a viewer's run as the keys held at each logic tick, with
// the map it was made on and where it started, so that it can be replayed
// exactly. Bytes in memory to a Walk and back, checked before anything is
// trusted; the layout is documented in docs/walk-file.md.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/error.h"
#include "files/files.h"  // Required for: WriteMode

// The first bytes of every walk file: "GVWALK", then 0x1A and a line feed,
// which a transfer in text mode would change.
constexpr uint8_t WalkMagic[8] = {'G', 'V', 'W', 'A', 'L', 'K', 0x1A, 0x0A};
constexpr uint16_t WalkVersion = 1;

// The bytes before the map's name, and the tick count after it.
constexpr size_t WalkHeaderSize = 58;
constexpr size_t WalkTickCountSize = 4;

// The longest map name stored: the name as the viewer was given it.
constexpr size_t MaxWalkMapName = 4096;
// The most ticks in a walk: a little under six days at 33 ticks a second,
// one byte each, so a walk file is at most 16 MiB and a few bytes.
constexpr uint32_t MaxWalkTicks = 1u << 24;
constexpr int64_t MaxWalkFileSize = WalkHeaderSize + MaxWalkMapName + WalkTickCountSize + MaxWalkTicks;

// Limits of the start pose, those of the viewer and of boardtool render:
// headings in 1/8 degree steps, height indices into the viewer's height
// table, positions finite and no farther out than the ground renderer takes.
constexpr int WalkAngleSteps = 2880;
constexpr int WalkHeightSteps = 100;
constexpr float WalkPositionLimit = 1073741824.0f;
// The most ticks a second a walk may say it was made at.
constexpr int MaxWalkTickRate = 1000;

// The keys held at one tick, one bit each. Bits 4 to 7 are kept for keys a
// viewer may add (Down, Page Up, Page Down, Home are meant for them); a
// viewer that does not know a bit refuses to play a walk that holds it.
enum WalkKey : uint8_t {
    WalkRight = 0x01,
    WalkLeft = 0x02,
    WalkUp = 0x04,
    WalkScreenshot = 0x08,  // F12
    WalkDown = 0x10,        // kept for later
    WalkPageUp = 0x20,      // kept for later
    WalkPageDown = 0x40,    // kept for later
    WalkHome = 0x80,        // kept for later
};

// SHA-256 of a map file's bytes: which map a walk was made on.
using MapDigest = std::array<uint8_t, 32>;

struct Walk {
    // The map as the viewer was given it, for messages and for playing
    // without a map named; empty for the viewer's default world.
    std::string MapName;
    // SHA-256 of the map file the walk was made on; all zeros for a walk
    // bound to no map, which may be shown on any.
    MapDigest Digest{};
    uint16_t TickRate = 33;
    float StartX = 0.0f;
    float StartY = 0.0f;
    int StartAngle = 0;   // 0..2879
    int StartHeight = 0;  // 0..99
    std::vector<uint8_t> Keys;  // one byte of WalkKey bits per tick

    // True when the walk may be shown on any map.
    bool Unbound() const;
};

// Decodes the walk file held in `data`. Every field is checked against the
// limits above before it is trusted, and the file must end exactly after the
// last tick. On failure returns false with `error` naming `fileName` and the
// fault; `out` is then left as it was.
bool ParseWalk(const uint8_t* data, size_t size, const std::string& fileName, Walk& out, Error& error);

// Reads and decodes the walk file `name` (at most MaxWalkFileSize bytes).
bool ReadWalkFile(const char* name, Walk& out, Error& error);

// The bytes of a walk file holding `walk`, which must be within the limits
// (CheckWalk); false, with the reason, when it is not.
bool EncodeWalk(const Walk& walk, std::vector<uint8_t>& bytes, Error& error);
// The limits on a walk's fields, as ParseWalk applies them; `error` carries
// the reason without a file.
bool CheckWalk(const Walk& walk, Error& error);

// Writes `walk` as the file `path`, whole or not at all (WriteWholeFile).
bool WriteWalkFile(const std::string& path, const Walk& walk, WriteMode mode, Error& error);

// SHA-256 of the bytes of the regular file `name`, read a piece at a time.
bool DigestFile(const char* name, MapDigest& digest, Error& error);
// The digest in lower-case hexadecimal.
std::string DigestText(const MapDigest& digest);
