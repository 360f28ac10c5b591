// boardtool's subcommands: each source file adds one to the command line
// through its Setup function; main.cpp lists them all in one table.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "files/error.h"

// What a subcommand does once its arguments are parsed, -C has been obeyed
// and Allegro runs without a display. Returns the exit status.
using CommandRun = std::function<int()>;

// Adds a subcommand to `app` and returns what runs it.
using CommandSetup = CommandRun (*)(CLI::App& app);

CommandRun SetupInfo(CLI::App& app);
CommandRun SetupCheck(CLI::App& app);
CommandRun SetupMap(CLI::App& app);
CommandRun SetupRender(CLI::App& app);
CommandRun SetupNew(CLI::App& app);
CommandRun SetupSet(CLI::App& app);
CommandRun SetupImport(CLI::App& app);
CommandRun SetupExport(CLI::App& app);
CommandRun SetupBench(CLI::App& app);
CommandRun SetupImageFolder(CLI::App& app);
CommandRun SetupTiledExtension(CLI::App& app);

// A subcommand being set up: CLI11's command and the options it parses into,
// which live on for the run that comes after the parse.
template <class Options>
struct NewCommand {
    CLI::App* command;
    std::shared_ptr<Options> options;

    // What runs `run` on the parsed options.
    CommandRun Runs(int (*run)(const Options&)) const
    {
        return [options = options, run] { return run(*options); };
    }
};

// Adds the subcommand `name`, whose arguments fill an Options.
template <class Options>
NewCommand<Options> AddCommand(CLI::App& app, const char* name, const std::string& help)
{
    return {app.add_subcommand(name, help), std::make_shared<Options>()};
}

// The same for a command that reads a board file: its first argument, BOARD,
// goes to Options::board.
template <class Options>
NewCommand<Options> AddBoardCommand(CLI::App& app, const char* name, const std::string& help)
{
    NewCommand<Options> made = AddCommand<Options>(app, name, help);
    made.command->add_option("BOARD", made.options->board, "the board file")->required();
    return made;
}

// The options of a command that takes BOARD alone.
struct BoardArgument {
    std::string board;
};

// --force of the commands that write files which may exist.
void AddForceFlag(CLI::App* command, bool& force);

// The animation of the ground outside the map, as new and set take it.
struct OutsideOptions {
    std::optional<int32_t> delay;
    std::optional<int32_t> last;
};
void AddOutsideOptions(CLI::App* command, OutsideOptions& outside);
// Refuses a delay below 0 or a last frame outside 0..255 (returns status 1);
// 0 when both are fine.
int RefuseOutside(const OutsideOptions& outside);

// Prints "boardtool: message" to stderr and returns status 1.
int Refuse(const std::string& message);
int Refuse(const Error& error);

class GroundRenderer;

// The ground renderer's option of the commands that draw: --level (plain,
// sse2, avx2, avx512; default the best this CPU runs).
struct GroundOptions {
    std::string level;
};
void AddGroundOptions(CLI::App* command, GroundOptions& options);
// Sets `ground` as the options say; refuses a level that does not exist or
// that this CPU cannot run.
int ApplyGroundOptions(const GroundOptions& options, GroundRenderer& ground);
