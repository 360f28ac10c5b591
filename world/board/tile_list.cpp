// Tile lists: reading the count and the image names, from bytes or from a
// file read no further than a real list can reach.
#include "board/tile_list.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "board/map_record.h"
#include "files/files.h"

namespace {

// A real tile list is a few kilobytes: 100 names of at most 127 characters.
// Reading stops after this many bytes, so that a device or a huge file given
// by mistake is not read into memory whole.
constexpr size_t MaxListBytes = 1 << 20;

// The white space of "%s" and "%i" in the C locale.
bool IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Value of a digit in bases up to 16; 16 for anything that is no digit.
int DigitValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 16;
}

// A token as it can be shown in a message: at most 40 characters, a quote or
// anything unprintable written as \xNN. A backslash stays as it is: names
// use it to separate directories.
std::string Shown(const char* text, size_t size)
{
    constexpr size_t Shortened = 40;
    std::string shown = "\"";
    for (size_t i = 0; i < size && i < Shortened; i++) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '"') {
            shown += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        }
    }
    shown += size > Shortened ? "\"..." : "\"";
    return shown;
}

}  // namespace

bool ParseTileList(const char* text, size_t size, const std::string& listName,
                   TileList& out, Error& error)
{
    const char* p = text;
    const char* const end = text + size;
    auto skipSpace = [&] {
        while (p < end && IsSpace(static_cast<unsigned char>(*p)))
            p++;
    };
    auto tokenEnd = [&](const char* from) {
        while (from < end && !IsSpace(static_cast<unsigned char>(*from)))
            from++;
        return from;
    };

    // The count, as "%i" reads it.
    skipSpace();
    const char* const countStart = p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        p++;
    }
    int base = 10;
    bool haveDigit = false;
    if (p < end && *p == '0') {
        // A leading 0 is a digit of an octal count, unless 0x makes it hexadecimal.
        p++;
        haveDigit = true;
        base = 8;
        if (p < end && (*p == 'x' || *p == 'X')) {
            p++;
            haveDigit = false;
            base = 16;
        }
    }
    // Any value above this is refused alike, so the sum stops growing here
    // and can never overflow however many digits follow.
    constexpr uint32_t Saturated = 1000;
    uint32_t value = 0;
    while (p < end && DigitValue(static_cast<unsigned char>(*p)) < base) {
        if (value <= Saturated)
            value = value * base + DigitValue(static_cast<unsigned char>(*p));
        haveDigit = true;
        p++;
    }
    if (!haveDigit) {
        if (base == 16) {
            // glibc's fscanf takes a bare "0x" as the count 0; other C
            // libraries refuse it. A list written so is refused here too.
            error = Error{listName, std::string("the tile count ") + Shown(countStart, p - countStart) +
                    " has no hexadecimal digit after its 0x"};
        } else if (countStart == end) {
            error = Error{listName, std::string("no tile count at the start, found ") +
                    (size == 0 ? std::string("an empty file") : std::string("only white space"))};
        } else {
            error = Error{listName, std::string("no tile count at the start, found ") +
                    Shown(countStart, tokenEnd(countStart) - countStart)};
        }
        return false;
    }
    const std::string countText(countStart, p);
    const bool plainDecimal = base == 10 && countText[0] != '+';
    auto countShown = [&] {
        if (plainDecimal || value > Saturated)
            return countText;
        return countText + " (" + (negative ? "-" : "") + std::to_string(value) + ")";
    };
    if (negative && value != 0) {
        error = Error{listName, std::string("the tile count ") + countShown() + " is below 0"};
        return false;
    }
    if (value > static_cast<uint32_t>(MaxTiles)) {
        error = Error{listName, std::string("the tile count ") + countShown() + " is above " +
                std::to_string(MaxTiles) + ", the most a map holds"};
        return false;
    }
    const int count = static_cast<int>(value);

    // The names, as "%s" reads each; nothing after the last one is looked at.
    std::vector<std::string> names;
    names.reserve(count);
    for (int k = 0; k < count; k++) {
        skipSpace();
        if (p == end) {
            error = Error{listName, std::string("the tile count is ") + std::to_string(count) + " but " +
                    (k == 0 ? std::string("no name follows")
                            : "only " + std::to_string(k) + (k == 1 ? " name follows" : " names follow"))};
            return false;
        }
        const char* const nameStart = p;
        p = tokenEnd(p);
        const size_t length = p - nameStart;
        if (length > static_cast<size_t>(NameSlotSize - 1)) {
            error = Error{listName, std::string("the name of tile ") + std::to_string(k) + ", " +
                    Shown(nameStart, length) + ", has " + std::to_string(length) +
                    " characters; a name holds at most " + std::to_string(NameSlotSize - 1)};
            return false;
        }
        if (std::memchr(nameStart, '\0', length)) {
            // A file name cannot hold a NUL: only the part before it would be used.
            error = Error{listName, std::string("the name of tile ") + std::to_string(k) + ", " +
                    Shown(nameStart, length) + ", holds a NUL byte"};
            return false;
        }
        names.emplace_back(nameStart, length);
    }

    out.Count = count;
    out.Names = std::move(names);
    out.End = static_cast<size_t>(p - text);
    return true;
}

bool ReadTileList(const char* list, TileList& out, Error& error)
{
    std::vector<uint8_t> bytes;
    if (!ReadFileStart(list, MaxListBytes + 1, bytes, error))
        return false;
    const bool whole = bytes.size() <= MaxListBytes;
    if (!whole)
        bytes.resize(MaxListBytes);
    TileList parsed;
    const std::string listName = HostPath(list);
    const bool ok = ParseTileList(reinterpret_cast<const char*>(bytes.data()), bytes.size(), listName, parsed, error);
    // In an overlong file only a list whose last name ends well inside the
    // bytes read is known to be whole.
    if (!whole && (!ok || parsed.End >= bytes.size())) {
        error = Error{listName, std::string("the tile count and names do not end within the first ") +
                std::to_string(MaxListBytes) + " bytes"};
        return false;
    }
    if (!ok)
        return false;
    out = std::move(parsed);
    return true;
}
