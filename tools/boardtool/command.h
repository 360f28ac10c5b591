// boardtool's subcommands: each source file adds one to the command line
// through its Setup function; main.cpp lists them all in one table.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
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
