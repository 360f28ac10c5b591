// Board files: decoding and encoding the bytes, and the World's LoadMap,
// SaveMap and CreateMap on top of them. A file is read whole and checked
// whole before the World changes; a save builds the whole new file and
// replaces the old one in one rename.
#include "board_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "file_writer.h"

// ---------------------------------------------------------------------------
// Bytes in, bytes out

bool ReadWholeFile(const char* name, std::vector<uint8_t>& bytes, std::string& error)
{
    const int fd = open(HostPath(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string(name) + ": cannot open: " + std::strerror(errno);
        return false;
    }
    // A board file is a regular file; a device or a pipe could feed bytes
    // for ever.
    struct stat info;
    if (fstat(fd, &info) != 0) {
        error = std::string(name) + ": cannot read: " + std::strerror(errno);
        close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = std::string(name) + (S_ISDIR(info.st_mode) ? ": is a directory" : ": is not a regular file");
        close(fd);
        return false;
    }
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        error = std::string(name) + ": " + std::to_string(info.st_size) + " bytes do not fit in memory";
        close(fd);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t got = read(fd, data.data() + done, data.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = std::string(name) + ": cannot read: " + std::strerror(errno);
            close(fd);
            return false;
        }
        if (got == 0)  // shrunk while being read: keep what is there
            break;
        done += static_cast<size_t>(got);
    }
    close(fd);
    data.resize(done);
    bytes = std::move(data);
    return true;
}

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

