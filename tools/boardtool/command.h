// boardtool's subcommands: main.cpp's table names each one, with its help,
// and each source file adds its options through its Setup function.
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

// Adds the options of the subcommand `command` and returns what runs it.
using CommandSetup = CommandRun (*)(CLI::App* command);

CommandRun SetupInfo(CLI::App* command);
CommandRun SetupCheck(CLI::App* command);
CommandRun SetupMap(CLI::App* command);
CommandRun SetupRender(CLI::App* command);
CommandRun SetupNew(CLI::App* command);
CommandRun SetupSet(CLI::App* command);
CommandRun SetupImport(CLI::App* command);
CommandRun SetupExport(CLI::App* command);
CommandRun SetupBench(CLI::App* command);
CommandRun SetupImageFolder(CLI::App* command);
CommandRun SetupTiledExtension(CLI::App* command);
CommandRun SetupWalkInfo(CLI::App* command);
CommandRun SetupWalk(CLI::App* command);
CommandRun SetupVideo(CLI::App* command);

// The options of a command that reads a board file, made to live on after
// Setup for the run: its first argument, BOARD, goes to Options::board.
template <class Options>
std::shared_ptr<Options> BoardOptions(CLI::App* command)
{
    auto options = std::make_shared<Options>();
    command->add_option("BOARD", options->board, "the board file")->required();
    return options;
}

// What runs `run` on the parsed options.
template <class Options>
CommandRun Runs(int (*run)(const Options&), std::shared_ptr<Options> options)
{
    return [options = std::move(options), run] { return run(*options); };
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
