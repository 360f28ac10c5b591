// boardtool walk-info and walk new: what a walk file holds, and a walk made
// from words instead of a viewer, for scripts and tests without a display.
#include <cmath>
#include <cstdio>
#include <string>

#include "command.h"
#include "core/tables.h"         // Required for: AngleSteps
#include "core/ticks.h"          // Required for: TicksPerSecond
#include "core/view_geometry.h"  // Required for: ViewHeightIndex
#include "render/ground.h"       // Required for: GroundPositionLimit
#include "walk.h"                // Required for: ViewerWalkKeys
#include "walk/walk_file.h"
#include "walk/walk_keys.h"

static_assert(WalkPositionLimit == GroundPositionLimit, "a walk starts where boardtool render draws");

namespace {

struct WalkInfoArguments {
    std::string walk;
};

int WalkInfo(const WalkInfoArguments& args)
{
    Walk walk;
    Error error;
    if (!ReadWalkFile(args.walk.c_str(), walk, error))
        return Refuse(error);
    size_t screenshots = 0, last = 0;
    for (size_t tick = 0; tick < walk.Keys.size(); tick++)
        if (walk.Keys[tick] & WalkScreenshot) {
            screenshots++;
            last = tick;
        }
    std::printf("walk: %s, version %u\n", args.walk.c_str(), unsigned(WalkVersion));
    std::printf("map: %s\n", walk.MapName.empty() ? "(the viewer's default world)" : walk.MapName.c_str());
    std::printf("map sha-256: %s\n", walk.Unbound() ? "none (shown on any map)" : DigestText(walk.Digest).c_str());
    std::printf("start: x %.9g y %.9g heading %d height %d\n", walk.StartX, walk.StartY, walk.StartAngle,
                walk.StartHeight);
    std::printf("ticks: %zu at %u a second (%.2f s)\n", walk.Keys.size(), unsigned(walk.TickRate),
                double(walk.Keys.size()) / walk.TickRate);
    // Tick k's screenshot is frame k of boardtool video.
    if (screenshots > 0)
        std::printf("screenshots: %zu, the last at tick %zu\n", screenshots, last);
    else
        std::printf("screenshots: 0\n");
    std::printf("keys: %s\n", WalkKeysText(walk.Keys).c_str());
    return 0;
}

struct WalkNewArguments {
    std::string out;
    std::string from;
    std::string keys;
    std::string map;
    bool force = false;
};

// "X,Y,HEADING" in the units of boardtool render.
bool ParsePose(const std::string& text, Walk& walk, std::string& error)
{
    float x, y;
    int heading;
    char end;
    if (std::sscanf(text.c_str(), "%f,%f,%d%c", &x, &y, &heading, &end) != 3) {
        error = "--from '" + text + "': give X,Y,HEADING, e.g. 480,480,0";
        return false;
    }
    if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > GroundPositionLimit ||
        std::fabs(y) > GroundPositionLimit) {
        error = "--from '" + text + "': X and Y must be numbers within -1073741824..1073741824";
        return false;
    }
    if (heading < 0 || heading >= AngleSteps) {
        error = "--from '" + text + "': the heading " + std::to_string(heading) + " is outside 0..2879";
        return false;
    }
    walk.StartX = x;
    walk.StartY = y;
    walk.StartAngle = heading;
    return true;
}

int WalkNew(const WalkNewArguments& args)
{
    Walk walk;
    walk.TickRate = TicksPerSecond;
    walk.StartX = StartX;
    walk.StartY = StartY;
    walk.StartAngle = StartAngle;
    walk.StartHeight = ViewHeightIndex;
    std::string reason;
    if (!args.from.empty() && !ParsePose(args.from, walk, reason))
        return Refuse(reason);
    if (!ParseWalkKeys(args.keys, walk.Keys, reason))
        return Refuse("--keys " + reason);
    for (uint8_t held : walk.Keys)
        if (held & ~ViewerWalkKeys)
            return Refuse("--keys: the viewer has no key " + WalkKeysText({uint8_t(held & ~ViewerWalkKeys)}) +
                          " yet; it has right, left, up and f12");
    Error error;
    if (!args.map.empty()) {
        if (!DigestFile(args.map.c_str(), walk.Digest, error))
            return Refuse(error);
        walk.MapName = args.map;
        if (SameFile(args.out, HostPath(args.map.c_str())))
            return Refuse(args.out + ": not written: it is the map " + args.map);
    }
    if (!WriteWalkFile(args.out, walk, args.force ? WriteMode::Replace : WriteMode::CreateOnly, error))
        return Refuse(error);
    return 0;
}

}  // namespace

CommandRun SetupWalkInfo(CLI::App* command)
{
    auto args = std::make_shared<WalkInfoArguments>();
    command->add_option("WALK", args->walk, "the walk file")->required();
    return Runs(WalkInfo, args);
}

CommandRun SetupWalk(CLI::App* command)
{
    command->require_subcommand(1);
    CLI::App* make = command->add_subcommand(
        "new",
        "Make the walk file OUT: the viewer at --from, then the ticks --keys describes. Without\n"
        "--map the walk is bound to no map: the viewer plays it on its default world, and it\n"
        "may be shown on any map.");
    auto args = std::make_shared<WalkNewArguments>();
    make->add_option("OUT", args->out, "the walk file to write; an existing one only with --force")->required();
    make->add_option("--from", args->from,
                     "where the walk starts: X,Y,HEADING as boardtool render takes them (default 480,480,0)")
        ->option_text("X,Y,HEADING");
    make->add_option("--keys", args->keys,
                     "the keys held, tick by tick: words of key names (right, left, up, f12, none)\n"
                     "joined by '+', each held for *N ticks, e.g. \"up*40 left*20 up+left*10 f12\"")
        ->required()
        ->option_text("WORDS");
    make->add_option("--map", args->map, "the map the walk belongs to: its name and SHA-256 go into the walk")
        ->option_text("MAP");
    AddForceFlag(make, args->force);
    return Runs(WalkNew, args);
}
