// makeworld: writes the default world of groundview (tile images, sky, frame
// picture and board file) into a directory, drawn from code alone. The same
// bytes come out on every run, so data/ can be checked against it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "makeworld.h"

#include <loadpng.h>  // Required for: save_png(); needs allegro.h first

static const char Usage[] =
    "usage: makeworld DIR           write the default world into DIR (the viewer's data/)\n"
    "       makeworld --png IN OUT  convert the image IN to the PNG file OUT\n";

// The board file names its images as the viewer opens them: relative to the
// directory it runs from, the one that holds data/.
static const char NamePrefix[] = "data\\";
static const char SkyFile[] = "sky.bmp";

// The global animation of the ground outside the map: the sea, in step with
// the water cells inside it.
constexpr int SeaDelay = 5;
constexpr int SeaLastFrame = 3;

static int Fail(const std::string& message)
{
    std::fprintf(stderr, "makeworld: %s\n", message.c_str());
    return 1;
}

static bool Save(BITMAP* image, const std::string& path)
{
    return save_bmp(path.c_str(), image, nullptr) == 0;
}

static void SetName(char (&slot)[NameSlotSize], const std::string& name)
{
    std::memset(slot, 0, NameSlotSize);
    std::strncpy(slot, name.c_str(), NameSlotSize - 1);
}

static int WriteWorld(const std::string& dir)
{
    World world;
    std::vector<BitmapPtr> tiles;
    for (int kind = 0; kind < TileKindCount; kind++) {
        tiles.push_back(DrawTile(static_cast<TileKind>(kind)));
        const std::string path = dir + "/" + TileKinds[kind].file;
        if (!Save(tiles.back().get(), path))
            return Fail("cannot write " + path);
        SetName(world.TileNames[kind], std::string(NamePrefix) + TileKinds[kind].file);
    }
    world.TileCount = TileKindCount;

    BitmapPtr sky = DrawSky();
    if (!Save(sky.get(), dir + "/" + SkyFile))
        return Fail("cannot write " + dir + "/" + SkyFile);
    SetName(world.SkyName, std::string(NamePrefix) + SkyFile);

    world.AnimDelay = SeaDelay;
    world.AnimLastFrame = SeaLastFrame;
    world.ExtraFloat = 0.5f;
    LayOutMap(world);

    BitmapPtr frame = DrawFrame(world, tiles, true);
    if (!Save(frame.get(), dir + "/board.bmp"))
        return Fail("cannot write " + dir + "/board.bmp");
    // The frame the viewer shows around any other map.
    BitmapPtr general = DrawFrame(world, tiles, false);
    if (!Save(general.get(), dir + "/frame.bmp"))
        return Fail("cannot write " + dir + "/frame.bmp");

    // A board file is only ever created new: write it beside the old one,
    // then put it in its place.
    const std::string map = dir + "/test.brd";
    const std::string fresh = map + ".new";
    std::remove(fresh.c_str());
    if (world.CreateMap(fresh.c_str()) != 0)
        return Fail(world.LastError());
    if (std::rename(fresh.c_str(), map.c_str()) != 0)
        return Fail("cannot replace " + map);
    return 0;
}

static int ConvertToPng(const char* in, const char* out)
{
    BitmapPtr image(load_bitmap(in, nullptr));
    if (!image)
        return Fail(std::string("cannot read the image ") + in);
    if (save_png(out, image.get(), nullptr) != 0)
        return Fail(std::string("cannot write ") + out);
    return 0;
}

int main(int argc, char** argv)
{
    const bool png = argc == 4 && std::strcmp(argv[1], "--png") == 0;
    if (!png && (argc != 2 || argv[1][0] == '-')) {
        std::fputs(Usage, argc == 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    std::string error;
    if (!StartAllegroHeadless(error))
        return Fail("cannot start Allegro: " + error);
    return png ? ConvertToPng(argv[2], argv[3]) : WriteWorld(argv[1]);
}
