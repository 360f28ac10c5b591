// boardtool new: a new board file made from a tile list, every cell on tile
// 1 and still, the ground outside the map animated as asked (still unless
// asked), with the name of a sky image: the one given, or a plain sky written
// beside the board file.
#include <cstdio>
#include <cstring>
#include <memory>

#include "board/board_file.h"
#include "command.h"
#include "core/world.h"
#include "files/files.h"

namespace {

struct NewOptions {
    std::string list;
    std::string out;
    std::string sky;
    OutsideOptions outside;  // still unless asked
};

// The plain sky's name: the board file's, its extension replaced.
std::string PlainSkyName(const std::string& board)
{
    const size_t dot = board.find_last_of("./\\");
    const std::string stem = dot != std::string::npos && board[dot] == '.' ? board.substr(0, dot) : board;
    return stem + "-sky.bmp";
}

// A sky without any mark: deep blue at the top, paler down to the horizon,
// the same in every column so that it joins without a seam.
BitmapPtr DrawPlainSky()
{
    BitmapPtr sky(create_bitmap(SkyPlaceholderWidth, SkyPlaceholderHeight));
    if (!sky)
        return sky;
    for (int y = 0; y < SkyPlaceholderHeight; y++) {
        const int t = y * 255 / (SkyPlaceholderHeight - 1);
        hline(sky.get(), 0, y, SkyPlaceholderWidth - 1,
              makecol(40 + t * 150 / 255, 80 + t * 130 / 255, 170 + t * 70 / 255));
    }
    return sky;
}

int RunNew(const NewOptions& options)
{
    if (options.sky.size() > static_cast<size_t>(NameSlotSize - 1))
        return Refuse("--sky: a sky name has at most " + std::to_string(NameSlotSize - 1) +
                      " characters, this one " + std::to_string(options.sky.size()));
    if (const int refused = RefuseOutside(options.outside))
        return refused;
    const std::string sky = options.sky.empty() ? PlainSkyName(options.out) : options.sky;
    if (sky.size() > static_cast<size_t>(NameSlotSize - 1))
        return Refuse(sky + ": a sky name has at most " + std::to_string(NameSlotSize - 1) +
                      " characters; give one with --sky");

    // A fresh World holds zeros wherever NewMap leaves a field alone, so the
    // file holds no stray values.
    World world;
    if (world.NewMap(options.list.c_str()) != 0)
        return Refuse(world.LastError());
    if (world.TileCount < 2)
        return Refuse(options.list + ": " + std::to_string(world.TileCount) + " tile" +
                      (world.TileCount == 1 ? "" : "s") +
                      "; a new map shows tile 1 in every cell and tile 0 around it, so it needs at least 2");
    std::memset(world.SkyName, 0, NameSlotSize);
    std::memcpy(world.SkyName, sky.data(), sky.size());
    world.AnimDelay = options.outside.delay.value_or(0);
    world.AnimLastFrame = options.outside.last.value_or(0);

    // The board and its plain sky are created as one: both or neither.
    std::vector<FileToWrite> files = {{HostPath(options.out.c_str()), {}}};
    Error error;
    if (!CheckWritable(world, error))
        return Refuse(Error{files[0].Path, "not created: " + error.Reason});
    NewBoardFileBytes(world, files[0].Bytes);
    if (options.sky.empty()) {
        files.push_back({HostPath(sky.c_str()), {}});
        BitmapPtr plain = DrawPlainSky();
        if (!plain || !EncodePicture(plain.get(), PictureFormat::Bmp, files.back().Bytes))
            return Refuse(sky + ": not created: cannot draw the plain sky");
    }
    if (!WriteFileSet(files, WriteMode::CreateOnly, error))
        return Refuse(Error{error.File, "not created: " + error.Reason});

    std::printf("%s: new map of %d tile%s, every cell on tile 1, sky %s%s\n", options.out.c_str(),
                world.TileCount, world.TileCount == 1 ? "" : "s", sky.c_str(),
                options.sky.empty() ? " (a plain sky, written now)" : "");
    return 0;
}

}  // namespace

CommandRun SetupNew(CLI::App* command)
{
    const auto args = std::make_shared<NewOptions>();
    command->add_option("TILELIST", args->list, "the tile list")->required();
    command->add_option("OUT.brd", args->out, "the board file to create")->required();
    command->add_option("--sky", args->sky, "sky image name to store (not loaded)")->option_text("NAME");
    AddOutsideOptions(command, args->outside);
    return Runs(RunNew, args);
}
