// boardtool's subcommands: each source file adds one to the command line and
// registers itself here, so that main() needs no list of them.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

// What a subcommand does once its arguments are parsed, -C has been obeyed
// and Allegro runs without a display. Returns the exit status.
using CommandRun = std::function<int()>;

// Adds a subcommand to `app` and returns what runs it.
using CommandSetup = CommandRun (*)(CLI::App& app);

// Registers a subcommand; `order` places it in the help listing.
bool RegisterCommand(int order, CommandSetup setup);

// Prints "boardtool: message" to stderr and returns status 1.
int Refuse(const std::string& message);

class World;

// The ground renderer's options of the commands that draw: --level (plain,
// sse2, avx2, avx512; default the best this CPU runs) and --threads (the
// ground is drawn by the calling thread alone: 1).
struct GroundOptions {
    std::string level;
    int threads = 1;
};
void AddGroundOptions(CLI::App* command, GroundOptions& options);
// Sets `world`'s ground renderer as the options say; refuses a level that
// does not exist or that this CPU cannot run, and any other thread count.
int ApplyGroundOptions(const GroundOptions& options, World& world);
