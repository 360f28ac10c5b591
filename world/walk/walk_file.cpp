// The walk file decoded and encoded field by field, little-endian, and the
// digest that ties a walk to the bytes of its map.
#include "walk/walk_file.h"

#include <openssl/evp.h>  // Required for: the SHA-256 digest

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Offsets in the header.
constexpr size_t VersionAt = 8;
constexpr size_t TickRateAt = 10;
constexpr size_t StartXAt = 12;
constexpr size_t StartYAt = 16;
constexpr size_t AngleAt = 20;
constexpr size_t HeightAt = 22;
constexpr size_t DigestAt = 24;
constexpr size_t NameLengthAt = 56;
static_assert(NameLengthAt + 2 == WalkHeaderSize, "the name follows its length");

const char HexDigits[] = "0123456789abcdef";

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

float GetFloat(const uint8_t* p)
{
    const uint32_t bits = Get32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void Put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutFloat(std::vector<uint8_t>& out, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Put32(out, bits);
}

bool PositionInRange(float value)
{
    return std::isfinite(value) && std::fabs(value) <= WalkPositionLimit;
}

std::string PositionText(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

bool AllZero(const MapDigest& digest)
{
    for (uint8_t byte : digest)
        if (byte != 0)
            return false;
    return true;
}

}  // namespace

bool Walk::Unbound() const
{
    return AllZero(Digest);
}

bool CheckWalk(const Walk& walk, Error& error)
{
    const auto refuse = [&error](const std::string& reason) {
        error = Error{"", reason};
        return false;
    };
    if (walk.TickRate < 1 || walk.TickRate > MaxWalkTickRate)
        return refuse("tick rate " + std::to_string(walk.TickRate) + " is outside 1.." +
                      std::to_string(MaxWalkTickRate));
    if (!PositionInRange(walk.StartX) || !PositionInRange(walk.StartY))
        return refuse("start position (" + PositionText(walk.StartX) + ", " + PositionText(walk.StartY) +
                      ") is not within -1073741824..1073741824");
    if (walk.StartAngle < 0 || walk.StartAngle >= WalkAngleSteps)
        return refuse("start heading " + std::to_string(walk.StartAngle) + " is outside 0..2879");
    if (walk.StartHeight < 0 || walk.StartHeight >= WalkHeightSteps)
        return refuse("start height " + std::to_string(walk.StartHeight) + " is outside 0..99");
    if (walk.MapName.size() > MaxWalkMapName)
        return refuse("the map's name has " + std::to_string(walk.MapName.size()) + " bytes, more than " +
                      std::to_string(MaxWalkMapName));
    if (walk.MapName.find('\0') != std::string::npos)
        return refuse("the map's name holds a NUL byte");
    if (walk.Keys.size() > MaxWalkTicks)
        return refuse(std::to_string(walk.Keys.size()) + " ticks, more than " + std::to_string(MaxWalkTicks));
    return true;
}

bool ParseWalk(const uint8_t* data, size_t size, const std::string& fileName, Walk& out, Error& error)
{
    const auto refuse = [&](const std::string& reason) {
        error = Error{fileName, reason};
        return false;
    };
    if (size < sizeof WalkMagic || std::memcmp(data, WalkMagic, sizeof WalkMagic) != 0)
        return refuse("not a walk file: it does not start with GVWALK");
    if (size < WalkHeaderSize)
        return refuse(std::to_string(size) + " bytes, less than the " + std::to_string(WalkHeaderSize) +
                      "-byte header");
    const uint16_t version = Get16(data + VersionAt);
    if (version != WalkVersion)
        return refuse("walk file version " + std::to_string(version) + "; this program reads version " +
                      std::to_string(WalkVersion));

    Walk walk;
    walk.TickRate = Get16(data + TickRateAt);
    walk.StartX = GetFloat(data + StartXAt);
    walk.StartY = GetFloat(data + StartYAt);
    walk.StartAngle = Get16(data + AngleAt);
    walk.StartHeight = Get16(data + HeightAt);
    std::memcpy(walk.Digest.data(), data + DigestAt, walk.Digest.size());
    const size_t nameLength = Get16(data + NameLengthAt);
    if (nameLength > MaxWalkMapName)
        return refuse("the map's name has " + std::to_string(nameLength) + " bytes, more than " +
                      std::to_string(MaxWalkMapName));
    const size_t countAt = WalkHeaderSize + nameLength;
    if (size < countAt + WalkTickCountSize)
        return refuse(std::to_string(size) + " bytes, too short for a map name of " + std::to_string(nameLength) +
                      " bytes and the tick count");
    walk.MapName.assign(reinterpret_cast<const char*>(data + WalkHeaderSize), nameLength);
    const uint32_t ticks = Get32(data + countAt);
    if (ticks > MaxWalkTicks)
        return refuse(std::to_string(ticks) + " ticks, more than " + std::to_string(MaxWalkTicks));
    const size_t keysAt = countAt + WalkTickCountSize;
    if (size - keysAt != ticks)
        return refuse(std::to_string(size) + " bytes, but " + std::to_string(ticks) + " ticks make a file of " +
                      std::to_string(keysAt + ticks));
    Error reason;
    if (!CheckWalk(walk, reason))
        return refuse(reason.Reason);
    walk.Keys.assign(data + keysAt, data + size);
    out = std::move(walk);
    return true;
}

bool ReadWalkFile(const char* name, Walk& out, Error& error)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(name, MaxWalkFileSize, bytes, error))
        return false;
    return ParseWalk(bytes.data(), bytes.size(), HostPath(name), out, error);
}

