// The board file: one map on disk. A 5-byte header (one byte nobody
// interprets, then the 32-bit offset B of the body), a gap up to B, and the
// body: 4096 cell records of 15 bytes, the tile count N, N name slots of 128
// bytes, the global animation delay and last frame, a float, the sky's name
// slot. Little-endian throughout, no padding; bytes after the body are never
// read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board/map_record.h"
#include "files/error.h"

constexpr int64_t BoardHeaderSize = 5;     // header byte + body offset
constexpr int64_t CellRecordSize = 15;     // a MapCell without its Frame
constexpr int64_t BoardCellsSize = MapSize * MapSize * CellRecordSize;  // 61440
constexpr int64_t BoardBodyFixedSize = BoardCellsSize + 4 + 4 + 4 + 4 + NameSlotSize;  // 61584

// Length of a body holding `tileCount` tile name slots.
constexpr int64_t BoardBodySize(int64_t tileCount)
{
    return BoardBodyFixedSize + NameSlotSize * tileCount;
}

// A board file decoded, and checked against every limit of the format: the
// header, the body offset, the tile count, a NUL in every name slot.
struct BoardFile : MapRecord {
    uint8_t HeaderByte;
    int32_t BodyOffset;                // at least 5, at most FileSize and 2^31 - 1
    uint64_t FileSize;                 // bytes in the whole file
    // From MapRecord: Cells (Frame is not stored and is 0 here), TileNames
    // (slots from TileCount on are all zero), and the rest of the body.

    // Offset of the first byte after the body.
    int64_t BodyEnd() const { return BodyOffset + BoardBodySize(TileCount); }
};

// Decodes the board file held in `data`. Every length is checked before a
// count from the file is trusted. On failure returns false with `error`
// naming `fileName` and the fault with its numbers; `out` is then left as it
// was.
bool ParseBoard(const uint8_t* data, size_t size, const std::string& fileName, BoardFile& out,
                Error& error);

// Reads the board file stored as `name` by its layout: the header, then the
// body at its offset; the gap before the body and whatever follows it are
// never read. Refuses, as ParseBoard does, naming the file as opened.
bool ReadBoardFile(const char* name, BoardFile& out, Error& error);

// A save copies the whole old file (its gap and what follows its body); it
// refuses a file larger than this rather than hold it in memory.
constexpr int64_t MaxSavedBoardBytes = int64_t(256) << 20;

// Appends the body of a board file holding `map`: the cell records
// (ty outer, tx inner), TileCount and its name slots written whole, all 128
// bytes as held, AnimDelay, AnimLastFrame, ExtraFloat and all 128 bytes of
// SkyName. `map.TileCount` must lie within 0..MaxTiles.
void AppendBody(const MapRecord& map, std::vector<uint8_t>& out);

// The whole of a new board file holding `map`: header byte 0, the body at
// offset 5. `map.TileCount` must lie within 0..MaxTiles.
void NewBoardFileBytes(const MapRecord& map, std::vector<uint8_t>& out);

// A map that could not be loaded back is never written: the tile count must
// fit TileNames and every slot written must hold its NUL. On refusal `error`
// says which; its File is left empty for the caller, who knows the file.
bool CheckWritable(const MapRecord& map, Error& error);

// Writes `map` into the body of the existing board file `name`, keeping its
// header, the gap before the body and whatever lies after the new body. The
// file is replaced whole (WriteWholeFile, Replace) or left as it was.
bool SaveBoardFile(const char* name, const MapRecord& map, Error& error);

// Writes `map` as the new board file `name` (header byte 0, body at offset
// 5); refuses to replace anything that exists.
bool CreateBoardFile(const char* name, const MapRecord& map, Error& error);
