// boardtool: the command-line companion of groundview, for looking into,
// checking, rendering and making board files.
#include <unistd.h>  // Required for: chdir()

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "command.h"
#include "core/bitmap.h"  // Required for: StartAllegroHeadless()
#include "core/tables.h"  // Required for: BuildTables()

// Every command in the order the help lists them: its name, its help and what
// adds its options.
static const struct {
    const char* name;
    const char* help;
    CommandSetup setup;
} Commands[] = {
    {"info", "Show what a board file holds and the images it names.", SetupInfo},
    {"check",
     "List every problem that would make a board file render wrongly or not "
     "at all; status 1 when there is any.",
     SetupCheck},
    {"map",
     "Draw the whole 64 x 64 map of BOARD from above, +x to the right and +y down,\n"
     "cell (tx, ty) at (32 tx, 32 ty): 2048 x 2048 pixels, each the texel the ground\n"
     "renderer shows at that point after T animation ticks. Written to OUT, a PNG or\n"
     "BMP file as its name ends.",
     SetupMap},
    {"render",
     "Draw the 480 x 180 view of BOARD that the viewer shows at the given position,\n"
     "heading and height after T animation ticks, and write it to OUT, a PNG or BMP\n"
     "file as its name ends. Headings are in 1/8 degree steps: 0 looks along +x,\n"
     "720 along -y (the top of the map), 1440 along -x, 2160 along +y.",
     SetupRender},
    {"new",
     "Make the board file OUT.brd from a tile list (a count, then that many image\n"
     "names), every cell on tile 1. Without --sky a plain sky is written beside it as\n"
     "OUT-sky.bmp. Writes nothing if the list is refused or a file of either name exists.",
     SetupNew},
    {"set",
     "Change fields of the existing board file BOARD in place: everything else in the\n"
     "file stays as it was, and the file is replaced whole or not at all (never through\n"
     "a symbolic link).",
     SetupSet},
    {"import",
     "Make the board file OUT.brd from a Tiled map (.tmx, .tmj or .json). Each tile\n"
     "appearance becomes a PNG strip in --images DIR (default: beside OUT, named after\n"
     "it). Writes nothing if the map is refused or a file exists without --force.",
     SetupImport},
    {"export",
     "Make the Tiled map OUT.tmx (or OUT.tmj for JSON) of BOARD. Tile images Tiled\n"
     "cannot show as the board does are written as PNG beside it.",
     SetupExport},
    {"bench",
     "Draw N frames of BOARD (sky and ground) into a back buffer in memory, as the viewer\n"
     "draws them: frame i at (480, 480), height 14, heading (7 x i) mod 2880. Prints the\n"
     "frames per second and the ground's megapixels per second.",
     SetupBench},
    {"image-folder",
     "Print the folder that the image names of BOARD are relative to: of the board's\n"
     "own folder and those above it, the nearest that holds every image it names\n"
     "(else the most of them).",
     SetupImageFolder},
    {"tiled-extension",
     "Show whether Tiled's extensions folder ($XDG_CONFIG_HOME/tiled/extensions, else\n"
     "~/.config/tiled/extensions) holds the extension that lets Tiled open and save board\n"
     "files through this boardtool; --install puts it there.",
     SetupTiledExtension},
    {"walk-info", "Show what the walk file WALK holds: the map it was made on, where it starts, its ticks and keys.",
     SetupWalkInfo},
    {"walk", "Make walk files without a viewer: 'walk new OUT --keys WORDS'.", SetupWalk},
    {"video",
     "Draw the walk WALK on MAP without a display, one frame per tick as the viewer draws it,\n"
     "and write the video OUT, whose name's extension chooses the format: .mp4 (H.264),\n"
     ".webm (VP9), .gif (one palette for the clip, dithered) or .mkv (lossless FFV1).",
     SetupVideo},
};

int Refuse(const std::string& message)
{
    std::fprintf(stderr, "boardtool: %s\n", message.c_str());
    return 1;
}

int Refuse(const Error& error)
{
    return Refuse(error.Message());
}

// The first word that is neither an option nor -C's directory: the command
// the user meant, or null when there is none.
static const char* CommandWord(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-C") == 0)
            i++;
        else if (argv[i][0] != '-')
            return argv[i];
    }
    return nullptr;
}

int main(int argc, char** argv)
{
    CLI::App app("boardtool: look into, check, render and make groundview board files.\n"
                 "Image names in a board file are relative to the working directory (DIR with -C).");
    app.require_subcommand(1);
    std::string directory;
    app.add_option("-C", directory, "change to DIR before doing anything else")->option_text("DIR");

    std::vector<std::pair<CLI::App*, CommandRun>> commands;
    for (const auto& [name, help, setup] : Commands) {
        CLI::App* command = app.add_subcommand(name, help);
        commands.emplace_back(command, setup(command));
    }

    // CLI11 would take an unknown command for a stray argument and ask for a
    // command; name it instead, with the ones there are.
    std::string names;
    bool known = false;
    const char* word = CommandWord(argc, argv);
    for (const auto& [subcommand, run] : commands) {
        names += (names.empty() ? "" : ", ") + subcommand->get_name();
        known = known || (word && subcommand->get_name() == word);
    }
    if (word && !known) {
        std::fprintf(stderr, "boardtool: unknown command '%s'; the commands are %s\nRun 'boardtool --help' for usage.\n",
                     word, names.c_str());
        return 2;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);
        std::fprintf(stderr, "boardtool: %s\nRun 'boardtool --help' for usage.\n", e.what());
        return 2;
    }

    if (!directory.empty() && chdir(directory.c_str()) != 0)
        return Refuse("cannot change to " + directory + ": " + std::strerror(errno));

    Error error;
    if (!StartAllegroHeadless(error))
        return Refuse("cannot start Allegro: " + error.Reason);
    // The angle tables, as the viewer builds them at start-up: rendering and
    // anything that moves a viewer reads them.
    BuildTables();

    for (auto& [subcommand, run] : commands)
        if (subcommand->parsed())
            return run();
    return 2;
}