// Decodes into `out` whatever the file holds; `out` is meaningless after a
// refusal, so ParseBoard hands over only a whole, valid board.
static bool DecodeBoard(const uint8_t* data, size_t size, const std::string& fileName, BoardFile& out,
                        std::string& error)
{
    const int64_t fileSize = static_cast<int64_t>(size);
    auto refuse = [&](const std::string& what) {
        error = fileName + ": " + what;
        return false;
    };

    if (fileSize < BoardHeaderSize)
        return refuse(Plural(fileSize, "byte", "bytes") + ", the header needs " +
                      std::to_string(BoardHeaderSize));
    out.HeaderByte = data[0];
    out.BodyOffset = static_cast<int32_t>(Get32(data + 1));
    out.FileSize = size;
    const int64_t body = out.BodyOffset;
    if (body < BoardHeaderSize)
        return refuse("body offset " + std::to_string(body) + " is below " + std::to_string(BoardHeaderSize) +
                      ": the body would overlap the header");
    if (body > fileSize)
        return refuse("body offset " + std::to_string(body) + " lies past the end of the file (" +
                      Plural(fileSize, "byte", "bytes") + ")");

    // The tile count decides the body's length, so it is read first.
    const int64_t countEnd = body + BoardCellsSize + 4;
    if (fileSize < countEnd)
        return refuse(Plural(fileSize, "byte", "bytes") + ", the cells and tile count of a body at offset " +
                      std::to_string(body) + " need " + std::to_string(countEnd));
    const int32_t count = static_cast<int32_t>(Get32(data + body + BoardCellsSize));
    if (count < 0)
        return refuse("tile count " + std::to_string(count) + " is below 0");
    if (count > MaxTiles)
        return refuse("tile count " + std::to_string(count) + " is above " + std::to_string(MaxTiles));
    const int64_t bodyEnd = body + BoardBodySize(count);
    if (fileSize < bodyEnd)
        return refuse(Plural(fileSize, "byte", "bytes") + ", a body with " + Plural(count, "tile", "tiles") +
                      " at offset " + std::to_string(body) + " needs " + std::to_string(bodyEnd));

    // Every length is known to be there now.
    const uint8_t* p = data + body;
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
                std::string& error)
{
    auto board = std::make_unique<BoardFile>();
    if (!DecodeBoard(data, size, fileName, *board, error))
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

// A map that could not be loaded back is never written: the tile count must
// fit TileNames and every slot written must hold its NUL.
static bool CheckWritable(const MapRecord& world, std::string& error)
{
    if (world.TileCount < 0 || world.TileCount > MaxTiles) {
        error = "the map's tile count " + std::to_string(world.TileCount) + " is outside 0.." +
                std::to_string(MaxTiles);
        return false;
    }
    for (int k = 0; k < world.TileCount; k++) {
        if (!HasNul(world.TileNames[k])) {
            error = "the map's tile name slot " + std::to_string(k) + " has no terminating NUL";
            return false;
        }
    }
    if (!HasNul(world.SkyName)) {
        error = "the map's sky name slot has no terminating NUL";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The World's operations

int World::LoadMap(const char* name)
{
    std::string error;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(name, bytes, error))
        return Fail(error);
    return LoadMapFromMemory(bytes.data(), bytes.size(), name);
}

int World::LoadMapFromMemory(const uint8_t* data, size_t size, const char* name)
{
    std::string error;
    auto board = std::make_unique<BoardFile>();
    if (!ParseBoard(data, size, name, *board, error))
        return Fail(error);

    // Images are loaded into temporaries; the World changes only once
    // everything is in hand.
    std::vector<BitmapPtr> tiles;
    tiles.reserve(static_cast<size_t>(board->TileCount));
    for (int k = 0; k < board->TileCount; k++) {
        BitmapPtr tile = LoadImage(board->TileNames[k]);
        if (!tile)
            tile = MakeTilePlaceholder();
        if (!tile)
            return Fail(std::string(name) + ": cannot make a bitmap for the placeholder of tile " +
                        std::to_string(k));
        tiles.push_back(std::move(tile));
    }
    BitmapPtr sky = LoadSkyImage(board->SkyName);
    if (!sky)
        return Fail(std::string(name) + ": cannot make a bitmap for the sky placeholder");

    Commit(*board, std::move(tiles), std::move(sky));
    return 0;
}

void World::Commit(const MapRecord& map, std::vector<BitmapPtr> tiles, BitmapPtr sky)
{
    // Each cell keeps its Frame: the animation goes on where it was.
    for (int tx = 0; tx < MapSize; tx++) {
        for (int ty = 0; ty < MapSize; ty++) {
            const uint8_t frame = Cells[tx][ty].Frame;
            Cells[tx][ty] = map.Cells[tx][ty];
            Cells[tx][ty].Frame = frame;
        }
    }
    Tiles = std::move(tiles);  // the replaced images are destroyed here
    TileCount = map.TileCount;
    std::memcpy(TileNames, map.TileNames, sizeof TileNames[0] * static_cast<size_t>(TileCount));
    AnimDelay = map.AnimDelay;
    AnimLastFrame = map.AnimLastFrame;
    ExtraFloat = map.ExtraFloat;
    ReplaceSky(map.SkyName, std::move(sky));
}

int World::SaveMap(const char* name)
{
    std::string error;
    if (!CheckWritable(*this, error))
        return Fail(std::string(name) + ": not saved: " + error);

    // The file must exist and be writable, as an in-place write would need,
    // although the new bytes go into a fresh file that replaces it.
    const std::string path = HostPath(name);
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return Fail(std::string(name) + ": cannot open for writing: " + std::strerror(errno));
    struct stat info;
    const bool statted = fstat(fd, &info) == 0;
    close(fd);
    if (!statted || !S_ISREG(info.st_mode))
        return Fail(std::string(name) + ": is not a regular file");

    std::vector<uint8_t> old;
    if (!ReadWholeFile(name, old, error))
        return Fail(error);
    const int64_t oldSize = static_cast<int64_t>(old.size());
    if (oldSize < BoardHeaderSize)
        return Fail(std::string(name) + ": " + Plural(oldSize, "byte", "bytes") + ", the header needs " +
                    std::to_string(BoardHeaderSize) + "; not saved");
    const int64_t body = static_cast<int32_t>(Get32(old.data() + 1));
    if (body < BoardHeaderSize)
        return Fail(std::string(name) + ": body offset " + std::to_string(body) + " is below " +
                    std::to_string(BoardHeaderSize) + ": the body would overwrite the header; not saved");

    // The new file holds what an in-place write at the body offset would
    // leave: the header and gap, zeros up to the body if the file ended
    // before it, the new body, and the old bytes after the new body's end.
    std::vector<uint8_t> bytes;
    try {
        const int64_t bodyEnd = body + BoardBodySize(TileCount);
        bytes.reserve(static_cast<size_t>(std::max(bodyEnd, oldSize)));
        bytes.assign(old.begin(), old.begin() + std::min(body, oldSize));
        bytes.resize(static_cast<size_t>(body), 0);
        AppendBody(*this, bytes);
        if (oldSize > bodyEnd)
            bytes.insert(bytes.end(), old.begin() + bodyEnd, old.end());
    } catch (const std::bad_alloc&) {
        return Fail(std::string(name) + ": the new file does not fit in memory; not saved");
    }

    if (!ReplaceFileAtomically(path, bytes, error))
        return Fail(std::string(name) + ": not saved, the file is unchanged: " + error);
    return 0;
}

int World::CreateMap(const char* name)
{
    std::string error;
    if (!CheckWritable(*this, error))
        return Fail(std::string(name) + ": not created: " + error);

    std::vector<uint8_t> bytes;
    bytes.push_back(0);  // the header byte
    Put32(bytes, static_cast<uint32_t>(BoardHeaderSize));
    AppendBody(*this, bytes);
    if (!CreateFileAtomically(HostPath(name), bytes, error))
        return Fail(std::string(name) + ": not created: " + error);
    return 0;
}
