// The tile list reader on arbitrary text. An accepted list must read exactly
// as the C library's sscanf reads it with "%i" and then "%s" for each name;
// a refused one must leave the result untouched. Then the same bytes go
// through World::NewMap from a file, which must agree with the parser and
// change nothing when it refuses.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fuzz_support.h"
#include "board/tile_list.h"

namespace {

constexpr char ListName[] = "fuzz.lst";

// Reads the list with sscanf and requires the same count, names and end.
void RequireSameAsScanf(const uint8_t* data, size_t size, const TileList& list)
{
    // The parser accepts no NUL before the list's end, so sscanf sees it all.
    const std::string text(reinterpret_cast<const char*>(data), size);
    int count = -1;
    int used = 0;
    Require(std::sscanf(text.c_str(), "%i%n", &count, &used) == 1, "sscanf finds no count in an accepted list");
    Require(count == list.Count, "the count is " + std::to_string(list.Count) + ", sscanf reads " +
                                     std::to_string(count));
    size_t at = static_cast<size_t>(used);
    for (int k = 0; k < count; k++) {
        char name[NameSlotSize + 1];
        Require(std::sscanf(text.c_str() + at, "%128s%n", name, &used) == 1,
                "sscanf finds no name " + std::to_string(k));
        Require(list.Names[k] == name, "name " + std::to_string(k) + " is \"" + list.Names[k] +
                                           "\", sscanf reads \"" + name + "\"");
        at += static_cast<size_t>(used);
    }
    Require(at == list.End, "the list ends at " + std::to_string(list.End) + ", sscanf stops at " +
                                std::to_string(at));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TileList list;
    list.Count = -7;
    list.Names = {"untouched"};
    list.End = 99;
    Error error;
    const bool accepted = ParseTileList(reinterpret_cast<const char*>(data), size, ListName, list, error);
    if (accepted) {
        Require(list.Count >= 0 && list.Count <= MaxTiles, "an accepted count lies outside 0..100");
        Require(list.Names.size() == static_cast<size_t>(list.Count), "the names do not match the count");
        for (const std::string& name : list.Names)
            Require(!name.empty() && name.size() < NameSlotSize, "a name of " + std::to_string(name.size()) +
                                                                      " characters was accepted");
        Require(list.End <= size, "the list ends past its bytes");
        RequireSameAsScanf(data, size, list);
    } else {
        Require(list.Count == -7 && list.Names.size() == 1 && list.Names[0] == "untouched" && list.End == 99,
                "a refused list changed the result");
        Require(error.Message().rfind(std::string(ListName) + ": ", 0) == 0,
                "the message does not start with the list's name: " + error.Message());
    }

    // NewMap reads the same bytes from a file.
    std::FILE* file = std::fopen(ListName, "wb");
    Require(file != nullptr, "cannot write the list file");
    Require(std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0, "cannot write the list file");
    World world;
    MarkWorld(world);
    const WorldCopy before(world);
    const int result = world.NewMap(ListName);
    Require((result == 0) == accepted, "NewMap and the parser disagree: " + world.LastError().Message());
    if (!accepted) {
        Require(world.LastError().Message() == error.Message(), "NewMap says \"" + world.LastError().Message() + "\", the parser \"" + error.Message() + "\"");
        Require(before.Same(world), "a refused list changed the World");
        return 0;
    }
    Require(world.TileCount == list.Count && world.Tiles.size() == static_cast<size_t>(list.Count),
            "NewMap holds a different number of tiles");
    for (int k = 0; k < list.Count; k++) {
        Require(world.Tiles[k] != nullptr, "tile " + std::to_string(k) + " has no image");
        Require(list.Names[k] == world.TileNames[k], "tile name " + std::to_string(k) + " differs");
    }
    Require(world.Sky && world.Sky->w == SkyPlaceholderWidth && world.Sky->h == SkyPlaceholderHeight,
            "NewMap made no blank sky of the usual size");
    Require(std::strcmp(world.SkyName, "marked-sky") == 0, "NewMap changed the sky's name");
    return 0;
}
