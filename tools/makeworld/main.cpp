// makeworld: writes the default world of groundview (tile images, sky, frame
// picture and board file) into a directory, drawn from code alone. The same
// bytes come out on every run, so data/ can be checked against it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "board/board_file.h"
#include "files/files.h"
#include "makeworld.h"

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

// Adds the picture `path` to the files written together; false, having said
// why, when it cannot be encoded.
static bool Add(BITMAP* image, const std::string& path, std::vector<FileToWrite>& files)
{
    FileToWrite file{path, {}};
    if (!image || !EncodePicture(image, PictureFormat::Bmp, file.Bytes)) {
        Fail(path + ": not written: cannot encode the picture");
        return false;
    }
    files.push_back(std::move(file));
    return true;
}

static void SetName(char (&slot)[NameSlotSize], const std::string& name)
{
    std::memset(slot, 0, NameSlotSize);
    std::strncpy(slot, name.c_str(), NameSlotSize - 1);
}

static int WriteWorld(const std::string& dir)
{
    World world;
    std::vector<FileToWrite> files;
    std::vector<BitmapPtr> tiles;
    for (int kind = 0; kind < TileKindCount; kind++) {
        tiles.push_back(DrawTile(static_cast<TileKind>(kind)));
        const std::string path = dir + "/" + TileKinds[kind].file;
        if (!Add(tiles.back().get(), path, files))
            return 1;
        SetName(world.TileNames[kind], std::string(NamePrefix) + TileKinds[kind].file);
    }
    world.TileCount = TileKindCount;

    BitmapPtr sky = DrawSky();
    if (!Add(sky.get(), dir + "/" + SkyFile, files))
        return 1;
    SetName(world.SkyName, std::string(NamePrefix) + SkyFile);

    world.AnimDelay = SeaDelay;
    world.AnimLastFrame = SeaLastFrame;
    world.ExtraFloat = 0.5f;
    LayOutMap(world);

    BitmapPtr frame = DrawFrame(world, tiles, true);
    if (!Add(frame.get(), dir + "/board.bmp", files))
        return 1;
    // The frame the viewer shows around any other map.
    BitmapPtr general = DrawFrame(world, tiles, false);
    if (!Add(general.get(), dir + "/frame.bmp", files))
        return 1;

    // The world is written as one: every file new, or every file as it was.
    files.push_back({dir + "/test.brd", {}});
    NewBoardFileBytes(world, files.back().Bytes);
    Error error;
    if (!WriteFileSet(files, WriteMode::Replace, error))
        return Fail(error.File + ": not written: " + error.Reason);
    return 0;
}

static int ConvertToPng(const char* in, const char* out)
{
    Error error;
    BitmapPtr image = LoadImage(in, error);
    if (!image)
        return Fail(error.Message());
    if (SameFile(HostPath(in), out))
        return Fail(std::string(out) + ": not written: it is the image being converted");
    // The colours as the viewer would show them, 8 bits a channel.
    if (!WritePicture(out, image.get(), PictureFormat::Png, error))
        return Fail(error.Message());
    return 0;
}

int main(int argc, char** argv)
{
    const bool png = argc == 4 && std::strcmp(argv[1], "--png") == 0;
    if (!png && (argc != 2 || argv[1][0] == '-')) {
        std::fputs(Usage, argc == 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    Error error;
    if (!StartAllegroHeadless(error))
        return Fail("cannot start Allegro: " + error.Reason);
    return png ? ConvertToPng(argv[2], argv[3]) : WriteWorld(argv[1]);
}
