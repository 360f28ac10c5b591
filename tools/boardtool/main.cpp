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

// Every command, in the order the help lists them.
static const CommandSetup Commands[] = {
    SetupInfo,   SetupCheck,  SetupMap,   SetupRender,      SetupNew,            SetupSet,
    SetupImport, SetupExport, SetupBench, SetupImageFolder, SetupTiledExtension,
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
    for (const CommandSetup setup : Commands) {
        CommandRun run = setup(app);
        commands.emplace_back(app.get_subcommands([](CLI::App*) { return true; }).back(), std::move(run));
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