bool EncodeWalk(const Walk& walk, std::vector<uint8_t>& bytes, Error& error)
{
    if (!CheckWalk(walk, error))
        return false;
    std::vector<uint8_t> out(WalkMagic, WalkMagic + sizeof WalkMagic);
    Put16(out, WalkVersion);
    Put16(out, walk.TickRate);
    PutFloat(out, walk.StartX);
    PutFloat(out, walk.StartY);
    Put16(out, static_cast<uint32_t>(walk.StartAngle));
    Put16(out, static_cast<uint32_t>(walk.StartHeight));
    out.insert(out.end(), walk.Digest.begin(), walk.Digest.end());
    Put16(out, static_cast<uint32_t>(walk.MapName.size()));
    out.insert(out.end(), walk.MapName.begin(), walk.MapName.end());
    Put32(out, static_cast<uint32_t>(walk.Keys.size()));
    out.insert(out.end(), walk.Keys.begin(), walk.Keys.end());
    bytes = std::move(out);
    return true;
}

bool WriteWalkFile(const std::string& path, const Walk& walk, WriteMode mode, Error& error)
{
    std::vector<uint8_t> bytes;
    if (!EncodeWalk(walk, bytes, error)) {
        error.File = path;
        error.Reason = "not written: " + error.Reason;
        return false;
    }
    return WriteWholeFile(path, bytes, mode, error);
}

bool DigestFile(const char* name, MapDigest& digest, Error& error)
{
    ReadableFile file;
    if (!file.Open(name, error))
        return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        error = Error{file.Path(), "cannot start a SHA-256 digest"};
        return false;
    }
    // A piece at a time: a board file may hold up to 2 GiB before its body.
    constexpr int64_t Piece = 1 << 20;
    std::vector<uint8_t> bytes;
    for (int64_t at = 0; at < file.Size(); at += Piece) {
        const size_t length = static_cast<size_t>(std::min(Piece, file.Size() - at));
        if (!file.ReadAt(at, length, bytes, error))
            return false;
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
    }
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        error = Error{file.Path(), "cannot finish a SHA-256 digest"};
        return false;
    }
    return true;
}

std::string DigestText(const MapDigest& digest)
{
    std::string text;
    for (uint8_t byte : digest) {
        text += HexDigits[byte >> 4];
        text += HexDigits[byte & 15];
    }
    return text;
}
