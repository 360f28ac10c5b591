// Board files: decoding and encoding the bytes, reading a file by its layout
// (the header, then the body at its offset) and writing one: a save builds
// the whole new file and replaces the old one in one rename.
#include "board/board_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "files/files.h"

// ---------------------------------------------------------------------------
// Bytes in, bytes out

static uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

static void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 24));
}

static float BitsToFloat(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

static uint32_t FloatToBits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

static bool HasNul(const char* slot)
{
    return std::memchr(slot, '\0', NameSlotSize) != nullptr;
}

static std::string Plural(int64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Decodes the header of a file of `fileSize` bytes, of which `data` holds
// the first `size`, and checks that its body offset lies within the file.
static bool DecodeHeader(const uint8_t* data, size_t size, int64_t fileSize, const std::string& fileName,
                         BoardFile& out, Error& error)
{
    if (fileSize < BoardHeaderSize || size < static_cast<size_t>(BoardHeaderSize)) {
        error = Error{fileName, Plural(fileSize, "byte", "bytes") + ", the header needs " +
                std::to_string(BoardHeaderSize)};
        return false;
    }
    out.HeaderByte = data[0];
    out.FileSize = static_cast<uint64_t>(fileSize);
    // Unsigned: an offset with the top bit set lies 2 GiB on, not before the header.
    const int64_t body = Get32(data + 1);
    if (body < BoardHeaderSize) {
        error = Error{fileName, std::string("body offset ") + std::to_string(body) + " is below " +
                std::to_string(BoardHeaderSize) + ": the body would overlap the header"};
        return false;
    }
    if (body > fileSize) {
        error = Error{fileName, std::string("body offset ") + std::to_string(body) + " lies past the end of the file (" +
                Plural(fileSize, "byte", "bytes") + ")"};
        return false;
    }
    // Only a file over 2 GiB gets here; its body would lie beyond what BodyOffset holds.
    if (body > INT32_MAX) {
        error = Error{fileName, std::string("body offset ") + std::to_string(body) + " is above " +
                std::to_string(INT32_MAX) + ", the farthest a body may start"};
        return false;
    }
    out.BodyOffset = static_cast<int32_t>(body);
    return true;
}

// Decodes the body that starts at `out.BodyOffset` in a file of
// `out.FileSize` bytes; `data` holds the body's first `size` bytes, all
// of it that the file has up to the longest body. `out` is meaningless after
// a refusal, so ParseBoard hands over only a whole, valid board.
static bool DecodeBody(const uint8_t* data, size_t size, const std::string& fileName, BoardFile& out,
                       Error& error)
{
    const int64_t fileSize = static_cast<int64_t>(out.FileSize);
    const int64_t body = out.BodyOffset;
    auto refuse = [&](const std::string& what) {
        error = Error{fileName, what};
        return false;
    };

    // The tile count decides the body's length, so it is read first.
    const int64_t countEnd = body + BoardCellsSize + 4;
    if (fileSize < countEnd || size < static_cast<size_t>(BoardCellsSize + 4))
        return refuse(Plural(fileSize, "byte", "bytes") + ", the cells and tile count of a body at offset " +
                      std::to_string(body) + " need " + std::to_string(countEnd));
    const int32_t count = static_cast<int32_t>(Get32(data + BoardCellsSize));
    if (count < 0)
        return refuse("tile count " + std::to_string(count) + " is below 0");
    if (count > MaxTiles)
        return refuse("tile count " + std::to_string(count) + " is above " + std::to_string(MaxTiles));
    const int64_t bodyEnd = body + BoardBodySize(count);
    if (fileSize < bodyEnd || size < static_cast<size_t>(BoardBodySize(count)))
        return refuse(Plural(fileSize, "byte", "bytes") + ", a body with " + Plural(count, "tile", "tiles") +
                      " at offset " + std::to_string(body) + " needs " + std::to_string(bodyEnd));

    // Every length is known to be there now.
    const uint8_t* p = data;
    for (int ty = 0; ty < MapSize; ty++) {
        for (int tx = 0; tx < MapSize; tx++) {
            MapCell& cell = out.Cells[tx][ty];
            cell.ExtraA = static_cast<int32_t>(Get32(p));
            cell.ExtraB = static_cast<int32_t>(Get32(p + 4));
            cell.ExtraC = p[8];
            cell.Delay = static_cast<int8_t>(p[9]);
            cell.ExtraD = p[10];
            cell.Tick = static_cast<int8_t>(p[11]);
            cell.Flags = p[12];
            cell.Frame = 0;
            cell.LastFrame = p[13];
            cell.Tile = p[14];
            p += CellRecordSize;
        }
    }
    p += 4;  // the tile count, read above
    out.TileCount = count;
    std::memset(out.TileNames, 0, sizeof out.TileNames);
    for (int k = 0; k < count; k++) {
        std::memcpy(out.TileNames[k], p, NameSlotSize);
        if (!HasNul(out.TileNames[k]))
            return refuse("tile name slot " + std::to_string(k) + " has no terminating NUL");
        p += NameSlotSize;
    }
    out.AnimDelay = static_cast<int32_t>(Get32(p));
    out.AnimLastFrame = static_cast<int32_t>(Get32(p + 4));
    out.ExtraFloat = BitsToFloat(Get32(p + 8));
    p += 12;
    std::memcpy(out.SkyName, p, NameSlotSize);
    if (!HasNul(out.SkyName))
        return refuse("the sky name slot has no terminating NUL");
    return true;
}

bool ParseBoard(const uint8_t* data, size_t size, const std::string& fileName, BoardFile& out,
                Error& error)
{
    auto board = std::make_unique<BoardFile>();
    if (!DecodeHeader(data, size, static_cast<int64_t>(size), fileName, *board, error))
        return false;
    const size_t body = static_cast<size_t>(board->BodyOffset);
    if (!DecodeBody(data + body, size - body, fileName, *board, error))
        return false;
    out = *board;
    return true;
}

bool ReadBoardFile(const char* name, BoardFile& out, Error& error)
{
    ReadableFile file;
    if (!file.Open(name, error))
        return false;
    auto board = std::make_unique<BoardFile>();
    std::vector<uint8_t> bytes;
    const size_t headerBytes = static_cast<size_t>(std::min(file.Size(), BoardHeaderSize));
    if (!file.ReadAt(0, headerBytes, bytes, error) ||
        !DecodeHeader(bytes.data(), bytes.size(), file.Size(), file.Path(), *board, error))
        return false;
    // Only the body is read, and no more of it than the longest body: a
    // file far too short is refused from its size, and a huge gap or tail
    // is never touched.
    const int64_t body = board->BodyOffset;
    const size_t bodyBytes = static_cast<size_t>(std::min(file.Size() - body, BoardBodySize(MaxTiles)));
    if (!file.ReadAt(body, bodyBytes, bytes, error) ||
        !DecodeBody(bytes.data(), bytes.size(), file.Path(), *board, error))
        return false;
    out = *board;
    return true;
}

void AppendBody(const MapRecord& world, std::vector<uint8_t>& out)
{
    out.reserve(out.size() + static_cast<size_t>(BoardBodySize(world.TileCount)));
    for (int ty = 0; ty < MapSize; ty++) {
        for (int tx = 0; tx < MapSize; tx++) {
            const MapCell& cell = world.Cells[tx][ty];
            Put32(out, static_cast<uint32_t>(cell.ExtraA));
            Put32(out, static_cast<uint32_t>(cell.ExtraB));
            out.push_back(cell.ExtraC);
            out.push_back(static_cast<uint8_t>(cell.Delay));
            out.push_back(cell.ExtraD);
            out.push_back(static_cast<uint8_t>(cell.Tick));
            out.push_back(cell.Flags);
            out.push_back(cell.LastFrame);  // Frame is run-time state, never stored
            out.push_back(cell.Tile);
        }
    }
    Put32(out, static_cast<uint32_t>(world.TileCount));
    for (int k = 0; k < world.TileCount; k++)
        out.insert(out.end(), world.TileNames[k], world.TileNames[k] + NameSlotSize);
    Put32(out, static_cast<uint32_t>(world.AnimDelay));
    Put32(out, static_cast<uint32_t>(world.AnimLastFrame));
    Put32(out, FloatToBits(world.ExtraFloat));
    out.insert(out.end(), world.SkyName, world.SkyName + NameSlotSize);
}

void NewBoardFileBytes(const MapRecord& map, std::vector<uint8_t>& out)
{
    out.clear();
    out.push_back(0);  // the header byte
    Put32(out, static_cast<uint32_t>(BoardHeaderSize));
    AppendBody(map, out);
}

bool CheckWritable(const MapRecord& world, Error& error)
{
    if (world.TileCount < 0 || world.TileCount > MaxTiles) {
        error = Error{"", "the map's tile count " + std::to_string(world.TileCount) + " is outside 0.." +
                std::to_string(MaxTiles)};
        return false;
    }
    for (int k = 0; k < world.TileCount; k++) {
        if (!HasNul(world.TileNames[k])) {
            error = Error{"", "the map's tile name slot " + std::to_string(k) + " has no terminating NUL"};
            return false;
        }
    }
    if (!HasNul(world.SkyName)) {
        error = Error{"", "the map's sky name slot has no terminating NUL"};
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Files

bool SaveBoardFile(const char* name, const MapRecord& map, Error& error)
{
    const std::string path = HostPath(name);
    if (!CheckWritable(map, error)) {
        error = Error{path, "not saved: " + error.Reason};
        return false;
    }

    // The file must be a regular file that this process may write, as an
    // in-place write would need, although the new bytes go into a fresh
    // file that replaces it.
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = Error{path, "is not a regular file; not saved"};
        return false;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = Error{path, std::string("cannot open for writing: ") + std::strerror(errno)};
        return false;
    }
    close(fd);

    // Only a file that holds a board is written: its header places the
    // body, and the same decoder as a load's says whether it is one.
    std::vector<uint8_t> old;
    auto board = std::make_unique<BoardFile>();
    if (!ReadWholeFile(name, MaxSavedBoardBytes, old, error) ||
        !ParseBoard(old.data(), old.size(), path, *board, error)) {
        error.Reason += "; not saved";
        return false;
    }
    const int64_t oldSize = static_cast<int64_t>(old.size());
    const int64_t body = board->BodyOffset;

    // The new file holds what an in-place write at the body offset would
    // leave: the header and gap, the new body, and the old bytes after the
    // new body's end.
    std::vector<uint8_t> bytes;
    try {
        const int64_t bodyEnd = body + BoardBodySize(map.TileCount);
        bytes.reserve(static_cast<size_t>(std::max(bodyEnd, oldSize)));
        bytes.assign(old.begin(), old.begin() + body);
        AppendBody(map, bytes);
        if (oldSize > bodyEnd)
            bytes.insert(bytes.end(), old.begin() + bodyEnd, old.end());
    } catch (const std::bad_alloc&) {
        error = Error{path, "the new file does not fit in memory; not saved"};
        return false;
    }

    if (!WriteWholeFile(path, bytes, WriteMode::Replace, error)) {
        error.Reason = "not saved, the file is unchanged: " + error.Reason;
        return false;
    }
    return true;
}

bool CreateBoardFile(const char* name, const MapRecord& map, Error& error)
{
    if (!CheckWritable(map, error)) {
        error = Error{HostPath(name), "not created: " + error.Reason};
        return false;
    }
    std::vector<uint8_t> bytes;
    NewBoardFileBytes(map, bytes);
    if (!WriteWholeFile(HostPath(name), bytes, WriteMode::CreateOnly, error)) {
        error.Reason = "not created: " + error.Reason;
        return false;
    }
    return true;
}
